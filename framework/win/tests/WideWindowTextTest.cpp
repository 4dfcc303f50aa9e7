// A windowed control whose font's charset names a code page other than the
// system's: its window holds the text widened through that code page, and
// its ANSI text stays the bytes it was given.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "Win32Platform.h"

namespace {

// What the window holds, read without the control's procedure: the text the
// system keeps for it, or, for a system class that keeps its own (an edit
// box), what the class's wide procedure answers.
std::u16string HeldText(HWND wnd, const wchar_t* ownTextClass = nullptr) {
  wchar_t buffer[256] = {};
  int n = 0;
  WNDCLASSW system{};
  if (ownTextClass && GetClassInfoW(nullptr, ownTextClass, &system))
    n = static_cast<int>(
        CallWindowProcW(system.lpfnWndProc, wnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer)));
  else if (!ownTextClass)
    n = InternalGetWindowText(wnd, buffer, static_cast<int>(std::size(buffer)));
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n > 0 ? n : 0));
}

// A charset of a code page other than this system's, a text in it and what it means.
struct TForeignText {
  std::uint8_t charset;
  std::string bytes;
  std::u16string wide;
};

TForeignText Foreign() {
  if (GetACP() == 1251) return {ANSI_CHARSET, "Caf\xE9 cr\xE8me", u"Café crème"};
  return {RUSSIAN_CHARSET, "\xC4\xE0\xEB\xE5\xE5 >", u"Далее >"};
}

using TMakeControl = TWinControl* (*)(TComponent* owner);
template <class T>
TWinControl* Make(TComponent* owner) {
  return New<T>(owner);
}

const struct {
  const char* kind;
  TMakeControl make;
  const wchar_t* ownTextClass;  // the system class that keeps the text itself
} kControls[] = {
    {"button", &Make<TButton>, nullptr},      {"radio button", &Make<TRadioButton>, nullptr},
    {"group box", &Make<TGroupBox>, nullptr}, {"panel", &Make<TPanel>, nullptr},
    {"edit", &Make<TEdit>, L"EDIT"},
};

class WideWindowText : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    form.reset(TCustomForm::CreateNew<TForm>(Application));
    form->SetBounds(0, 0, 300, 200);
  }
  TWinControl* Add(TMakeControl make) {
    TWinControl* control = make(form.get());
    control->SetParent(form.get());
    control->SetBounds(10, 10, 150, 60);
    return control;
  }
  TOwned<TForm> form;
  const TForeignText text = Foreign();
};

TEST_F(WideWindowText, EveryKindOfControlHoldsItsTextInItsCharsetsCodePage) {
  ASSERT_EQ(Win32Platform, VER_PLATFORM_WIN32_NT);
  for (const auto& c : kControls) {
    SCOPED_TRACE(c.kind);
    // Charset and text before the window.
    TWinControl* before = Add(c.make);
    before->GetFont()->SetCharset(text.charset);
    before->SetText(text.bytes);
    EXPECT_EQ(HeldText(before->Handle(), c.ownTextClass), text.wide);
    EXPECT_EQ(before->GetText(), text.bytes);
    // What the system's own drawing asks for: the window's text by the wide
    // message, which reaches the window unconverted.
    wchar_t asked[64] = {};
    const int n = GetWindowTextW(before->WindowHandle(), asked, static_cast<int>(std::size(asked)));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(asked), static_cast<std::size_t>(n > 0 ? n : 0)),
              text.wide);
    EXPECT_EQ(GetWindowTextLengthW(before->WindowHandle()), static_cast<int>(text.wide.size()));

    // The localizer's order: the text while the window has the system's
    // road, then the charset.
    TWinControl* after = Add(c.make);
    after->HandleNeeded();
    after->SetText(text.bytes);
    EXPECT_EQ(HeldText(after->WindowHandle(), c.ownTextClass), CodePageToWide(CP_ACP, text.bytes));
    after->GetFont()->SetCharset(text.charset);
    EXPECT_NE(after->TextCodePage(), 0u);
    EXPECT_EQ(HeldText(after->WindowHandle(), c.ownTextClass), text.wide);
    EXPECT_EQ(after->GetText(), text.bytes);

    // A new text, a new window and the text's length keep the code page.
    after->SetText(text.bytes + "!");
    EXPECT_EQ(HeldText(after->WindowHandle(), c.ownTextClass), text.wide + u"!");
    after->RecreateWnd();
    after->HandleNeeded();
    EXPECT_EQ(HeldText(after->WindowHandle(), c.ownTextClass), text.wide + u"!");
    EXPECT_EQ(after->GetText(), text.bytes + "!");
    EXPECT_EQ(GetWindowTextLengthA(after->WindowHandle()), static_cast<int>(text.bytes.size()) + 1);

    // Back to the system's charset: the same bytes, the system's road.
    after->GetFont()->SetCharset(DEFAULT_CHARSET);
    EXPECT_EQ(after->TextCodePage(), 0u);
    EXPECT_EQ(after->GetText(), text.bytes + "!");
    EXPECT_EQ(HeldText(after->WindowHandle(), c.ownTextClass), CodePageToWide(CP_ACP, text.bytes + "!"));
  }
}

