// ShowModal: the modal loop, its result, the close protocol inside it, the
// other windows disabled meanwhile, synchronous calls served.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "Forms.h"
#include "StdCtrls.h"
#include "Thread.h"

namespace {

struct ModalProbe {
  TForm* other = nullptr;
  bool otherEnabledDuring = true;
  int clicks = 0, queries = 0, closes = 0, exceptions = 0, destroyed = 0;
  bool refuseFirst = false;
  bool throwOnce = false;
  TCloseAction action = caHide;
  std::string lastError;

  void Click(TObject*) {
    ++clicks;
    if (other) otherEnabledDuring = IsWindowEnabled(other->WindowHandle()) != 0;
    if (throwOnce) {
      throwOnce = false;
      throw EConvertError("click failed");
    }
  }
  void CloseQuery(TObject*, bool& canClose) {
    ++queries;
    if (refuseFirst && queries == 1) canClose = false;
  }
  void Close(TObject*, TCloseAction& a) {
    ++closes;
    a = action;
  }
  void Destroyed(TObject*) { ++destroyed; }
  void OnException(TObject*, const Exception& e) {
    ++exceptions;
    lastError = e.Message;
  }
};

class ShowModalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    Application->OnException = TExceptionEvent::Bind<&ModalProbe::OnException>(&probe);
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetCaption("Modal");
    form->OnCloseQuery = TCloseQueryEvent::Bind<&ModalProbe::CloseQuery>(&probe);
    form->OnClose = TCloseEvent::Bind<&ModalProbe::Close>(&probe);
    form->OnDestroy = TNotifyEvent::Bind<&ModalProbe::Destroyed>(&probe);
    ok = New<TButton>(form);
    ok->SetParent(form);
    ok->SetCaption("OK");
    ok->SetModalResult(mrOk);
    ok->OnClick = TNotifyEvent::Bind<&ModalProbe::Click>(&probe);
    plain = New<TButton>(form);
    plain->SetParent(form);
    plain->SetLeft(80);
    plain->SetCaption("Plain");
    plain->OnClick = TNotifyEvent::Bind<&ModalProbe::Click>(&probe);
    form->HandleNeeded();  // the buttons' windows exist, so messages can be posted to them
  }
  void TearDown() override {
    if (probe.destroyed == 0) form->Free();
    Application->OnException = nullptr;
  }
  ModalProbe probe;
  TForm* form = nullptr;
  TButton* ok = nullptr;
  TButton* plain = nullptr;
};

TEST_F(ShowModalTest, AButtonsModalResultEndsItAndOtherWindowsAreDisabledMeanwhile) {
  TOwned<TForm> other(TCustomForm::CreateNew<TForm>(Application));
  other->Show();
  probe.other = other.get();
  PostMessageA(plain->WindowHandle(), BM_CLICK, 0, 0);  // a button without a result leaves it running
  PostMessageA(ok->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(probe.clicks, 2);
  EXPECT_FALSE(probe.otherEnabledDuring);
  EXPECT_TRUE(IsWindowEnabled(other->WindowHandle()));
  EXPECT_FALSE(form->GetVisible());
  EXPECT_FALSE(IsWindowVisible(form->WindowHandle()));
  EXPECT_FALSE(form->FormState.Contains(fsModal));
  EXPECT_EQ(probe.queries, 1);
  EXPECT_EQ(probe.closes, 1);
  // It can run again.
  PostMessageA(ok->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->ShowModal(), mrOk);
}

TEST_F(ShowModalTest, ClosingGivesCancelAndTheCloseProtocolCanRefuse) {
  probe.refuseFirst = true;
  PostMessageA(form->WindowHandle(), WM_CLOSE, 0, 0);  // refused: the form stays
  PostMessageA(plain->WindowHandle(), BM_CLICK, 0, 0);
  PostMessageA(form->WindowHandle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(form->ShowModal(), mrCancel);
  EXPECT_EQ(probe.queries, 2);
  EXPECT_EQ(probe.clicks, 1) << "the form kept running after the refusal";
  EXPECT_EQ(probe.closes, 1);
}

TEST_F(ShowModalTest, OnCloseMayFreeTheForm) {
  probe.action = caFree;
  PostMessageA(ok->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->ShowModal(), mrOk);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) Application->DispatchOne(msg);
  EXPECT_EQ(probe.destroyed, 1);
}

TEST_F(ShowModalTest, AnExceptionInAHandlerIsHandledAndTheLoopGoesOn) {
  probe.throwOnce = true;
  PostMessageA(plain->WindowHandle(), BM_CLICK, 0, 0);
  PostMessageA(ok->WindowHandle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_EQ(probe.exceptions, 1);
  EXPECT_EQ(probe.lastError, "click failed");
}

class ResultThread : public TThread {
 public:
  ResultThread(TForm* form) : TThread(false), form_(form) {}
  std::atomic<DWORD> ranOn{0};

 protected:
  void Execute() override {
    Sleep(50);  // the modal loop is idle by now
    Synchronize([this] {
      ranOn = GetCurrentThreadId();
      form_->SetModalResult(42);
    });
  }

 private:
  TForm* form_;
};

TEST_F(ShowModalTest, SynchronousCallsAreServedWhileModal) {
  TOwned<ResultThread> t(New<ResultThread>(form));
  EXPECT_EQ(form->ShowModal(), 42);
  EXPECT_EQ(t->ranOn.load(), GetCurrentThreadId());
  t->WaitFor();
}

TEST_F(ShowModalTest, AVisibleFormCannotBeMadeModal) {
  form->Show();
  EXPECT_THROW(form->ShowModal(), EInvalidOperation);
  EXPECT_TRUE(form->GetVisible());
  EXPECT_FALSE(form->FormState.Contains(fsModal));
}

}  // namespace
