// A real form read from its form resource is re-translated in place: window
// texts, font charsets, the screen's fonts, scaling to the screen's
// PixelsPerInch and the right-to-left window style.
#include <gtest/gtest.h>

#include "ExtCtrls.h"
#include "Forms.h"
#include "JLocales.h"
#include "LiveForms.h"
#include "ScreenFormsHost.h"
#include "StdCtrls.h"
#include "WinLocaleServices.h"

namespace {

class TTranslatedForm : public TForm {
  FW_CLASS(TTranslatedForm, TForm)
 public:
  explicit TTranslatedForm(TComponent* owner) : TForm(owner) {}
  TPanel* Panel1 = nullptr;
  TLabel* Label1 = nullptr;
  TRadioGroup* rgType = nullptr;
  TButton* OkButton = nullptr;
  TButton* CancelButton = nullptr;
};

}  // namespace

FW_BEGIN_CLASS(TTranslatedForm)
  FW_FIELD(Panel1)
  FW_FIELD(Label1)
  FW_FIELD(rgType)
  FW_FIELD(OkButton)
  FW_FIELD(CancelButton)
FW_END_CLASS

namespace {

constexpr std::uint16_t kGerman = 0x0407, kRussian = 0x0419, kHebrew = 0x040D;

struct Texts {
  std::uint16_t locale;
  std::u16string caption, panel, label, items, ok, cancel;
};
const Texts kGermanTexts{kGerman,     u"Einstellungen", u"Modell", u"Kabeltyp:", u"Datenkabel\r\nInfrarot\r\nBluetooth",
                         u"Weiter >", u"Abbrechen"};
const Texts kRussianTexts{kRussian,   u"Настройки", u"Модель", u"Тип кабеля:", u"Кабель\r\nИК-порт\r\nBluetooth",
                          u"Далее >", u"Отмена"};

// A store with the form's native texts and one translation.
TLangResource* MakeStore(const Texts& t) {
  TLangResource* store = New<TLangResource>();
  store->SetNativeLocale(9);
  TLResFormItem* form = store->Forms()->FindOrAdd("TranslatedForm");
  struct Entry {
    const char* component;
    const char* property;
    std::u16string native, translated;
  };
  const Entry entries[] = {{"", "Caption", u"Settings", t.caption},
                           {"Panel1", "Caption", u"Model", t.panel},
                           {"Label1", "Caption", u"Cable type:", t.label},
                           {"rgType", "Items.Strings", u"Data cable\r\nInfrared\r\nBluetooth", t.items},
                           {"OkButton", "Caption", u"Next >", t.ok},
                           {"CancelButton", "Caption", u"Cancel", t.cancel}};
  std::int32_t id = 0;
  for (const Entry& e : entries) {
    TLResPropertyItem* item = form->AddProperty(e.component, ++id, e.property, lvkWideString);
    item->GetNativeValue()->SetWideText(e.native);
    item->GetNativeValue()->SetStamp(1);
  }
  int column = store->AddLanguage(0, t.locale);
  id = 0;
  for (const Entry& e : entries) {
    TLResPropertyItem* item = store->FindPropertyByID(++id);
    item->GetValue(column)->SetWideText(e.translated);
    item->GetValue(column)->SetStamp(1);
  }
  store->CurrentLanguage = column;
  return store;
}

std::u16string WindowTextW(HWND wnd) {
  wchar_t buffer[256] = {};
  int n = GetWindowTextW(wnd, buffer, 256);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n));
}
std::string WindowTextA(HWND wnd) {
  char buffer[256] = {};
  int n = GetWindowTextA(wnd, buffer, 256);
  return std::string(buffer, static_cast<std::size_t>(n));
}

class LiveFormsWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallWinLocaleServices();
    InitForms();
    form_.reset(New<TTranslatedForm>(Application));
    form_->HandleNeeded();
    tr_.Host = &ScreenForms();
  }
  void Switch(const Texts& t) {
    store_.reset(MakeStore(t));
    tr_.CurrentLocale = t.locale;
    tr_.ApplyScreenCharset();
    tr_.RetranslateForms(store_.get());
    tr_.RetranslateDataModules(store_.get());
  }
  // A window holds the text itself: its control's ANSI text is in the code
  // page of the locale's charset, which the font carries, and the window is
  // given it widened through that code page, whatever the system's is. The
  // control's ANSI text stays those bytes.
  void ExpectTexts(const Texts& t) {
    SCOPED_TRACE(t.locale);
    EXPECT_EQ(WindowTextW(form_->OkButton->Handle()), t.ok);
    EXPECT_EQ(WindowTextW(form_->CancelButton->Handle()), t.cancel);
    EXPECT_EQ(WindowTextW(form_->Handle()), t.caption);
    EXPECT_EQ(form_->OkButton->GetCaption(), WideToAnsiForLocale(t.ok, t.locale));
    EXPECT_EQ(form_->GetCaption(), WideToAnsiForLocale(t.caption, t.locale));
    EXPECT_EQ(form_->Label1->GetCaption(), WideToAnsiForLocale(t.label, t.locale));
    ASSERT_EQ(form_->rgType->ButtonCount(), 3);
    std::u16string items = t.items;
    std::u16string first = items.substr(0, items.find(u'\r'));
    EXPECT_EQ(WindowTextW(form_->rgType->Buttons(0)->Handle()), first);
    EXPECT_EQ(WindowTextA(form_->rgType->Buttons(2)->Handle()), "Bluetooth");
  }

  TOwned<TTranslatedForm> form_;
  TOwned<TLangResource> store_;
  TLiveTranslator tr_;
};

