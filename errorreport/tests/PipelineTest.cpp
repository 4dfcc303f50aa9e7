// The report pipeline's decisions and the events, without a system: the
// sending window's progress, the bug identifier, the choice of a report's
// options, filters, threads and output, the crash-times list, the calling
// order of the events and the parking slot of the faulting thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EEvents.h"
#include "EPipeline.h"

namespace {

// --- Sending progress -------------------------------------------------------------------------------
TEST(SendingProgress, StatusesGiveTheirTextsAndMoveTheBar) {
  struct Case {
    int status, value, counter;
    int text, newCounter, bar;
  };
  const Case cases[] = {
      {0, 0, 40, 114, 0, 5},    {1, 0, 0, 115, 5, 5},     {2, 0, 5, 113, 10, 10},   {3, 0, 10, 118, 15, 15},
      {4, 0, 15, 119, 20, 20},  {5, 0, 20, 120, 25, 25},  {6, 0, 25, 116, 25, 35},  {6, 100, 25, 116, 25, 100},
      {6, 50, 25, 116, 25, 68}, {6, 20, 25, 116, 25, 48}, {7, 0, 25, 117, 25, 100}, {8, 0, 25, 121, 25, 100},
      {9, 0, 25, 122, 25, 100}, {10, 0, 25, -1, 25, -1},  {-1, 0, 25, -1, 25, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("status " + std::to_string(c.status) + " value " + std::to_string(c.value));
    TSendingProgressStep step = SendingProgressFor(c.status, c.value, c.counter);
    EXPECT_EQ(step.TextIndex, c.text);
    EXPECT_EQ(step.Counter, c.newCounter);
    EXPECT_EQ(step.Bar, c.bar);
  }
}

TEST(SendingProgress, TheWindowShowsTheOptionsTextsAndItsBarOnlyMovesForward) {
  TOwned<TVantorModuleOptions> texts(New<TVantorModuleOptions>(""));
  texts->SetCustomText(114, "Connecting with server...");
  texts->SetCustomText(116, "Sending message...");
  texts->SetCustomText(117, "Message sent.");
  TSendingWindowState window;
  ApplySendingProgress(window, *texts, 0, 0);
  EXPECT_EQ(window.Text, "Connecting with server...");
  EXPECT_EQ(window.Bar, 5);
  ApplySendingProgress(window, *texts, 6, 80);
  EXPECT_EQ(window.Text, "Sending message...");
  EXPECT_EQ(window.Bar, 87);
  ApplySendingProgress(window, *texts, 6, 10);  // a smaller value does not move the bar back
  EXPECT_EQ(window.Bar, 87);
  ApplySendingProgress(window, *texts, 7, 0);
  EXPECT_EQ(window.Text, "Message sent.");
  EXPECT_EQ(window.Bar, 100);
  ApplySendingProgress(window, *texts, 42, 0);  // unknown: nothing changes
  EXPECT_EQ(window.Text, "Message sent.");
}

// --- Bug identifier ---------------------------------------------------------------------------------
TVLLocationInfo* Entry(std::uint8_t kind, std::int32_t thread, const char* unit, const char* cls, const char* proc,
                       std::int32_t line) {
  auto* e = new TVLLocationInfo;
  e->Kind = kind;
  e->ThreadId = thread;
  e->UnitName = unit;
  e->ClassName = cls;
  e->ProcedureName = proc;
  e->Line = line;
  return e;
}

TEST(BugIdentifier, IsTheCrc16OfTheTitlesClassAndLinedEntriesOfTheFirstThread) {
  // Reference values from binascii.crc_hqx(text, 0).
  EXPECT_EQ(BugIdentifier(""), "0000");
  EXPECT_EQ(BugIdentifier("123456789"), "31C3");
  EXPECT_EQ(BugIdentifier(BugIdentifierText("Pellory", "Pellory.exe", "EConvertError", nullptr)), "C890");

  TOwned<TVantorStackList> stack(New<TVantorStackList>());
  stack->AddEntry(Entry(4, 7, "Unit1", "TForm1", "Button1Click", 42));
  stack->AddEntry(Entry(3, 7, "Unit1", "TForm1", "Hidden", 0));     // no line: left out
  stack->AddEntry(Entry(4, 9, "Other", "TThread", "Execute", 99));  // another thread: left out
  stack->AddEntry(Entry(4, 7, "Unit1", "TForm1", "FormCreate", 7));
  const std::string text = BugIdentifierText("Pellory", "Pellory.exe", "EAccessViolation", stack.get());
  EXPECT_EQ(text, "PelloryPellory.exeEAccessViolationUnit1TForm1Button1Click42Unit1TForm1FormCreate7");
  EXPECT_EQ(BugIdentifier(text), "35CD");
}

// --- Options choice ---------------------------------------------------------------------------------
TEST(ReportOptions, EntryChosenByAddressThenModuleThenOther) {
  TVantorModuleInfo withDebugA, withDebugM, plainA, plainM, plainO, withDebugO;
  TOwned<TMemoryStream> debug(New<TMemoryStream>());
  withDebugA.DebugData = withDebugM.DebugData = withDebugO.DebugData = debug.get();
  struct Case {
    const char* name;
    TVantorModuleInfo *address, *module, *other;
    bool otherExists;
    TVantorModuleInfo* chosen;
    int progress;
  };
  const Case cases[] = {
      {"address entry with debug data", &withDebugA, &withDebugM, &withDebugO, true, &withDebugA, 101},
      {"address entry without debug data", &plainA, &withDebugM, &withDebugO, true, &withDebugM, 102},
      {"no address entry", nullptr, &withDebugM, &withDebugO, true, &withDebugM, 102},
      {"neither has debug data", &plainA, &plainM, &withDebugO, true, &withDebugO, 103},
      {"no entry at all but the other", nullptr, nullptr, &plainO, true, &plainO, 103},
      {"no other module", &plainA, &plainM, nullptr, false, &plainM, 102},
      {"the other module has no entry", &plainA, &plainM, nullptr, true, &plainM, 103},
      {"only the address entry", &plainA, nullptr, nullptr, false, &plainA, 102},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TOptionsChoice choice = ChooseReportOptionsEntry(c.address, c.module, c.other, c.otherExists);
    EXPECT_EQ(choice.Entry, c.chosen);
    EXPECT_EQ(choice.Progress, c.progress);
  }
  withDebugA.DebugData = withDebugM.DebugData = withDebugO.DebugData = nullptr;
}

// --- Filters ---------------------------------------------------------------------------------------
TEST(ReportFilters, MatchingFilterGivesHandlingDialogTypeAndAfterAction) {
  struct Case {
    std::uint8_t dialogChoice, handlerKind, actionAfter, dialogKind;
    std::uint8_t dialogType, handling;
  };
  const Case cases[] = {
      {0, 2, 0, 3, 0, rhReport},         {1, 2, 0, 3, 3, rhReport}, {1, 2, 0, 0, 0, rhReport},
      {2, 2, 1, 3, 1, rhReport},         {3, 2, 2, 1, 2, rhReport}, {4, 2, 0, 1, 3, rhReport},
      {4, 1, 0, 1, 3, rhProgramHandles}, {4, 0, 0, 1, 3, rhSilent}, {9, 2, 0, 2, 2, rhReport},
      {1, 7, 0, 2, 2, rhReport},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("choice " + std::to_string(c.dialogChoice) + " kind " + std::to_string(c.handlerKind));
    TVantorExceptionFilter filter;
    filter.DialogChoice = c.dialogChoice;
    filter.HandlerKind = c.handlerKind;
    filter.ActionAfter = c.actionAfter;
    TFilterDecision d = ApplyExceptionFilter(&filter, c.dialogKind);
    EXPECT_TRUE(d.Matched);
    EXPECT_EQ(d.DialogType, c.dialogType);
    EXPECT_EQ(d.Handling, c.handling);
    EXPECT_EQ(d.TerminateAction, c.actionAfter);
  }
  TFilterDecision none = ApplyExceptionFilter(nullptr, 2);
  EXPECT_FALSE(none.Matched);
  EXPECT_EQ(none.DialogType, 2);
  EXPECT_EQ(none.Handling, rhReport);
  EXPECT_EQ(none.TerminateAction, 0);
}

// --- Threads, output, pump --------------------------------------------------------------------------
TEST(ReportThreads, ShownAndFrozenByTheFlags) {
  const std::uint32_t savedMain = VantorLogFlags().MainThreadId;
  VantorLogFlags().MainThreadId = 100;
  TVantorThreadInfo main, framework, plain;
  main.ThreadId = 100;
  framework.ThreadId = 200;
  framework.ThreadObject = reinterpret_cast<TObject*>(&framework);  // any non-null object
  plain.ThreadId = 300;
  EXPECT_TRUE(ShouldShowThreadStack(plain, 0x08));
  EXPECT_FALSE(ShouldShowThreadStack(plain, 0x04));
  EXPECT_TRUE(ShouldShowThreadStack(main, 0x04));
  EXPECT_TRUE(ShouldShowThreadStack(framework, 0x04));
  EXPECT_FALSE(ShouldShowThreadStack(framework, 0x08));

  EXPECT_TRUE(ShouldFreezeThread(plain, 0x04));
  EXPECT_FALSE(ShouldFreezeThread(plain, 0x01));
  EXPECT_TRUE(ShouldFreezeThread(framework, 0x01));
  EXPECT_TRUE(ShouldFreezeThread(framework, 0x03));
  EXPECT_TRUE(ShouldFreezeThread(main, 0x01));
  EXPECT_FALSE(ShouldFreezeThread(main, 0x03));  // 0x02 keeps the main thread running
  EXPECT_FALSE(ShouldFreezeThread(framework, 0x04));
  VantorLogFlags().MainThreadId = savedMain;

  EXPECT_TRUE(ShouldPumpWhileWaiting(false, 0x58));
  EXPECT_FALSE(ShouldPumpWhileWaiting(true, 0x58));
  EXPECT_FALSE(ShouldPumpWhileWaiting(false, 0x01));
  EXPECT_TRUE(ShouldPumpWhileWaiting(false, 0x03));
}

TEST(ReportOutput, ChosenByModeAndProgramKind) {
  struct Case {
    std::uint8_t mode;
    bool web, console;
    TReportOutput output;
  };
  const Case cases[] = {
      {0, true, true, TReportOutput::WebPage},  {2, false, false, TReportOutput::WebPage},
      {0, false, true, TReportOutput::Console}, {1, false, true, TReportOutput::Console},
      {1, true, true, TReportOutput::Console},  {0, false, false, TReportOutput::Dialog},
      {1, false, false, TReportOutput::Dialog}, {3, false, true, TReportOutput::Dialog},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode));
    EXPECT_EQ(ChooseReportOutput(c.mode, c.web, c.console), c.output);
  }
  EXPECT_TRUE(ShouldRestoreMainWindow(1, false, 2, false, 0));
  EXPECT_TRUE(ShouldRestoreMainWindow(0, true, 2, false, 0));
  EXPECT_FALSE(ShouldRestoreMainWindow(0, false, 2, false, 0));
  EXPECT_FALSE(ShouldRestoreMainWindow(1, true, 0, false, 0x11));
  EXPECT_TRUE(ShouldRestoreMainWindow(1, true, 0, true, 0x10));
  EXPECT_FALSE(ShouldRestoreMainWindow(1, true, 0, true, 0x80));
  EXPECT_FALSE(ShouldRestoreMainWindow(2, true, 3, true, 0x11));

