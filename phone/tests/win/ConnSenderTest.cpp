#include "ConnSender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "Thread.h"
#include "WinTestSupport.h"

namespace {

// The phone's side of a sender: every frame handed over, and where it ran.
struct TFrameSink {
  std::vector<std::string> frames;
  bool offMainThread = false;
  void OnFrame(std::uint8_t msgType, const std::string& frame) {
    if (!IsMainThread()) offMainThread = true;
    if (frame.size() < 4 || static_cast<std::uint8_t>(frame[3]) != msgType) ADD_FAILURE() << "type mismatch";
    frames.push_back(frame);
  }
  const std::string* Find(std::uint8_t msgType) const {
    for (const auto& f : frames) {
      if (static_cast<std::uint8_t>(f[3]) == msgType) return &f;
    }
    return nullptr;
  }
  TFrameEvent Handler() { return TFrameEvent::Bind<&TFrameSink::OnFrame>(this); }
};

TEST(ConnSender, SetUpFailuresGiveTheirCodes) {
  struct {
    std::uint8_t method;
    std::uint8_t port;
    std::uint16_t code;
  } const cases[] = {
      {kLinkFbusCable, 250, kFailNoDevice},
      {kLinkAtSwitch, 250, kFailNoDevice},
      {kLinkBluetooth, 250, kFailNoDevice},
      {kLinkInfrared, 0, kFailLinkSetup},  // the reader-thread links are not built here
      {kLinkDku2, 0, kFailLinkSetup},
      {4, 250, kFailLinkSetup},  // no such link method
  };
  for (const auto& c : cases) {
    std::uint16_t code = 0xFFFF;
    TFrameSink sink;
    TConnectionSender* sender = New<TConnectionSender>(c.method, sink.Handler(), "", "", 0, c.port, code);
    EXPECT_EQ(code, c.code) << "link method " << int(c.method);
    if (sender->ComPort()) {
      EXPECT_FALSE(sender->ComPort()->Connected());
    }
    EXPECT_TRUE(sender->SendPhoneMessage(0xD1, "x")) << "sending on a dead link still reports success";
    sender->Free();
  }
}

TEST(ConnSender, PhoneLinkOverASender) {
  TFrameSink sink;
  TPhoneLinkParams params;
  params.linkMethod = kLinkBluetooth;
  params.comPort = 250;
  params.onFrame = sink.Handler();
  std::uint16_t code = 0;
  TSenderPhoneLink link(params, code);
  EXPECT_EQ(code, kFailNoDevice);
  ASSERT_NE(link.Sender(), nullptr);
  EXPECT_EQ(link.Sender()->LinkMethod(), kLinkBluetooth);
  EXPECT_EQ(link.Sender()->OnFrame, sink.Handler());
  EXPECT_FALSE(link.Sending());
  link.SendPhoneMessage(0xD1, "x");
  link.ClearReceived();
}

TEST(Timers, DelayWithMessagesServesSynchronousCallsAndMessages) {
  TTickTimer before;
  StartTickTimer(before, 0);
  int served = 0;
  std::thread worker([&] { SynchronizeCall([&] { ++served; }); });
  PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
  DelayWithMessages(200);
  const std::int32_t elapsed = CurrentTick() - before.Start;
  worker.join();
  EXPECT_EQ(served, 1) << "the call was served during the wait";
  EXPECT_GE(elapsed, 4) << "a 200 ms wait ends after the fourth tick boundary";
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE)) << "the posted message was handled";
}

// --- With the simulated phone ------------------------------------------------------------------

class PhoneSimSender : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SimulatorPort() == 0) GTEST_FAIL() << "no simulated phone: run this test through phone/tests/win/with-phonesim";
    from_ = SimulatorLog().size();
  }
  void TearDown() override { CloseSender(); }
  // Frees the sender; the simulator has seen the line close before the next test opens it.
  void CloseSender() {
    if (!sender_) return;
    FreeAndNil(sender_);
    WaitForLogLine(from_, "CLOSE", 3000, sim_);
  }
  std::uint16_t Open(std::uint8_t method, TSim sim = TSim::Answering, const std::string& inLog = "",
                     const std::string& outLog = "") {
    std::uint16_t code = 0xFFFF;
    sim_ = sim;
    from_ = SimulatorLog(sim).size();
    sender_ = New<TConnectionSender>(method, sink_.Handler(), inLog, outLog, 0,
                                     static_cast<std::uint8_t>(SimulatorPort(sim)), code);
    return code;
  }
  std::vector<std::string> LogSinceOpen() {
    auto lines = SimulatorLog();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(from_, lines.size())));
    return lines;
  }

  std::size_t from_ = 0;
  TSim sim_ = TSim::Answering;
  TFrameSink sink_;
  TConnectionSender* sender_ = nullptr;
};

