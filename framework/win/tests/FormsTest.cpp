// Window procedures, controls, the application and the screen.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ExtCtrls.h"
#include "Forms.h"
#include "PumpingWait.h"
#include "StdCtrls.h"
#include "Thread.h"
#include "Win32Platform.h"

namespace {

struct Recorder {
  int exceptions = 0;
  std::string lastMessage;
  TObject* lastSender = nullptr;
  int clicks = 0;
  bool throwOnClick = false;
  std::uint16_t helpCommand = 0;
  std::intptr_t helpData = 0;

  void OnException(TObject* sender, const Exception& e) {
    ++exceptions;
    lastMessage = e.Message;
    lastSender = sender;
  }
  void Click(TObject*) {
    ++clicks;
    if (throwOnClick) throw EConvertError("click failed");
  }
  bool OnHelp(std::uint16_t command, std::intptr_t data, bool& callHelp) {
    helpCommand = command;
    helpData = data;
    callHelp = false;
    return true;
  }
};

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    Application->OnException = TExceptionEvent::Bind<&Recorder::OnException>(&rec);
    Application->OnHelp = THelpEvent::Bind<&Recorder::OnHelp>(&rec);
  }
  void TearDown() override {
    Application->OnException = nullptr;
    Application->OnHelp = nullptr;
    Screen->SetCursor(crDefault);
  }
  Recorder rec;
};

struct ThunkTarget {
  TMessage seen{};
  bool throwIt = false;
  void Handle(TMessage& msg) {
    seen = msg;
    if (throwIt) throw EInvalidOperation("thunk target failed");
    msg.Result = 42;
  }
};

TEST_F(FormsTest, ObjectInstanceCallsItsMethodAndContainsExceptions) {
  ThunkTarget target;
  WNDPROC proc = MakeObjectInstance(TWndMethod::Bind<&ThunkTarget::Handle>(&target));
  EXPECT_EQ(CallWindowProcA(proc, reinterpret_cast<HWND>(0x1234), WM_APP + 3, 5, 6), 42);
  EXPECT_EQ(target.seen.Msg, static_cast<UINT>(WM_APP + 3));
  EXPECT_EQ(target.seen.WParam, 5u);
  EXPECT_EQ(target.seen.LParam, 6);

  target.throwIt = true;
  EXPECT_EQ(CallWindowProcA(proc, nullptr, WM_APP, 0, 0), 0);
  EXPECT_EQ(rec.exceptions, 1);
  EXPECT_EQ(rec.lastMessage, "thunk target failed");

  // Many instances at once, each reaching its own target.
  std::vector<ThunkTarget> targets(300);
  std::vector<WNDPROC> procs;
  for (auto& t : targets) procs.push_back(MakeObjectInstance(TWndMethod::Bind<&ThunkTarget::Handle>(&t)));
  for (std::size_t i = 0; i < procs.size(); ++i) CallWindowProcA(procs[i], nullptr, WM_APP, i, 0);
  for (std::size_t i = 0; i < targets.size(); ++i) EXPECT_EQ(targets[i].seen.WParam, i);
  for (WNDPROC p : procs) FreeObjectInstance(p);
  FreeObjectInstance(proc);
}

class TProbeForm : public TForm {
  FW_CLASS(TProbeForm, TForm)
 public:
  explicit TProbeForm(TComponent* owner) : TForm(owner) {}
  int appMessages = 0;
  void Dispatch(TMessage& msg) override {
    if (msg.Msg == WM_APP + 7) {
      ++appMessages;
      msg.Result = 99;
      return;
    }
    inherited::Dispatch(msg);
  }
};
FW_IMPLEMENT_CLASS(TProbeForm)