  EXPECT_TRUE(IsSendingDue(1, 0, false, false, 0));
  EXPECT_FALSE(IsSendingDue(1, 0, false, false, 2));
  EXPECT_TRUE(IsSendingDue(0, 1, false, true, 2));
  EXPECT_FALSE(IsSendingDue(0, 1, true, true, 2));
  EXPECT_FALSE(IsSendingDue(0, 0, false, true, 0));
}

TEST(ReportPump, MessagesDroppedBeepedOrDispatched) {
  struct Case {
    std::uint32_t message;
    TPumpAction action;
  };
  const Case cases[] = {
      {18, TPumpAction::Drop},          {160, TPumpAction::Dispatch},     {161, TPumpAction::DropWithBeep},
      {169, TPumpAction::DropWithBeep}, {170, TPumpAction::Dispatch},     {255, TPumpAction::Dispatch},
      {256, TPumpAction::DropWithBeep}, {258, TPumpAction::DropWithBeep}, {259, TPumpAction::Dispatch},
      {260, TPumpAction::DropWithBeep}, {262, TPumpAction::DropWithBeep}, {263, TPumpAction::Dispatch},
      {512, TPumpAction::Dispatch},     {513, TPumpAction::DropWithBeep}, {521, TPumpAction::DropWithBeep},
      {522, TPumpAction::Dispatch},     {15, TPumpAction::Dispatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ClassifyPumpedMessage(c.message), c.action);
  }
}

