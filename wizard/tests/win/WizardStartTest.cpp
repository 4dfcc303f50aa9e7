// The wizard form made the way the program makes it: the units the form
// needs, the application, the program's own language set-up ("Languages"
// beside this test program), then the form, whose creation switches to the
// user's locale and hooks up help. Afterwards the language is switched in
// place, and help requests go through the form's router to a recording HTML
// Help library. The language data are read from the text sources the build
// makes the program's language data from.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Animate.h"
#include "Forms.h"
#include "HTMLabel.h"
#include "JLocales.h"
#include "LangSource.h"
#include "LocOnFly.h"
#include "LocUtils.h"
#include "Main.h"
#include "ModuleResources.h"
#include "Pellory.h"
#include "PhoneFind.h"
#include "QVCtrls.h"
#include "QhrContextMap.h"
#include "QhrHelpRouter.h"
#include "QhrHelpRouterWin.h"
#include "QhrHhApi.h"
#include "QhrHhApiWin.h"
#include "Registry.h"
#include "ResStrings.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "TypeInfo.h"
#include "UcxStdCtrls.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "WidePlatform.h"
#include "Win32WidePlatform.h"
#include "WinLocOnFly.h"
#include "WinLocUtils.h"
#include "WinLocaleServices.h"

namespace {

constexpr std::uint32_t kGerman = 0x0407, kRussian = 0x0419;

std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ExtractFilePath(std::string(path, n < MAX_PATH ? n : 0));
}

std::string ProgramName() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ChangeFileExt(ExtractFileName(std::string(path, n < MAX_PATH ? n : 0)), "");
}

// The fixture help file as Windows names it (drive Z: is the root folder).
std::string FixtureHelpFile() {
  std::string path = "Z:" + std::string(PELLORY_CONNECT_CHM);
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// Boxes of the localizer are counted, not shown.
class TCountingPlatform : public TWinLocOnFlyPlatform {
 public:
  void ShowErrorBox(const std::string& message, const std::string&) override { boxes.push_back(message); }
  std::vector<std::string> boxes;
};

// What the HTML Help library was asked.
struct THelpCall {
  std::string file;
  unsigned command = 0;
  std::uintptr_t data = 0;
  bool operator==(const THelpCall&) const = default;
};
std::vector<THelpCall> g_helpCalls;
int g_fakeLibrary;
const HtmlHelpLibraryApi g_recordingLibrary = {
    [] { return static_cast<void*>(&g_fakeLibrary); }, [](void* library) { return library; }, [](void*) {},
    [](void*, HelpWindow, const char* file, unsigned command, std::uintptr_t data) -> HelpWindow {
      g_helpCalls.push_back({file ? file : "", command, data});
      return 1;
    }};

std::ostream& operator<<(std::ostream& out, const THelpCall& c) {
  return out << "(" << c.file << ", " << c.command << ", " << c.data << ")";
}

// One translated property of the wizard form, as the native source names it.
struct TTranslatedProp {
  std::string component;  // empty: the form itself
  std::string property;   // "Caption", "Items.Strings", "HTMLText.Strings"
  std::u16string german, russian;
};

std::map<std::int32_t, std::u16string> PropTexts(const TLangSource& translation) {
  std::map<std::int32_t, std::u16string> texts;
  for (const TLangSourceText& t : translation.Texts)
    if (t.Kind == "prop") texts[t.ID] = t.Text;
  return texts;
}

// Every property of the form that the language data translate.
std::vector<TTranslatedProp> TranslatedProps() {
  const std::string dir = PELLORY_LANGUAGES_DIR;
  const TLangSource native = LoadLangSource(dir + "/Pellory.ntv.txt");
  const auto german = PropTexts(LoadLangSource(dir + "/Pellory.de.txt"));
  const auto russian = PropTexts(LoadLangSource(dir + "/Pellory.ru.txt"));
  std::vector<TTranslatedProp> props;
  bool inForm = false;
  for (const TLangStatement& st : native.Statements) {
    if (st.Words.empty()) continue;
    if (st.Words[0] == "form" || st.Words[0] == "unit" || st.Words[0] == "group")
      inForm = st.Words[0] == "form" && st.Words.size() > 1 && st.Words[1] == "WizardForm";
    if (!inForm || st.Words[0] != "prop" || st.Words.size() < 3) continue;
    const std::string& path = st.Words[1];
    const std::int32_t id = std::stoi(st.Words[2], nullptr, 0);
    TTranslatedProp p;
    const std::size_t dot = path.find('.');
    if (dot == std::string::npos || path.substr(dot + 1) == "Strings") {
      p.property = path;
    } else {
      p.component = path.substr(0, dot);
      p.property = path.substr(dot + 1);
    }
    p.german = german.count(id) ? german.at(id) : u"<missing>";
    p.russian = russian.count(id) ? russian.at(id) : u"<missing>";
    props.push_back(std::move(p));
  }
  return props;
}

// A list property as the language data give it: its lines joined by CR LF.
std::string JoinedLines(const TStrings* lines) {
  std::string text;
  for (int i = 0; i < lines->Count(); ++i) text += (i ? "\r\n" : "") + lines->Strings(i);
  return text;
}

// Presses buttons of this thread's message box, one after the other, as a user does.
class TBoxPresser {
 public:
  TBoxPresser(std::vector<int> buttons, const std::atomic<int>* progress)
      : thread_([this, buttons, progress, owner = GetCurrentThreadId()] {
          HWND box = nullptr;
          for (int i = 0; i < 1000 && !box; ++i) {
            EnumThreadWindows(owner, &MatchBox, reinterpret_cast<LPARAM>(&box));
            if (!box) Sleep(10);
          }
          if (!box) return;
          found = true;
          for (int button : buttons) {
            const int before = progress->load();
            if (HWND w = GetDlgItem(box, button)) SendMessageA(w, BM_CLICK, 0, 0);
            for (int i = 0; i < 200 && progress->load() == before && button != IDOK; ++i) Sleep(10);
          }
        }) {}
  ~TBoxPresser() { thread_.join(); }
  std::atomic<bool> found{false};

 private:
  static BOOL CALLBACK MatchBox(HWND w, LPARAM p) {
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) != "#32770" || !IsWindowVisible(w)) return TRUE;
    *reinterpret_cast<HWND*>(p) = w;
    return FALSE;
  }
  std::thread thread_;
};