const std::string kModelRead = Bytes({0x00, 0x01, 0x00, 0x03, 0x00});

TEST_F(PhoneSimSender, FbusCableSendsTheGoldenBytesAndAcknowledgesTheReply) {
  ASSERT_EQ(Open(kLinkFbusCable), 0);
  sender_->SendPhoneMessage(0xD1, kModelRead);
  const std::string golden = "1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5";
  const int frameLine = WaitForLogLine(from_, golden);
  ASSERT_GE(frameLine, 0);
  ASSERT_TRUE(WaitUntil([&] { return sink_.Find(0xD2) != nullptr; })) << "no D2 reply reached the handler";
  EXPECT_FALSE(sink_.offMainThread);
  EXPECT_EQ(sink_.Find(kMsgAck), nullptr) << "the phone's acknowledgements are not handed on";
  const auto ack = FbusAckFor(*sink_.Find(0xD2));
  ASSERT_TRUE(ack);
  EXPECT_GE(WaitForLogLine(from_, ToHex(*ack)), 0) << "the D2 reply was acknowledged";
  // Exactly the preamble, the sync byte and the frame went out before it.
  const auto lines = SimulatorLog();
  ASSERT_GE(frameLine, 2);
  EXPECT_EQ(lines[static_cast<std::size_t>(frameLine) - 1], "SKIP 55*200 C1");
  EXPECT_EQ(lines[static_cast<std::size_t>(frameLine) - 2], "OPEN");
  // The second message carries sequence 0x41.
  sender_->SendPhoneMessage(0xD1, kModelRead);
  EXPECT_GE(WaitForLogLine(from_, ToHex(BuildFbusFrame(0xD1, kModelRead + Bytes({0x01, 0x41})))), 0);
}

TEST_F(PhoneSimSender, AtSwitchThenFbusWithoutPreamble) {
  ASSERT_EQ(Open(kLinkAtSwitch), 0);
  EXPECT_GE(WaitForLogLine(from_, "AT at&f"), 0);
  EXPECT_GE(WaitForLogLine(from_, "AT at*nokiafbus"), 0);
  sender_->SendPhoneMessage(0xD1, kModelRead);
  const int frameLine = WaitForLogLine(from_, "1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5");
  ASSERT_GE(frameLine, 0);
  ASSERT_TRUE(WaitUntil([&] { return sink_.Find(0xD2) != nullptr; }));
  const auto lines = LogSinceOpen();
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  EXPECT_NE(all.find("55*8"), std::string::npos) << all;
  EXPECT_EQ(all.find("55*200"), std::string::npos) << "no preamble after the AT switch:\n" << all;
}

// The AT switch waits for the phone's "OK" after each of its two commands: a
// phone that answers ends both waits (also when the answer was read during the
// pause before the wait), a silent one lets each run out its bound; the link
// comes up either way.
TEST_F(PhoneSimSender, AtSwitchWaitsEndWhenThePhoneAnswers) {
  struct {
    const char* what;
    const char* portVariable;
    const char* logVariable;
    int waitsRunOut;
  } const cases[] = {
      {"a phone that answers", "PELLORY_PHONESIM_PORT", "PELLORY_PHONESIM_LOG", 0},
      {"a silent phone", "PELLORY_PHONESIM_MUTE_PORT", "PELLORY_PHONESIM_MUTE_LOG", 2},
  };
  for (const auto& c : cases) {
    const char* portText = std::getenv(c.portVariable);
    if (!portText) {
      ADD_FAILURE() << "no simulated phone for " << c.what << ": " << c.portVariable
                    << " is not set (run this test through phone/tests/win/with-phonesim)";
      continue;
    }
    const std::size_t from = SimulatorLogIn(c.logVariable).size();
    const auto logged = [&](const std::string& line) {
      return WaitUntil([&] {
        const auto lines = SimulatorLogIn(c.logVariable);
        return std::find(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())), lines.end(),
                         line) != lines.end();
      });
    };
    std::uint16_t code = 0xFFFF;
    TConnectionSender* sender = New<TConnectionSender>(kLinkAtSwitch, sink_.Handler(), "", "", 0,
                                                       static_cast<std::uint8_t>(std::atoi(portText)), code);
    EXPECT_EQ(code, 0) << c.what;
    ASSERT_NE(sender->ComPort(), nullptr);
    EXPECT_EQ(sender->ComPort()->LineEventWaitsRunOut(), c.waitsRunOut) << c.what;
    EXPECT_TRUE(logged("AT at&f")) << c.what;
    EXPECT_TRUE(logged("AT at*nokiafbus")) << c.what;
    sender->Free();
    EXPECT_TRUE(logged("CLOSE")) << c.what;
  }
}