// --- Texts, crash times, faults ------------------------------------------------------------------------
TEST(ReportTexts, CrashTimesKeepTheLastCrashCountEntries) {
  TOwned<TStringList> list(New<TStringList>());
  for (int i = 1; i <= 4; ++i) AddCrashTime(*list, "t" + std::to_string(i), 3);
  ASSERT_EQ(list->Count(), 3);
  EXPECT_EQ(list->Strings(0), "t2");
  EXPECT_EQ(list->Strings(2), "t4");
  AddCrashTime(*list, "t5", 1);  // a lower count leaves only the newest
  ASSERT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Strings(0), "t5");
  AddCrashTime(*list, "t6", 0);
  EXPECT_EQ(list->Count(), 0);
}

TEST(ReportTexts, SafeCallPrefixOnceAndFaultMessages) {
  EXPECT_EQ(WithSafeCallPrefix("boom"), "[SafeCall Exception]: boom");
  EXPECT_EQ(WithSafeCallPrefix(WithSafeCallPrefix("boom")), "[SafeCall Exception]: boom");

  auto messageOf = [](const std::exception_ptr& e) {
    try {
      std::rethrow_exception(e);
    } catch (const Exception& x) {
      return std::string(x.ClassName()) + ": " + x.Message;
    }
    return std::string();
  };
  EXPECT_EQ(messageOf(MapFaultRecord({0xC0000005u, 0, 0x40100A, {1, 0}})),
            "EAccessViolation: Access violation at address 0040100A. Write of address 00000000");
  EXPECT_EQ(messageOf(MapFaultRecord({0xC0000005u, 0, 0x40100A, {0, 0x1234}})),
            "EAccessViolation: Access violation at address 0040100A. Read of address 00001234");
  EXPECT_EQ(messageOf(MapFaultRecord({0xC0000005u, 0, 0x40100A, {}})),
            "EAccessViolation: Access violation at address 0040100A. Read of address 00000000");
  EXPECT_EQ(messageOf(MapFaultRecord({0xC00000FDu, 0, 0, {}})), "EStackOverflow: Stack overflow");
  EXPECT_EQ(messageOf(MapFaultRecord({0xC0000094u, 0, 0, {}})), "EExternalException: External exception C0000094");

  EXPECT_EQ(FreezeTimeoutMs(1), 1000);
  EXPECT_EQ(FreezeTimeoutMs(60), 60000);
  EXPECT_EQ(FreezeTimeoutMs(0), 1000);
  EXPECT_EQ(FreezeTimeoutMs(-5), 1000);
  EXPECT_GT(FreezeTimeoutMs(0x7FFFFFFF), 0);
}