std::atomic<int> g_helpCount{0};
const HtmlHelpLibraryApi g_countingLibrary = {
    g_recordingLibrary.Load, g_recordingLibrary.Find, g_recordingLibrary.Free,
    [](void* entry, HelpWindow caller, const char* file, unsigned command, std::uintptr_t data) -> HelpWindow {
      const HelpWindow w = g_recordingLibrary.Call(entry, caller, file, command, data);
      ++g_helpCount;
      return w;
    }};

// The system's wide calls, with the program's arguments set by the test.
class TArgsWidePlatform : public Win32WidePlatform {
 public:
  std::u16string CommandLine() override {
    return args.empty() ? Win32WidePlatform::CommandLine() : u"Pellory.exe " + args;
  }
  std::u16string args;
};

// The pixels of a picture as 32-bit rows, top-down; empty for no picture.
std::vector<std::uint32_t> PixelsOf(HBITMAP bitmap, int& width, int& height) {
  width = height = 0;
  BITMAP info = {};
  if (!bitmap || GetObjectA(bitmap, sizeof info, &info) != static_cast<int>(sizeof info)) return {};
  width = info.bmWidth;
  height = info.bmHeight;
  BITMAPINFO header = {};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = width;
  header.bmiHeader.biHeight = -height;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  HDC dc = GetDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, height, pixels.data(), &header, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (rows != height) return {};
  for (std::uint32_t& p : pixels) p &= 0xFFFFFF;  // the alpha byte is not part of the picture
  return pixels;
}