TEST_F(LiveFormsWinTest, GermanThenRussianTextsAndCharsets) {
  ASSERT_TRUE(form_->OkButton && form_->rgType && form_->Panel1);
  ASSERT_EQ(GetACP(), 1252u);  // the Western system the Russian texts are checked on
  Switch(kGermanTexts);
  ExpectTexts(kGermanTexts);
  EXPECT_EQ(WindowTextW(form_->OkButton->Handle()), u"Weiter >");
  EXPECT_EQ(form_->OkButton->GetFont()->GetCharset(), ANSI_CHARSET);
  EXPECT_EQ(Screen->HintFont()->GetCharset(), ANSI_CHARSET);

  Switch(kRussianTexts);
  ExpectTexts(kRussianTexts);
  for (TControl* c : std::initializer_list<TControl*>{form_->Panel1, form_->Label1, form_->rgType, form_->OkButton,
                                                      form_->CancelButton})
    EXPECT_EQ(c->GetFont()->GetCharset(), RUSSIAN_CHARSET) << c->Name();
  EXPECT_EQ(form_->rgType->Buttons(0)->GetFont()->GetCharset(), RUSSIAN_CHARSET);  // follows its group
  for (TFont* f : {Screen->IconFont(), Screen->HintFont(), Screen->MenuFont()})
    EXPECT_EQ(f->GetCharset(), RUSSIAN_CHARSET);
  LOGFONTA log{};
  ASSERT_NE(GetObjectA(form_->OkButton->GetFont()->Handle(), sizeof(log), &log), 0);
  EXPECT_EQ(log.lfCharSet, RUSSIAN_CHARSET);
}

TEST_F(LiveFormsWinTest, ScreenFontsKeepTheirCharsetWhenNotAsked) {
  tr_.ApplyCharset = false;
  const TFontCharset before = Screen->MenuFont()->GetCharset();
  Switch(kRussianTexts);
  EXPECT_EQ(Screen->MenuFont()->GetCharset(), before);
  EXPECT_EQ(form_->OkButton->GetFont()->GetCharset(), DEFAULT_CHARSET);
}

TEST_F(LiveFormsWinTest, FormMadeAtAnotherPixelsPerInchIsScaledOnceAndKeepsItsPosition) {
  const int screen = Screen->PixelsPerInch();
  form_->SetPixelsPerInch(screen * 5 / 4);
  const RECT bounds = form_->BoundsRect();
  const int clientWidth = form_->ClientWidth(), clientHeight = form_->ClientHeight();
  const RECT button = form_->OkButton->BoundsRect();
  const int fontHeight = form_->OkButton->GetFont()->GetHeight();
  Switch(kGermanTexts);
  Switch(kGermanTexts);  // a second switch finds the form at the screen's PixelsPerInch
  EXPECT_EQ(form_->GetPixelsPerInch(), screen);
  EXPECT_EQ(form_->GetLeft(), bounds.left);
  EXPECT_EQ(form_->GetTop(), bounds.top);
  EXPECT_EQ(form_->ClientWidth(), MulDiv(clientWidth, 4, 5));
  EXPECT_EQ(form_->ClientHeight(), MulDiv(clientHeight, 4, 5));
  EXPECT_EQ(form_->OkButton->GetLeft(), MulDiv(button.left, 4, 5));
  EXPECT_EQ(form_->OkButton->GetWidth(), MulDiv(button.right - button.left, 4, 5));
  EXPECT_EQ(form_->OkButton->GetFont()->GetHeight(), MulDiv(fontHeight, 4, 5));
  RECT window;
  GetWindowRect(form_->OkButton->Handle(), &window);
  EXPECT_EQ(window.right - window.left, form_->OkButton->GetWidth());
}

TEST_F(LiveFormsWinTest, HebrewGivesTheRightToLeftStyleAndBackAgain) {
  Texts hebrew = kGermanTexts;
  hebrew.locale = kHebrew;
  tr_.ApplyBiDiMode = true;
  Switch(hebrew);
  EXPECT_EQ(form_->GetBiDiMode(), bdRightToLeft);
  LONG_PTR ex = GetWindowLongPtrA(form_->Handle(), GWL_EXSTYLE);
  EXPECT_TRUE(ex & WS_EX_RTLREADING);
  EXPECT_TRUE(ex & WS_EX_LAYOUTRTL);
  form_->RecreateWnd();
  EXPECT_TRUE(GetWindowLongPtrA(form_->Handle(), GWL_EXSTYLE) & WS_EX_LAYOUTRTL);  // made with it
  Switch(kGermanTexts);
  EXPECT_EQ(form_->GetBiDiMode(), bdLeftToRight);
  EXPECT_FALSE(GetWindowLongPtrA(form_->Handle(), GWL_EXSTYLE) & (WS_EX_RTLREADING | WS_EX_LAYOUTRTL));
}

TEST_F(LiveFormsWinTest, DataModulesAndFramesOfTheScreen) {
  TOwned<TDataModule> module(New<TDataModule>(nullptr));
  ASSERT_EQ(Screen->DataModuleCount(), 1);
  EXPECT_EQ(Screen->DataModules(0), module.get());
  auto* frame = New<TCustomFrame>(form_.get());
  frame->SetParent(form_.get());
  EXPECT_EQ(frame->GetChildOwner(), frame);
  module.reset();
  EXPECT_EQ(Screen->DataModuleCount(), 0);
}

}  // namespace