// --- Events --------------------------------------------------------------------------------------------
std::vector<std::string> g_calls;

struct Recorder {
  std::string name;
  bool setHandled = false;
  void Notify(const TVantorExceptionRecord& record, bool& handled) {
    g_calls.push_back(name + (handled ? ":1:" : ":0:") + record.Text);
    if (setHandled) handled = true;
  }
  void Action(const TVantorExceptionRecord&, int action, bool& execute) {
    g_calls.push_back(name + " action " + std::to_string(action));
    if (action == 0) execute = false;
  }
  void Lines(const TVantorExceptionRecord&, TStrings& list) { list.Add(name + "=1"); }
};

void VL_STDCALL PeerNotify(const TVantorExceptionRecord* record, std::uint8_t* handled) {
  g_calls.push_back(std::string("peer:") + (*handled ? "1:" : "0:") + record->Text);
}
void VL_STDCALL PeerLines(const TVantorExceptionRecord*, const TVantorStringListRef* list) {
  // The peer fills the caller's list through the caller's functions.
  list->Add(list->List, "peer=1");
}
void* g_peerFor = nullptr;
std::string g_peerName;
void* FakeFinder(const char* name) {
  return g_peerName == name ? g_peerFor : nullptr;
}

class EventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetVantorEvents();
    g_calls.clear();
    SetRecordText(VantorEventState().Current, "the message");
  }
  void TearDown() override {
    UnregisterVantorLogHandler(&first_);
    UnregisterVantorLogHandler(&second_);
    SetPeerExportFinder(nullptr);
    ResetVantorEvents();
  }
  TVantorLogHandler first_, second_;
};