class WizardStart : public ::testing::Test {
 protected:
  void SetUp() override {
    // The units the form needs, in the program's order.
    InitForms();
    InstallWinLocaleServices();
    InstallModuleResourceReader();
    InitWinLocUtils();
    InitWinLocOnFly();
    SetLocOnFlyPlatform(&boxes_);
    RegisterHTMLabelClasses();
    RegisterQvCtrlsClasses();
    RegisterAnimateClasses();
    savedWide_ = SetWidePlatform(&widePlatform_);
    savedUnicode_ = IsUnicodePlatform;
    InitUcxSysUtils();
    InitUcxSystem();
    RegisterClasses({&TUcxLabel::StaticClass()});
    InitQhrHhApiWin();
    InitQhrContextMap();
    InitQhrHelpRouter();
    InitQhrHelpRouterWin();
    InitMain();
    savedRegistry_ = GetRegistryBackend();
    SetRegistryBackend(&registry_);
    TFinderSetup setup;
    setup.registry = &registry_;
    PhoneFinder = New<TPhoneFinder>(false, setup);
    Application->OnHelp = nullptr;
    SetWizardMessageDlg(nullptr);
    languages_ = ProgramFolder() + "Languages";
    CreateDirectoryA(languages_.c_str(), nullptr);
    Clean();
  }
  void TearDown() override {
    FreeAndNil(form_);
    PhoneFinder->Shutdown();
    FreeAndNil(PhoneFinder);
    SetRegistryBackend(savedRegistry_);
    DoneQhrHelpRouterWin();
    DoneQhrHhApiWin();
    DoneLocOnFly();
    SetLocOnFlyPlatform(nullptr);
    JLocUtils()->RestoreAllModules();
    DoneUcxSystem();
    IsUnicodePlatform = savedUnicode_;
    SetWidePlatform(savedWide_);
    Clean();
  }
  void Clean() {
    for (const char* language : {".DEU", ".RUS"}) DeleteFileA((languages_ + "\\" + ProgramName() + language).c_str());
    DeleteFileA((ProgramFolder() + "connect.chm").c_str());
  }

  // The program's start-up from the application on: the language set-up,
  // then the form (which switches to the user's locale and hooks up help).
  void Start(bool withHelpFile) {
    if (withHelpFile) {
      ASSERT_TRUE(CopyFileA(FixtureHelpFile().c_str(), (ProgramFolder() + "connect.chm").c_str(), FALSE))
          << FixtureHelpFile();
    }
    Application->Initialize();
    SetUpLanguages();
    ASSERT_TRUE(LocalizerOnFly()->Initialized);
    form_ = New<TWizardForm>(Application);
    form_->Show();
    form_->FormShow(form_);
    EXPECT_TRUE(boxes_.boxes.empty()) << boxes_.boxes.front();
  }

  int Page() const { return form_->NB->GetPageIndex(); }
  void Next() { form_->NextButtonClick(form_->NextButton); }
  void Back() { form_->BackButtonClick(form_->BackButton); }

  TCountingPlatform boxes_;
  TArgsWidePlatform widePlatform_;
  WidePlatform* savedWide_ = nullptr;
  bool savedUnicode_ = false;
  MemoryRegistryBackend registry_;
  RegistryBackend* savedRegistry_ = nullptr;
  std::string languages_;
  TWizardForm* form_ = nullptr;
};

// The form's text of a translated property, narrow (the process's code page).
std::string NarrowText(TWizardForm* form, const TTranslatedProp& p) {
  TComponent* owner = p.component.empty() ? form : form->FindComponent(p.component);
  if (!owner) return "<no component " + p.component + ">";
  const std::size_t dot = p.property.find('.');
  if (dot != std::string::npos) {
    auto* lines = dynamic_cast<TStrings*>(GetObjectProp(owner, p.property.substr(0, dot)));
    return lines ? JoinedLines(lines) : "<no list " + p.property + ">";
  }
  return GetStrProp(owner, p.property);
}