TEST_F(PhoneSimSender, BluetoothSendsTheSetUpFrameAndPhonetFrames) {
  ASSERT_EQ(Open(kLinkBluetooth), 0);
  EXPECT_GE(WaitForLogLine(from_, "19 00 10 D0 00 01 04"), 0);
  sender_->SendPhoneMessage(0xD1, kModelRead);
  EXPECT_GE(WaitForLogLine(from_, "19 00 10 D1 00 05 00 01 00 03 00"), 0);
  ASSERT_TRUE(WaitUntil([&] { return sink_.Find(0xD2) != nullptr; }));
  EXPECT_EQ(sink_.Find(0xD2)->substr(0, 3), Bytes({0x19, 0x10, 0x00}));
  EXPECT_FALSE(sink_.offMainThread);
}

TEST_F(PhoneSimSender, FramesFromTwoThreadsGoOutWhole) {
  // The search thread sends requests while the main thread acknowledges the
  // replies: an acknowledgement never lands between a preamble and its frame.
  ASSERT_EQ(Open(kLinkFbusCable), 0);
  constexpr int kMessages = 12;
  std::atomic<bool> sent{false};
  std::thread search([&] {
    for (int i = 0; i < kMessages; ++i) sender_->SendPhoneMessage(0xD1, kModelRead);
    sent = true;
  });
  const bool allReplies = WaitUntil(
      [&] {
        return sent && std::count_if(sink_.frames.begin(), sink_.frames.end(),
                                     [](const std::string& f) { return f[3] == '\xD2'; }) == kMessages;
      },
      10000);
  search.join();
  EXPECT_TRUE(allReplies);
  EXPECT_FALSE(sink_.offMainThread);
  DelayWithMessages(200);  // the last acknowledgement has reached the phone
  const auto lines = LogSinceOpen();
  int requests = 0, acks = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].rfind("BAD", 0), 0u) << lines[i];
    if (lines[i].rfind("1E 00 10 D1 ", 0) == 0) {
      ++requests;
      ASSERT_GT(i, 0u);
      EXPECT_EQ(lines[i - 1], "SKIP 55*200 C1") << "before " << lines[i];
    }
    if (lines[i].rfind("1E 00 10 7F 00 02 D2 ", 0) == 0) ++acks;
  }
  EXPECT_EQ(requests, kMessages);
  EXPECT_EQ(acks, kMessages);
}

TEST_F(PhoneSimSender, FreeingOnTheSearchThreadWhileRepliesArriveIsSafe) {
  // The search thread sends and frees the sender at once, while the replies
  // are on their way to the main thread: none reaches the freed sender.
  struct TLateSink {
    std::atomic<bool> freed{false};
    std::atomic<int> frames{0}, late{0};
    void OnFrame(std::uint8_t, const std::string&) {
      ++frames;
      if (freed) ++late;
    }
  } sink;
  for (int round = 0; round < 4; ++round) {
    sink.freed = false;
    std::uint16_t code = 0xFFFF;
    TConnectionSender* sender = New<TConnectionSender>(kLinkFbusCable, TFrameEvent::Bind<&TLateSink::OnFrame>(&sink),
                                                       "", "", 0, static_cast<std::uint8_t>(SimulatorPort()), code);
    ASSERT_EQ(code, 0);
    std::atomic<bool> done{false};
    std::thread search([&] {
      for (int i = 0; i < 3; ++i) sender->SendPhoneMessage(0xD1, kModelRead);
      DelayWithMessages(round * 10);
      sender->Free();
      sink.freed = true;
      done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 10000));
    search.join();
    DelayWithMessages(100);  // anything still queued is served now
    EXPECT_GE(WaitForLogLine(from_, "CLOSE"), 0);
    from_ = SimulatorLog().size();
  }
  EXPECT_EQ(sink.late, 0);
  EXPECT_GT(sink.frames, 0) << "replies reached the handler in the later rounds";
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool HasLineEndingWith(const std::vector<std::string>& lines, const std::string& tail) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.size() > tail.size() && l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
  });
}