TEST_F(EventsTest, LaterHandlerFirstThenCallbackSeeingTheHandledFlag) {
  Recorder a{"first", true}, b{"second", false};
  first_.OnExceptionNotify = TExceptionNotifyEvent::Bind<&Recorder::Notify>(&a);
  second_.OnExceptionNotify = TExceptionNotifyEvent::Bind<&Recorder::Notify>(&b);
  RegisterVantorLogHandler(&first_);
  RegisterVantorLogHandler(&second_);
  RegisterVantorLogHandler(&second_);  // once only
  VantorLogCallbacks().ExceptionNotify = [](const TVantorExceptionRecord&, bool& handled) {
    g_calls.push_back(handled ? "callback:1" : "callback:0");
  };
  NotifyExceptionEvent();
  EXPECT_EQ(g_calls, (std::vector<std::string>{"second:0:the message", "first:0:the message", "callback:1"}));
  EXPECT_TRUE(VantorEventState().Handled);

  // Without a peer export for this exception the handled notification runs the local handlers only.
  g_calls.clear();
  VantorEventState().Handled = false;
  FireHandledExceptionNotify();
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(EventsTest, PeerExportIsAskedFirst) {
  Recorder a{"local", false};
  first_.OnExceptionNotify = TExceptionNotifyEvent::Bind<&Recorder::Notify>(&a);
  first_.OnCustomDataRequest = TStringListRequestEvent::Bind<&Recorder::Lines>(&a);
  RegisterVantorLogHandler(&first_);
  g_peerName = kExceptionNotifyExport;
  g_peerFor = reinterpret_cast<void*>(&PeerNotify);
  SetPeerExportFinder(&FakeFinder);
  NotifyExceptionEvent();
  EXPECT_EQ(g_calls, (std::vector<std::string>{"peer:0:the message", "local:0:the message"}));

  g_peerName = kCustomDataRequestExport;
  g_peerFor = reinterpret_cast<void*>(&PeerLines);
  FireCustomDataRequest();
  EXPECT_EQ(CustomDataLines().Text(), "peer=1\r\nlocal=1\r\n");
}

TEST_F(EventsTest, ActionNotificationsAndPasswords) {
  Recorder a{"first"};
  first_.OnExceptionActionNotify = TExceptionActionEvent::Bind<&Recorder::Action>(&a);
  RegisterVantorLogHandler(&first_);
  bool execute = true;
  CallExceptionActionNotifyExports(VantorEventState().Current, 0, execute);
  EXPECT_FALSE(execute);
  execute = true;
  CallExceptionActionNotifyExports(VantorEventState().Current, 1, execute);
  EXPECT_TRUE(execute);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"first action 0", "first action 1"}));

  std::uint8_t buffer[256];
  PasswordToShortText(std::string(300, 'p'), buffer);
  EXPECT_EQ(buffer[0], 255);
  EXPECT_EQ(ShortTextToPassword(buffer, 255), std::string(255, 'p'));
  EXPECT_EQ(ShortTextToPassword(buffer, 10), std::string(10, 'p'));
  EXPECT_EQ(ShortTextToPassword(buffer, 0), "");
  EXPECT_EQ(ShortTextToPassword(nullptr, 10), "");

  TVantorExceptionRecord record;
  SetRecordText(record, std::string(400, 'm'));
  EXPECT_EQ(std::strlen(record.Text), 255u);
}