TEST_F(WizardStart, TheSwitchToGermanTranslatesEveryPropertyInPlaceAndKeepsThePictures) {
  Start(false);
  const std::vector<TTranslatedProp> props = TranslatedProps();
  ASSERT_GE(props.size(), 33u);
  // The user's locale under Wine is English, which the data do not carry: the form stays English.
  EXPECT_EQ(form_->BackButton->GetCaption(), "< Back");
  EXPECT_EQ(FindResourceHInstance(MainInstance()), MainInstance());

  LocalizerOnFly()->SwitchToLocale(kGerman);
  EXPECT_NE(GetFileAttributesA((languages_ + "\\" + ProgramName() + ".DEU").c_str()), INVALID_FILE_ATTRIBUTES)
      << "the German library is made in the Languages folder";
  for (const TTranslatedProp& p : props) {
    SCOPED_TRACE(p.component + "." + p.property);
    EXPECT_EQ(NarrowText(form_, p), WideToAnsiForLocale(p.german, kGerman));
  }
  EXPECT_EQ(form_->lblWait->GetWideCaption(), u"Verbindung wird hergestellt... Bitte warten.");
  EXPECT_EQ(LoadStr(SConnectionFailed),
            WideToAnsiForLocale(u"Die Verbindung wurde nicht hergestellt. Klicken Sie auf „Hilfe“, um weitere "
                                u"Informationen zu erhalten.",
                                kGerman));
  // The pictures come from the program's bitmaps, not from the language library.
  EXPECT_EQ(form_->ImageList->Count(), 2);
  ASSERT_NE(form_->AnimatedImage->GetGlyph(), nullptr);
  EXPECT_EQ(form_->AnimatedImage->GetNumGlyphs(), 15);
  EXPECT_EQ(form_->AnimatedImage->GetGlyph()->GetWidth(), 15 * form_->AnimatedImage->FrameWidth());
  EXPECT_GT(form_->AnimatedImage->FrameWidth(), 0);
  EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(WizardStart, TheSwitchToRussianGivesTheTranslatedControlsTheCyrillicCharset) {
  Start(false);
  const std::vector<TTranslatedProp> props = TranslatedProps();
  LocalizerOnFly()->SwitchToLocale(kRussian);
  int checked = 0;
  for (const TTranslatedProp& p : props) {
    TComponent* owner = p.component.empty() ? form_ : form_->FindComponent(p.component);
    ASSERT_NE(owner, nullptr) << p.component;
    if (!IsPublishedProp(owner, "Font")) continue;
    auto* font = dynamic_cast<TFont*>(GetObjectProp(owner, "Font"));
    ASSERT_NE(font, nullptr) << p.component;
    EXPECT_EQ(font->GetCharset(), 204) << p.component;
    ++checked;
  }
  EXPECT_GE(checked, 30);
  for (const TTranslatedProp& p : props) {
    if (p.component == "lblWait") {
      EXPECT_EQ(form_->lblWait->GetWideCaption(), p.russian) << "the wide caption is exact";
    }
  }
  EXPECT_EQ(form_->BackButton->GetCaption(), WideToAnsiForLocale(u"< Назад", kRussian));
  EXPECT_EQ(form_->ImageList->Count(), 2);
  EXPECT_EQ(form_->AnimatedImage->GetNumGlyphs(), 15);
  EXPECT_GT(form_->AnimatedImage->FrameWidth(), 0);
  EXPECT_TRUE(boxes_.boxes.empty());
}

// The page pictures, the phone pictures and the animation's frames that the
// form shows are the program's, whatever a language library holds.
void ExpectTheProgramsPictures(TWizardForm* form) {
  HMODULE pictures = LoadPictureLibrary(ProgramFolder());
  ASSERT_NE(pictures, nullptr);
  for (int page = wpWelcome; page <= wpFinish; ++page) {
    SCOPED_TRACE(page);
    const int n = page <= wpCableType ? page + 1 : page;
    HBITMAP expected = LoadBitmapA(pictures, ("PAGE" + std::to_string(n)).c_str());
    EXPECT_NE(expected, nullptr);
    int width = 0, height = 0, shownWidth = 0, shownHeight = 0;
    const std::vector<std::uint32_t> want = PixelsOf(expected, width, height);
    if (expected) DeleteObject(expected);
    form->NB->SetPageIndex(page);
    TBitmap* shown = form->GetMainImage();
    const std::vector<std::uint32_t> got = PixelsOf(shown->Handle(), shownWidth, shownHeight);
    shown->Free();
    EXPECT_EQ(shownWidth, width);
    EXPECT_EQ(shownHeight, height);
    EXPECT_FALSE(got.empty());
    EXPECT_TRUE(got == want) << "page " << page << " shows another picture";
  }
  FreeLibrary(pictures);

  const HINSTANCE self = GetModuleHandleA(nullptr);
  int width = 0, height = 0, shownWidth = 0, shownHeight = 0;
  HBITMAP strip = LoadBitmapA(self, "WAITGLYPH");
  const std::vector<std::uint32_t> frames = PixelsOf(strip, width, height);
  if (strip) DeleteObject(strip);
  ASSERT_FALSE(frames.empty());
  ASSERT_NE(form->AnimatedImage->GetGlyph(), nullptr);
  EXPECT_EQ(form->AnimatedImage->GetNumGlyphs(), 15);
  EXPECT_TRUE(PixelsOf(form->AnimatedImage->GetGlyph()->Handle(), shownWidth, shownHeight) == frames)
      << "the animation's frames are the program's";
  EXPECT_EQ(shownWidth, width);

  EXPECT_EQ(form->ImageList->Count(), 2);
  HBITMAP phone = LoadBitmapA(self, "PHONE0");
  PixelsOf(phone, width, height);
  if (phone) DeleteObject(phone);
  EXPECT_EQ(form->ImageList->GetWidth(), width);
  EXPECT_EQ(form->ImageList->GetHeight(), height);
}

// The program's own order: the form switches to the language of its argument
// first, and only then loads its pictures.
TEST_F(WizardStart, AStartInGermanShowsTheProgramsPictures) {
  widePlatform_.args = u"1031";
  Start(false);
  ASSERT_EQ(form_->BackButton->GetCaption(), WideToAnsiForLocale(u"< Zurück", kGerman)) << "switched at creation";
  ExpectTheProgramsPictures(form_);
}

TEST_F(WizardStart, AStartInRussianShowsTheProgramsPictures) {
  widePlatform_.args = u"1049";
  Start(false);
  ASSERT_EQ(form_->BackButton->GetCaption(), WideToAnsiForLocale(u"< Назад", kRussian)) << "switched at creation";
  ExpectTheProgramsPictures(form_);
}

// The picture library is read from the folder given, the program's, and from
// nowhere else: a folder without it gives none, although the program's folder,
// the current folder and the library search path all hold one.
TEST(PictureLibrary, IsReadFromTheProgramsFolderOnly) {
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string root = std::string(temp) + "pellory-pictures-" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string empty = root + "empty\\", other = root + "other\\";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA(empty.c_str(), nullptr);
  CreateDirectoryA(other.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA((ProgramFolder() + "tlq_img.dll").c_str(), (other + "tlq_img.dll").c_str(), FALSE));
  char saved[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, saved);
  SetCurrentDirectoryA(other.c_str());
  SetDllDirectoryA(other.c_str());

  EXPECT_EQ(LoadPictureLibrary(empty), nullptr);
  EXPECT_EQ(LoadPictureLibrary(""), nullptr);
  HMODULE library = LoadPictureLibrary(other);
  EXPECT_NE(library, nullptr);
  if (library) {
    HBITMAP page = LoadBitmapA(library, "PAGE1");
    EXPECT_NE(page, nullptr) << "a library mapped as data serves its pictures";
    if (page) DeleteObject(page);
    FreeLibrary(library);
  }

  SetDllDirectoryA(nullptr);
  SetCurrentDirectoryA(saved);
  DeleteFileA((other + "tlq_img.dll").c_str());
  RemoveDirectoryA(other.c_str());
  RemoveDirectoryA(empty.c_str());
  RemoveDirectoryA(root.c_str());
}

// The one-line texts of the form (labels and buttons) that do not fit their
// control: each as "name (text width > room)". A label that sizes itself must
// fit its parent; the mark-up labels wrap and are left out.
std::string CutTexts(TWizardForm* form) {
  std::string cut;
  HDC dc = GetDC(nullptr);
  for (int i = 0; i < form->ComponentCount(); ++i) {
    TComponent* c = form->Components(i);
    auto* control = dynamic_cast<TControl*>(c);
    if (!control || dynamic_cast<THTMLabel*>(c)) continue;
    auto* label = dynamic_cast<TCustomLabel*>(c);
    const bool button = dynamic_cast<TButton*>(c) != nullptr;
    if ((!label && !button) || (label && label->GetWordWrap())) continue;
    auto* font = dynamic_cast<TFont*>(GetObjectProp(c, "Font"));
    if (!font) continue;
    const HGDIOBJ saved = SelectObject(dc, font->Handle());
    SIZE extent = {};
    if (auto* wide = dynamic_cast<TUcxCustomLabel*>(c)) {
      const std::u16string text = wide->GetWideCaption();
      GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), &extent);
    } else {
      const std::string text = GetStrProp(c, "Caption");
      GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    }
    SelectObject(dc, saved);
    int room = control->GetWidth() - (button ? 8 : 0);
    if (label && label->GetAutoSize() && control->Parent()) room = control->Parent()->GetWidth() - control->GetLeft();
    if (extent.cx > room) cut += c->Name() + " (" + std::to_string(extent.cx) + " > " + std::to_string(room) + ") ";
  }
  ReleaseDC(nullptr, dc);
  return cut;
}