TEST_F(WideWindowText, AChildWithItsParentsFontTakesItsCodePage) {
  form->GetFont()->SetCharset(text.charset);
  auto* button = static_cast<TButton*>(Add(&Make<TButton>));
  ASSERT_TRUE(button->GetParentFont());
  button->SetCaption(text.bytes);
  EXPECT_EQ(HeldText(button->Handle()), text.wide);
  form->SetCaption(text.bytes);
  EXPECT_EQ(HeldText(form->Handle()), text.wide);
}

TEST_F(WideWindowText, TheSystemsOwnCodePageAndThe9xLineKeepTheSystemsRoad) {
  // A charset whose code page is the system's.
  std::uint8_t own = DEFAULT_CHARSET;
  for (std::uint8_t charset : {ANSI_CHARSET, RUSSIAN_CHARSET, EASTEUROPE_CHARSET, GREEK_CHARSET})
    if (CodePageOfCharset(charset) == GetACP()) own = charset;
  auto* button = static_cast<TButton*>(Add(&Make<TButton>));
  button->GetFont()->SetCharset(own);
  button->SetCaption(text.bytes);
  EXPECT_EQ(button->TextCodePage(), 0u);
  EXPECT_EQ(HeldText(button->Handle()), CodePageToWide(CP_ACP, text.bytes));

  // The 9x line: the font's charset picks the glyphs, the text goes as it is.
  const int platform = Win32Platform;
  Win32Platform = VER_PLATFORM_WIN32_WINDOWS;
  auto* old = static_cast<TButton*>(Add(&Make<TButton>));
  old->GetFont()->SetCharset(text.charset);
  old->SetCaption(text.bytes);
  const UINT oldCodePage = old->TextCodePage();
  const std::u16string held = HeldText(old->Handle());
  Win32Platform = platform;
  EXPECT_EQ(oldCodePage, 0u);
  EXPECT_EQ(held, CodePageToWide(CP_ACP, text.bytes));
  EXPECT_EQ(old->GetCaption(), text.bytes);
}

TEST_F(WideWindowText, AShortBufferNeverGetsHalfADoubleByteCharacter) {
  // A double-byte code page that is not the system's.
  const bool japanese = GetACP() != 932;
  const UINT codePage = japanese ? 932 : 936;
  const std::u16string wide = japanese ? u"日本語" : u"中文字";
  ASSERT_TRUE(IsValidCodePage(codePage));
  auto* button = static_cast<TButton*>(Add(&Make<TButton>));
  button->GetFont()->SetCharset(japanese ? SHIFTJIS_CHARSET : GB2312_CHARSET);
  const std::string bytes = WideToCodePage(codePage, wide);
  ASSERT_EQ(bytes.size(), 6u);
  button->SetCaption(bytes);
  EXPECT_EQ(HeldText(button->Handle()), wide);
  const struct {
    WPARAM capacity;
    std::string expected;
  } cases[] = {{1, ""}, {2, ""}, {3, bytes.substr(0, 2)}, {4, bytes.substr(0, 2)}, {6, bytes.substr(0, 4)}, {7, bytes}};
  for (const auto& c : cases) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    const LRESULT n = button->Perform(WM_GETTEXT, c.capacity, reinterpret_cast<LPARAM>(buffer));
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), c.expected) << c.capacity;
    EXPECT_EQ(buffer[n], '\0') << c.capacity;
  }
}

}  // namespace