TEST_F(EventsTest, StringListsCrossThroughTheirOwnFunctions) {
  TOwned<TStringList> from(New<TStringList>());
  TOwned<TStringList> to(New<TStringList>());
  from->Add("a=1");
  from->Add("b=2");
  to->Add("old");
  CopyStringListRef(StringListRef(*from), StringListRef(*to));
  EXPECT_EQ(to->Text(), "a=1\r\nb=2\r\n");
  CopyStringListRef(StringListRef(*to), StringListRef(*to));  // onto itself
  EXPECT_EQ(to->Text(), "a=1\r\nb=2\r\n");
}

// --- The parking slot ----------------------------------------------------------------------------------
std::atomic<int> g_ranOn{0};
std::atomic<int> g_runs{0};
std::atomic<int> g_afterEvents{0};
std::atomic<bool> g_slowEventDone{false};

thread_local std::uint32_t t_id = 0;
std::uint32_t ThreadLocalId() {
  return t_id;
}
void SleepShort() {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
void CountAfter() {
  ++g_afterEvents;
}
void SlowEvent() {
  g_ranOn = static_cast<int>(t_id);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ++g_runs;
  g_slowEventDone = true;
}
void ThrowingEvent() {
  ++g_runs;
  throw Exception("a handler fails");
}

class ParkingSlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TFaultingThreadApi api;
    api.CurrentThreadId = &ThreadLocalId;
    api.Sleep10 = &SleepShort;
    api.AfterEvent = &CountAfter;
    SetFaultingThreadApi(api);
    g_runs = 0;
    g_afterEvents = 0;
    g_ranOn = 0;
    g_slowEventDone = false;
  }
  void TearDown() override {
    SetPollingThreadId(0);
    SetFaultingThreadApi(TFaultingThreadApi{});
  }
};

TEST_F(ParkingSlotTest, WithoutAReportTheEventRunsAtOnceAndItsFailureIsSwallowed) {
  t_id = 5;
  RunEventOnFaultingThread(&SlowEvent);
  EXPECT_EQ(g_ranOn.load(), 5);
  EXPECT_NO_THROW(RunEventOnFaultingThread(&ThrowingEvent));
  EXPECT_EQ(g_runs.load(), 2);
  EXPECT_EQ(g_afterEvents.load(), 2);
  EXPECT_FALSE(EventIsParked());
  EXPECT_FALSE(RunParkedEvent());
}

TEST_F(ParkingSlotTest, AnotherThreadParksTheEventAndWaitsUntilThePollingThreadHasRunIt) {
  t_id = 1;  // the polling (faulting) thread
  SetPollingThreadId(1);
  std::atomic<bool> callerDone{false};
  bool sawDoneWhenBack = false;
  std::thread caller([&] {
    t_id = 2;
    RunEventOnFaultingThread(&SlowEvent);
    sawDoneWhenBack = g_slowEventDone.load();  // the event has finished, not merely started
    callerDone = true;
  });
  int polls = 0;
  while (!callerDone.load() && polls < 5000) {
    RunParkedEvent();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++polls;
  }
  caller.join();
  EXPECT_TRUE(callerDone.load());
  EXPECT_TRUE(sawDoneWhenBack);
  EXPECT_EQ(g_ranOn.load(), 1);
  EXPECT_EQ(g_runs.load(), 1);
  EXPECT_EQ(g_afterEvents.load(), 1);
  EXPECT_FALSE(EventIsParked());

  // A parked handler that fails still empties the slot.
  callerDone = false;
  std::thread failing([&] {
    t_id = 3;
    RunEventOnFaultingThread(&ThrowingEvent);
    callerDone = true;
  });
  polls = 0;
  while (!callerDone.load() && polls < 5000) {
    RunParkedEvent();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++polls;
  }
  failing.join();
  EXPECT_TRUE(callerDone.load());
  EXPECT_EQ(g_runs.load(), 2);
}

TEST_F(ParkingSlotTest, NothingRunsWhileTheLeakReportRuns) {
  t_id = 1;
  VantorLogFlags().LeakReportRunning = 1;
  RunEventOnFaultingThread(&SlowEvent);
  VantorLogFlags().LeakReportRunning = 0;
  EXPECT_EQ(g_runs.load(), 0);
  EXPECT_EQ(g_afterEvents.load(), 0);
}

}  // namespace