TEST_F(FormsTest, FormWindowIsFoundByHandleAndDispatchesThroughItsClass) {
  const int before = Screen->FormCount();
  auto* form = TCustomForm::CreateNew<TProbeForm>(Application);
  EXPECT_EQ(Screen->FormCount(), before + 1);
  form->SetCaption("Probe");
  form->Show();
  HWND wnd = form->WindowHandle();
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(FindControl(wnd), form);
  EXPECT_EQ(FindControl(ApplicationWindow()), nullptr);
  char text[32] = {};
  GetWindowTextA(wnd, text, sizeof text);
  EXPECT_STREQ(text, "Probe");
  SetWindowTextA(wnd, "Changed");
  EXPECT_EQ(form->GetCaption(), "Changed");
  EXPECT_EQ(SendMessageA(wnd, WM_APP + 7, 0, 0), 99);
  EXPECT_EQ(form->Perform(WM_APP + 7), 99);
  EXPECT_EQ(form->appMessages, 2);
  form->Free();
  EXPECT_EQ(Screen->FormCount(), before);
  EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(FormsTest, AThrowingClickHandlerIsHandledAndTheFormKeepsWorking) {
  TOwned<TForm> form(New<TForm>(Application));
  auto* button = New<TButton>(form.get());
  button->SetParent(form.get());
  button->SetCaption("&Next >");
  button->OnClick = TNotifyEvent::Bind<&Recorder::Click>(&rec);
  form->Show();
  HWND bw = button->WindowHandle();
  ASSERT_NE(bw, nullptr);
  char cls[32] = {}, text[32] = {};
  GetWindowTextA(bw, text, sizeof text);
  EXPECT_STREQ(text, "&Next >");
  GetClassNameA(bw, cls, sizeof cls);
  EXPECT_STREQ(cls, "TButton");

  rec.throwOnClick = true;
  SendMessageA(bw, BM_CLICK, 0, 0);
  EXPECT_EQ(rec.clicks, 1);
  EXPECT_EQ(rec.exceptions, 1);
  EXPECT_EQ(rec.lastMessage, "click failed");

  rec.throwOnClick = false;
  SendMessageA(bw, BM_CLICK, 0, 0);
  EXPECT_EQ(rec.clicks, 2);
  EXPECT_EQ(rec.exceptions, 1);
  EXPECT_TRUE(IsWindow(form->WindowHandle()));
}

TEST_F(FormsTest, EnterAndEscapeReachTheDefaultAndCancelButtons) {
  TOwned<TForm> form(New<TForm>(Application));
  auto* ok = New<TButton>(form.get());
  ok->SetParent(form.get());
  ok->SetDefault(true);
  Recorder okRec, cancelRec;
  ok->OnClick = TNotifyEvent::Bind<&Recorder::Click>(&okRec);
  auto* cancel = New<TButton>(form.get());
  cancel->SetParent(form.get());
  cancel->SetCancel(true);
  cancel->SetLeft(100);
  cancel->OnClick = TNotifyEvent::Bind<&Recorder::Click>(&cancelRec);
  form->Show();
  MSG esc{cancel->WindowHandle(), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
  Application->DispatchOne(esc);
  EXPECT_EQ(cancelRec.clicks, 1);
  EXPECT_EQ(okRec.clicks, 0);
  MSG enter{cancel->WindowHandle(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  SetFocus(form->WindowHandle());
  Application->DispatchOne(enter);
  EXPECT_EQ(okRec.clicks, 1);
}

TEST_F(FormsTest, AltAndTheMarkedLetterClicksTheButton) {
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(Application));
  auto* next = New<TButton>(form.get());
  next->SetParent(form.get());
  next->SetCaption("&Next >");
  auto* back = New<TButton>(form.get());
  back->SetParent(form.get());
  back->SetCaption("< &Back");
  back->SetLeft(100);
  Recorder nextRec, backRec;
  next->OnClick = TNotifyEvent::Bind<&Recorder::Click>(&nextRec);
  back->OnClick = TNotifyEvent::Bind<&Recorder::Click>(&backRec);
  form->Show();
  MSG altN{next->WindowHandle(), WM_SYSCHAR, 'n', 0, 0, {}};
  Application->DispatchOne(altN);
  EXPECT_EQ(nextRec.clicks, 1);
  EXPECT_EQ(backRec.clicks, 0);
  MSG altB{next->WindowHandle(), WM_SYSCHAR, 'B', 0, 0, {}};
  Application->DispatchOne(altB);
  EXPECT_EQ(backRec.clicks, 1);
  EXPECT_TRUE(IsAccel('n', "&Next"));
  EXPECT_FALSE(IsAccel('x', "&Next"));
  EXPECT_FALSE(IsAccel('b', "R&&B"));
}

TEST_F(FormsTest, HelpGoesThroughOnHelpWithTheNearestHelpContext) {
  EXPECT_TRUE(Application->HelpContext(123));
  EXPECT_EQ(rec.helpCommand, HELP_CONTEXT);
  EXPECT_EQ(rec.helpData, 123);

  TOwned<TForm> form(New<TForm>(Application));
  form->SetHelpContext(77);
  auto* button = New<TButton>(form.get());
  button->SetParent(form.get());
  form->Show();
  HELPINFO info = {};
  info.cbSize = sizeof info;
  SendMessageA(button->WindowHandle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(rec.helpData, 77);
  button->SetHelpContext(5);
  SendMessageA(button->WindowHandle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(rec.helpData, 5);
}

TEST_F(FormsTest, ExceptionHandlingSkipsAbortAndGoesThroughTheHookSlot) {
  try {
    Abort();
  } catch (...) {
    Application->HandleException(nullptr);
  }
  EXPECT_EQ(rec.exceptions, 0);
  try {
    throw std::runtime_error("plain");
  } catch (...) {
    Application->HandleException(Application);
  }
  EXPECT_EQ(rec.exceptions, 1);
  EXPECT_EQ(rec.lastMessage, "plain");
  EXPECT_EQ(rec.lastSender, Application);

  static int hooked = 0;
  THandleExceptionProc saved = HandleExceptionHook;
  HandleExceptionHook = [](TApplication*, TObject*, std::exception_ptr) { ++hooked; };
  try {
    throw EConvertError("x");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  HandleExceptionHook = saved;
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(rec.exceptions, 1);

  // An exception escaping a worker thread's entry reaches the application too,
  // on the main thread.
  auto thread = GetThreadApi().Start([](void*) { throw EConvertError("from a thread"); }, nullptr);
  thread->Join();
  EXPECT_TRUE(PumpingWaitUntil(5000, [&] { return rec.exceptions == 2; }));
  EXPECT_EQ(rec.exceptions, 2);
  EXPECT_EQ(rec.lastMessage, "from a thread");
}

TEST_F(FormsTest, TitleAndForcedCursor) {
  Application->SetTitle("Pellory");
  EXPECT_EQ(Application->Title(), "Pellory");
  char cls[32] = {};
  GetClassNameA(Application->Handle(), cls, sizeof cls);
  EXPECT_STREQ(cls, "TApplication");

  TOwned<TForm> form(New<TForm>(Application));
  auto* button = New<TButton>(form.get());
  button->SetParent(form.get());
  form->Show();
  Screen->SetCursor(crHourGlass);
  HWND bw = button->WindowHandle();
  EXPECT_EQ(SendMessageA(bw, WM_SETCURSOR, reinterpret_cast<WPARAM>(bw), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
  EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
  Screen->SetCursor(crDefault);
}

TEST_F(FormsTest, ProcessMessagesOnAWorkerNeverRunsSynchronousCalls) {
  std::atomic<bool> syncRan{false}, ranDuringWorker{false};
  std::thread requester([&] { SynchronizeCall([&] { syncRan = true; }); });
  Sleep(20);
  std::thread worker([&] {
    for (int i = 0; i < 10; ++i) {
      Application->ProcessMessages();
      Sleep(5);
    }
    ranDuringWorker = syncRan.load();
  });
  worker.join();
  EXPECT_FALSE(ranDuringWorker.load());
  for (int i = 0; i < 200 && !syncRan; ++i) {
    Application->ProcessMessages();
    Sleep(5);
  }
  EXPECT_TRUE(syncRan.load());
  requester.join();
}

TEST_F(FormsTest, CloseQueryCanRefuseAndClosingTheMainFormEndsRun) {
  struct Closer {
    bool allow = false;
    int closes = 0;
    void Query(TObject*, bool& canClose) { canClose = allow; }
    void Close(TObject*, TCloseAction&) { ++closes; }
  } closer;
  auto* form = New<TForm>(Application);
  form->OnCloseQuery = TCloseQueryEvent::Bind<&Closer::Query>(&closer);
  form->OnClose = TCloseEvent::Bind<&Closer::Close>(&closer);
  Application->SetMainForm(form);
  form->Show();
  form->Close();
  EXPECT_EQ(closer.closes, 0);
  EXPECT_FALSE(Application->Terminated());
  closer.allow = true;
  PostMessageA(form->WindowHandle(), WM_CLOSE, 0, 0);
  Application->Run();  // returns once the main form has closed
  EXPECT_EQ(closer.closes, 1);
  EXPECT_TRUE(Application->Terminated());
  form->Free();
  EXPECT_EQ(Application->MainForm(), nullptr);
}

}  // namespace

TEST_F(FormsTest, ScreenFontsAndTheHintWindowDrawingWithTheHintFont) {
  for (TFont* font : {Screen->IconFont(), Screen->HintFont(), Screen->MenuFont()}) {
    ASSERT_NE(font, nullptr);
    EXPECT_FALSE(font->GetName().empty());
  }
  TOwned<THintWindow> hint(New<THintWindow>(nullptr));
  EXPECT_EQ(hint->TextFont(), Screen->HintFont());
  const int height = Screen->HintFont()->GetHeight();
  const RECT small = hint->CalcHintRect(400, "Hint text");
  Screen->HintFont()->SetHeight(height * 3);
  const RECT large = hint->CalcHintRect(400, "Hint text");
  Screen->HintFont()->SetHeight(height);
  EXPECT_GT(large.bottom, small.bottom * 2);
}

TEST_F(FormsTest, ScaleByScalesTheTreeAndAFormKeepsItsPosition) {
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(nullptr));
  form->SetBounds(50, 60, 400, 300);
  form->SetClientWidth(380);
  form->SetClientHeight(250);
  form->GetFont()->SetHeight(-15);
  auto* panel = New<TPanel>(form.get());
  panel->SetParent(form.get());
  panel->SetBounds(10, 20, 200, 100);
  auto* own = New<TButton>(form.get());  // a font of its own
  own->SetParent(panel);
  own->SetBounds(5, 10, 80, 25);
  own->GetFont()->SetHeight(-20);
  auto* follower = New<TButton>(form.get());  // the parent's font
  follower->SetParent(panel);
  form->ScaleBy(4, 5);
  EXPECT_EQ(form->GetLeft(), 50);
  EXPECT_EQ(form->GetTop(), 60);
  EXPECT_EQ(form->ClientWidth(), 304);
  EXPECT_EQ(form->ClientHeight(), 200);
  EXPECT_EQ(form->GetFont()->GetHeight(), -12);
  EXPECT_EQ(panel->BoundsRect().left, 8);
  EXPECT_EQ(panel->BoundsRect().top, 16);
  EXPECT_EQ(panel->GetWidth(), 160);
  EXPECT_EQ(own->BoundsRect().left, 4);
  EXPECT_EQ(own->GetWidth(), 64);
  EXPECT_EQ(own->GetFont()->GetHeight(), -16);
  EXPECT_EQ(follower->GetFont()->GetHeight(), -12);
  form->ScaleBy(1, 0);  // no scale: nothing changes
  EXPECT_EQ(panel->GetWidth(), 160);
}

TEST_F(FormsTest, RightToLeftFormWindowStyle) {
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(nullptr));
  EXPECT_EQ(form->GetBiDiMode(), bdLeftToRight);
  const PropInfo* prop = GetPropInfo(form.get(), "BiDiMode");
  ASSERT_NE(prop, nullptr);
  SetOrdProp(form.get(), *prop, bdRightToLeft);  // as form data sets it, before the window exists
  EXPECT_TRUE(GetWindowLongPtrA(form->Handle(), GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
  EXPECT_TRUE(GetWindowLongPtrA(form->Handle(), GWL_EXSTYLE) & WS_EX_RTLREADING);
  form->SetBiDiMode(bdLeftToRight);
  EXPECT_FALSE(GetWindowLongPtrA(form->Handle(), GWL_EXSTYLE) & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING));
}