TEST_F(PhoneSimSender, HexLogsHoldEveryFrameSentAndReceived) {
  char dir[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof(dir), dir), 0u);
  const std::string in = std::string(dir) + "pellory-frames-in.log";
  const std::string out = std::string(dir) + "pellory-frames-out.log";
  DeleteFileA(in.c_str());
  DeleteFileA(out.c_str());
  ASSERT_EQ(Open(kLinkFbusCable, TSim::Answering, in, out), 0);
  EXPECT_TRUE(FileLines(in).empty()) << "the logs are created empty";
  sender_->SendPhoneMessage(0xD1, kModelRead);
  ASSERT_TRUE(WaitUntil([&] { return sink_.Find(0xD2) != nullptr; }));
  const auto sent = FileLines(out);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_TRUE(HasLineEndingWith(sent, ">> [1E][00][10][D1][00][07][00][01][00][03][00][01][60][00][6E][D5]"))
      << sent[0];
  EXPECT_TRUE(HasLineEndingWith(sent, ">> " + HexDumpText(*FbusAckFor(*sink_.Find(0xD2)))));
  for (const auto& line : sent) EXPECT_EQ(line.find("[55]"), std::string::npos) << "the preamble is not logged";
  EXPECT_TRUE(HasLineEndingWith(FileLines(in), "-- " + HexDumpText(*sink_.Find(0xD2))));
  CloseSender();
  DeleteFileA(in.c_str());
  DeleteFileA(out.c_str());
}

TEST_F(PhoneSimSender, FramesWithBadChecksumsAreDroppedUnacknowledged) {
  if (SimulatorPort(TSim::Corrupting) == 0)
    GTEST_FAIL() << "no corrupting simulated phone: run this test through phone/tests/win/with-phonesim";
  ASSERT_EQ(Open(kLinkFbusCable, TSim::Corrupting), 0);
  const std::size_t from = from_;
  sender_->SendPhoneMessage(0xD1, kModelRead);
  ASSERT_GE(WaitForLogLine(from, "1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5", 3000, TSim::Corrupting), 0);
  DelayWithMessages(500);  // the phone's acknowledgement and reply have come in
  EXPECT_TRUE(sink_.frames.empty()) << "dispatched " << ToHex(sink_.frames.front());
  const auto lines = SimulatorLog(TSim::Corrupting);
  for (std::size_t i = from; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].rfind("1E 00 10 7F", 0), 0u) << "acknowledged a corrupt frame: " << lines[i];
  }
}

TEST_F(PhoneSimSender, FreeingFromTheFrameHandlerIsSafe) {
  struct TFreer {
    TConnectionSender** sender;
    int calls = 0;
    void OnFrame(std::uint8_t msgType, const std::string&) {
      if (msgType != 0xD2) return;
      ++calls;
      FreeAndNil(*sender);
    }
  } freer{&sender_};
  std::uint16_t code = 0xFFFF;
  sender_ = New<TConnectionSender>(kLinkBluetooth, TFrameEvent::Bind<&TFreer::OnFrame>(&freer), "", "", 0,
                                   static_cast<std::uint8_t>(SimulatorPort()), code);
  ASSERT_EQ(code, 0);
  sender_->SendPhoneMessage(0xD1, kModelRead);
  ASSERT_TRUE(WaitUntil([&] { return sender_ == nullptr; }));
  DelayWithMessages(100);
  EXPECT_EQ(freer.calls, 1);
  EXPECT_GE(WaitForLogLine(from_, "CLOSE"), 0) << "the port was closed";
}

}  // namespace
