// MessageDlg: synchronous calls are served while it is open; Help reaches the application.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Dialogs.h"
#include "Modules.h"
#include "ResStrings.h"
#include "SysUtils.h"
#include "Thread.h"
#include "Win32Platform.h"

namespace {

struct HelpSink {
  std::atomic<int> calls{0};
  std::atomic<std::intptr_t> data{0};
  bool OnHelp(std::uint16_t command, std::intptr_t d, bool& callHelp) {
    if (command == HELP_CONTEXT) {
      data = d;
      ++calls;
    }
    callHelp = false;
    return true;
  }
};

struct BoxSearch {
  const char* caption;
  HWND found;
};

BOOL CALLBACK MatchBox(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<BoxSearch*>(p);
  char cls[16] = {}, text[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, text, sizeof text);
  if (std::string(cls) == "#32770" && std::string(text) == s->caption) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND FindMessageBox(DWORD thread, const char* caption) {
  BoxSearch s{caption, nullptr};
  EnumThreadWindows(thread, &MatchBox, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

TEST(DialogsTest, SynchronousCallsAreServedAndHelpReachesTheApplication) {
  InitForms();
  HelpSink sink;
  Application->OnHelp = THelpEvent::Bind<&HelpSink::OnHelp>(&sink);
  const DWORD mainThread = GetCurrentThreadId();
  std::atomic<bool> served{false}, servedOnMain{false}, found{false};
  std::thread worker([&] {
    HWND box = nullptr;
    for (int i = 0; i < 500 && !box; ++i) {
      box = FindMessageBox(mainThread, "Information");
      if (!box) Sleep(10);
    }
    if (!box) return;
    found = true;
    TThread::Synchronize(nullptr, [&] {
      served = true;
      servedOnMain = GetCurrentThreadId() == mainThread;
    });
    if (HWND help = GetDlgItem(box, IDHELP)) SendMessageA(help, BM_CLICK, 0, 0);
    for (int i = 0; i < 200 && sink.calls == 0; ++i) Sleep(10);
    SendMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  });
  const int result = MessageDlg("Phone found", mtInformation, {mbOK, mbHelp}, 4711);
  worker.join();
  Application->OnHelp = nullptr;
  EXPECT_TRUE(found.load());
  EXPECT_TRUE(served.load());
  EXPECT_TRUE(servedOnMain.load());
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(sink.calls.load(), 1);
  EXPECT_EQ(sink.data.load(), 4711);
}

TEST(DialogsTest, ButtonsAndCaptions) {
  InitForms();
  std::thread worker([] {
    HWND box = nullptr;
    for (int i = 0; i < 500 && !box; ++i) {
      box = FindMessageBox(MainThreadID(), "Confirm");
      if (!box) Sleep(10);
    }
    if (box) SendMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(MessageDlg("Close the wizard?", mtConfirmation, {mbYes, mbNo}, 0), mrNo);
  worker.join();
  EXPECT_EQ(MessageDlgCaption(mtError), "Error");
}

// The first message box of a thread, whatever its caption.
BOOL CALLBACK FirstBox(HWND w, LPARAM p) {
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, static_cast<int>(std::size(cls)));
  if (lstrcmpW(cls, L"#32770") != 0) return TRUE;
  *reinterpret_cast<HWND*>(p) = w;
  return FALSE;
}

std::u16string WideText(HWND wnd) {
  wchar_t buffer[256] = {};
  const int n = GetWindowTextW(wnd, buffer, static_cast<int>(std::size(buffer)));
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n > 0 ? n : 0));
}

// The captions are resource strings: a language library's strings give them,
// and the box shows them and its text as they are, whatever the system's code page.
TEST(DialogsTest, TheCaptionIsTheResourceInstancesAndTheTextGoesWide) {
  InitForms();
  ResourceSource* system = GetResourceSource();
  MemoryResourceSource language;
  std::u16string block[16];
  block[SMsgDlgConfirm.id % 16] = u"Подтверждение";
  block[SMsgDlgError.id % 16] = u"Erreur";
  language.Add(MainInstance(), rtString, StringBlockId(SMsgDlgConfirm.id), MakeStringBlock(block, 16));
  SetResourceSource(&language);
  std::u16string caption, text;
  std::thread worker([&] {
    HWND box = nullptr;
    // Bounded, so a box that never shows fails the test instead of hanging it.
    for (int i = 0; i < 3000 && !box; ++i) {
      EnumThreadWindows(MainThreadID(), &FirstBox, reinterpret_cast<LPARAM>(&box));
      if (!box) Sleep(10);
    }
    if (!box) return;
    caption = WideText(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t cls[16] = {};
      GetClassNameW(child, cls, static_cast<int>(std::size(cls)));
      if (lstrcmpiW(cls, L"Static") == 0 && !WideText(child).empty()) text = WideText(child);  // the icon has none
    }
    SendMessageW(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
  });
  const int result = MessageDlgW(u"Закрыть мастер? Ça va.", mtConfirmation, {mbYes, mbNo}, 0);
  worker.join();
  EXPECT_EQ(MessageDlgCaptionW(mtError), u"Erreur");
  EXPECT_EQ(MessageDlgCaptionW(mtWarning), u"Warning");  // the language lacks it: the native text
  SetResourceSource(system);
  EXPECT_EQ(result, mrNo);
  EXPECT_EQ(caption, u"Подтверждение");
  EXPECT_EQ(text, u"Закрыть мастер? Ça va.");
  EXPECT_EQ(MessageDlgCaptionW(mtConfirmation), u"Confirm");
}

// The 9x line has no wide message box: the texts go in the system's code page
// through the ANSI one, and the Help button's routing works on it too.
TEST(DialogsTest, The9xLineGetsTheANSIBox) {
  InitForms();
  HelpSink sink;
  Application->OnHelp = THelpEvent::Bind<&HelpSink::OnHelp>(&sink);
  const int platform = Win32Platform;
  Win32Platform = VER_PLATFORM_WIN32_WINDOWS;
  std::string text;
  std::thread worker([&] {
    HWND box = nullptr;
    for (int i = 0; i < 3000 && !box; ++i) {
      EnumThreadWindows(MainThreadID(), &FirstBox, reinterpret_cast<LPARAM>(&box));
      if (!box) Sleep(10);
    }
    if (!box) return;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      char cls[16] = {}, t[128] = {};
      GetClassNameA(child, cls, sizeof cls);
      GetWindowTextA(child, t, sizeof t);
      if (lstrcmpiA(cls, "Static") == 0 && t[0]) text = t;
    }
    if (HWND help = GetDlgItem(box, IDHELP)) SendMessageA(help, BM_CLICK, 0, 0);
    for (int i = 0; i < 3000 && sink.calls == 0; ++i) Sleep(10);
    SendMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
  });
  const int result = MessageDlgW(u"Caf\u00E9 closed?", mtConfirmation, {mbYes, mbNo, mbHelp}, 77);
  worker.join();
  Win32Platform = platform;
  Application->OnHelp = nullptr;
  EXPECT_EQ(result, mrNo);
  EXPECT_EQ(text, WideToCodePage(CP_ACP, u"Caf\u00E9 closed?"));
  EXPECT_EQ(sink.calls.load(), 1);
  EXPECT_EQ(sink.data.load(), 77);
}

}  // namespace