// Every one-line text of every page fits its control, in English and in each
// language the program carries.
TEST_F(WizardStart, NoTextIsCutInAnyLanguage) {
  Start(false);
  EXPECT_EQ(CutTexts(form_), "") << "English";
  for (const std::uint32_t locale : {0x0407u, 0x040Cu, 0x0418u, 0x0419u}) {
    LocalizerOnFly()->SwitchToLocale(locale);
    ASSERT_NE(form_->BackButton->GetCaption(), "< Back") << std::hex << locale << " is not switched to";
    EXPECT_EQ(CutTexts(form_), "") << std::hex << locale;
  }
  EXPECT_TRUE(boxes_.boxes.empty());
}

// F1, the Help button, the help link and the failure message's Help reach the
// HTML Help library with connect.chm beside the program and the context of
// the page, in English and in German alike.
TEST_F(WizardStart, HelpReachesTheLibraryWithThePagesContexts) {
  Start(true);
  const std::string helpFile = ProgramFolder() + "connect.chm";
  ASSERT_TRUE(SameText(form_->TLQHelpRouter->Helpfile, helpFile)) << form_->TLQHelpRouter->Helpfile;
  SetHtmlHelpLibraryApi(&g_countingLibrary);
  const auto context = [&](int n) { return THelpCall{helpFile, HhHelpContext, static_cast<std::uintptr_t>(n)}; };
  for (std::uint32_t locale : {0u, kGerman}) {
    SCOPED_TRACE(locale);
    if (locale) LocalizerOnFly()->SwitchToLocale(locale);
    form_->NB->SetPageIndex(0);
    form_->FormShow(form_);
    ASSERT_EQ(Page(), 0);
    g_helpCalls.clear();

    // F1 on the welcome page: the system's WM_HELP to the focused control.
    HELPINFO info = {};
    info.cbSize = sizeof info;
    SendMessageA(form_->NextButton->WindowHandle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    ASSERT_EQ(g_helpCalls.size(), 1u);
    EXPECT_TRUE(SameText(g_helpCalls[0].file, helpFile)) << g_helpCalls[0];
    EXPECT_EQ(ExtractFileName(g_helpCalls[0].file), "connect.chm");
    EXPECT_EQ(g_helpCalls[0].command, 15u);
    EXPECT_EQ(g_helpCalls[0].data, 100u);

    // The cable page with "DAU9P/FBUS": the Help button and "Not sure what type is yours?".
    Next();
    form_->rgConnectionType->SetItemIndex(0);
    Next();
    ASSERT_EQ(Page(), 2);
    form_->rgCableType->SetItemIndex(0);
    form_->HelpButtonClick(form_->HelpButton);
    form_->LabelHelpClick(form_->LabelHelp);
    // Infrared: the connect page's Help.
    Back();
    form_->rgConnectionType->SetItemIndex(1);
    Next();
    ASSERT_EQ(Page(), 3);
    form_->HelpButtonClick(form_->HelpButton);
    // A cable search that ends without a phone: the failure message's Help.
    Back();
    form_->rgConnectionType->SetItemIndex(0);
    Next();
    form_->rgCableType->SetItemIndex(0);
    Next();
    ASSERT_EQ(Page(), 3);
    form_->ConnectButtonClick(form_->ConnectButton);
    {
      TBoxPresser presser({IDHELP, IDOK}, &g_helpCount);
      form_->TimerTimer(form_->Timer);
      EXPECT_TRUE(presser.found.load()) << "the failure message is shown";
    }
    for (THelpCall& c : g_helpCalls) c.file = SameText(c.file, helpFile) ? helpFile : c.file;
    EXPECT_EQ(g_helpCalls,
              (std::vector<THelpCall>{context(100), context(300), context(300), context(400), context(610)}));
  }
  SetHtmlHelpLibraryApi(nullptr);
}

// Without connect.chm beside the program, the form has no help file, and Help
// asks the library nothing and raises nothing.
TEST_F(WizardStart, WithoutTheHelpFileHelpAsksNothing) {
  Start(false);
  EXPECT_EQ(form_->TLQHelpRouter->Helpfile, "");
  SetHtmlHelpLibraryApi(&g_recordingLibrary);
  g_helpCalls.clear();
  EXPECT_NO_THROW(form_->HelpButtonClick(form_->HelpButton));
  HELPINFO info = {};
  info.cbSize = sizeof info;
  SendMessageA(form_->NextButton->WindowHandle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  // What the router may still ask names no file there is: nothing opens.
  for (const THelpCall& c : g_helpCalls) EXPECT_FALSE(FileExists(c.file)) << c;
  SetHtmlHelpLibraryApi(nullptr);
}

}  // namespace
