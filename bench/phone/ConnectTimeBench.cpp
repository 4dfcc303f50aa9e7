// Time from Connect to a read IMEI on the FBUS cable (link method 0), against
// the simulated phone, for a phone of the oldest message set (NSE-3, family 1)
// and one of the newest (NPE-4, family 4). Each is printed beside the sum of
// the waits the connect road is built from: the pauses of the link set-up, the
// preamble before each request, the pauses between the connect steps and the
// fixed waits of the requests that get no answer of their own. Requests the
// phone answers cost only the round trip and are not in the sum.
// Goal: the mean connect time at most 10 % above that sum. It may come out
// below it: a pause shorter than a tick ends at the next 55 ms tick, and a pty
// does not pace the preamble as a serial line does.
//
// The simulators are on COM ports named by PELLORY_PHONESIM_NSE3_PORT and
// PELLORY_PHONESIM_NPE4_PORT (scripts/run-benchmarks starts them through
// phone/tests/win/with-phonesim); a persona without its port is skipped.
// -v prints the frames of the first connect of each persona with their times.
//
// A row of its own times the link set-up of the AT switch (link method 1,
// DLR-3 cable or DKU-5 port) against the NSE-3 simulator, beside its
// prescribed pauses. Its two line-event waits end when the phone says "OK"
// (500 ms is only their bound) and are not in the sum; the row counts the
// waits that ran out their bound, which a phone that answers never lets happen.
// Goal: no wait ran out, and the mean set-up time at most 10 % above the
// longest the pauses take on the tick clock (each pause shorter than a tick
// may last up to one).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ConnSender.h"
#include "LinkFrames.h"
#include "NokiaPhone.h"
#include "PhonePlatformWin.h"
#include "Swallow.h"
#include "Timers.h"
#include "TimersWin.h"
#include "Win32Platform.h"

namespace {

constexpr int kRuns = 10;
constexpr double kGoal = 0.10;
constexpr double kTickMs = 55.0;
// One byte on the line at 115200 baud, 8 data bits, no parity, one stop bit.
constexpr double kByteMs = 10.0 * 1000.0 / 115200.0;

// --- The frames of one connect, with their times -------------------------------------------------

struct TTraceEvent {
  double ms;
  bool sent;
  std::uint8_t type;
  std::string bytes;  // the payload sent, or the whole frame received
};

class TTrace {
 public:
  void Start() {
    std::lock_guard<std::mutex> g(lock_);
    events_.clear();
    start_ = Now();
  }
  void Add(bool sent, std::uint8_t type, const std::string& bytes) {
    std::lock_guard<std::mutex> g(lock_);
    events_.push_back({Now() - start_, sent, type, bytes});
  }
  std::vector<TTraceEvent> Events() const {
    std::lock_guard<std::mutex> g(lock_);
    return events_;
  }

 private:
  static double Now() {
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
  }

  mutable std::mutex lock_;
  std::vector<TTraceEvent> events_;
  double start_ = 0;
};

class TTracingLink : public TPhoneLink {
 public:
  TTracingLink(std::unique_ptr<TPhoneLink> inner, TTrace& trace) : inner_(std::move(inner)), trace_(trace) {}
  void SendPhoneMessage(std::uint8_t msgType, const std::string& payload) override {
    trace_.Add(true, msgType, payload);
    inner_->SendPhoneMessage(msgType, payload);
  }
  bool Sending() const override { return inner_->Sending(); }
  void ClearReceived() override { inner_->ClearReceived(); }

 private:
  std::unique_ptr<TPhoneLink> inner_;
  TTrace& trace_;
};

// The Windows platform, with every message sent and every frame handed to the
// phone written down.
class TTracingPlatform : public TPhonePlatform {
 public:
  std::unique_ptr<TPhoneLink> CreateLink(const TPhoneLinkParams& params, std::uint16_t& failureCode) override {
    phoneOnFrame_ = params.onFrame;
    TPhoneLinkParams traced = params;
    traced.onFrame = TPhoneFrameEvent::Bind<&TTracingPlatform::OnFrame>(this);
    std::unique_ptr<TPhoneLink> link = base_.CreateLink(traced, failureCode);
    if (!link) return link;
    return std::make_unique<TTracingLink>(std::move(link), trace);
  }
  std::unique_ptr<TPhoneWait> CreateWait() override { return base_.CreateWait(); }
  std::unique_ptr<TPhoneTimer> CreateTimer(std::uint32_t intervalMs, TNotifyEvent onTimer) override {
    return base_.CreateTimer(intervalMs, onTimer);
  }

  TTrace trace;

 private:
  void OnFrame(std::uint8_t msgType, const std::string& frame) {
    trace.Add(false, msgType, frame);
    if (phoneOnFrame_) phoneOnFrame_(msgType, frame);
  }

  TWinPhonePlatform base_;
  TPhoneFrameEvent phoneOnFrame_;
};

std::string Hex(const std::string& bytes) {
  std::string s;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02X ", c);
    s += b;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

// --- The waits of the road -----------------------------------------------------------------------

// One wait of the connect road: its nominal length, and the shortest and
// longest it can take on the 55 ms tick clock (a pause of M ms ends at the first
// tick boundary after M div 55 whole ticks; a deadline of N ticks after N + 1).
struct TTerm {
  std::string what;
  int count;
  double nominalMs;  // each
  double leastMs;    // each
  double mostMs;     // each
};

TTerm Pause(const std::string& what, int ms) {
  const double whole = static_cast<double>(MillisecondsToTicks(ms)) * kTickMs;
  return {what + " (" + std::to_string(ms) + " ms)", 1, static_cast<double>(ms), whole, whole + kTickMs};
}

// A request sent without waiting for an answer, which no reply of the phone
// ends early: its deadline of 5 ticks runs out.
TTerm UnansweredFireAndForget(const std::string& what, int count) {
  const int ticks = RequestDeadlineTicks(0x10, 0);
  return {what + " (deadline " + std::to_string(ticks) + " ticks each)", count, ticks * kTickMs, ticks * kTickMs,
          (ticks + 1) * kTickMs};
}

// The preamble written before every request frame on the FBUS cable; a pty
// does not pace it, a serial line takes this long for it.
TTerm Preambles(int requests) {
  const double each = static_cast<double>(kFbusPreambleLength + 1) * kByteMs;
  return {"preamble 200 x 55 + C1 at 115200 baud, one per request frame", requests, each, 0, each};
}

struct TPersonaRoad {
  const char* persona;
  const char* portVariable;
  int family;
  std::vector<TTerm> terms;
};

std::vector<TPersonaRoad> Roads() {
  const std::vector<TTerm> linkSetUp = {Pause("link set-up: after purging the port", 50),
                                        Pause("link set-up: after raising DTR and lowering RTS", 50)};
  std::vector<TPersonaRoad> roads;
  // NSE-3: model read twice (answered), 20 ms, "5110_INIT" (answered), 30 ms, "5110_IMEI" (answered).
  TPersonaRoad nse3{"NSE-3", "PELLORY_PHONESIM_NSE3_PORT", 1, linkSetUp};
  nse3.terms.push_back(Preambles(4));
  nse3.terms.push_back(Pause("before the initialisation", 20));
  nse3.terms.push_back(Pause("before the identity request", 30));
  roads.push_back(nse3);
  // NPE-4: model read twice (answered), 20 ms, "SMS_INITSMS" and the two type-02
  // messages (no reply is matched to them), 30 ms, "8310_IMEI" (answered).
  TPersonaRoad npe4{"NPE-4", "PELLORY_PHONESIM_NPE4_PORT", 4, linkSetUp};
  npe4.terms.push_back(Preambles(6));
  npe4.terms.push_back(Pause("before the initialisation", 20));
  npe4.terms.push_back(UnansweredFireAndForget("initialisation: SMS_INITSMS and two type-02 messages", 3));
  npe4.terms.push_back(Pause("before the identity request", 30));
  roads.push_back(npe4);
  return roads;
}

// --- Measuring -----------------------------------------------------------------------------------

// Sorts the run times (for least, median and most) and gives their mean.
double SortedMean(std::vector<double>& times) {
  std::sort(times.begin(), times.end());
  double mean = 0;
  for (double t : times) mean += t;
  return mean / static_cast<double>(times.size());
}

void PrintTrace(const TTrace& trace) {
  for (const TTraceEvent& e : trace.Events()) {
    std::printf("    %8.1f ms  %s %02X  %s\n", e.ms, e.sent ? ">>" : "<<", e.type, Hex(e.bytes).c_str());
  }
}

// Connects `kRuns` times; true when the goal was met.
bool Measure(const TPersonaRoad& road, bool verbose) {
  std::printf("%s (family %d), link method 0\n", road.persona, road.family);
  double nominal = 0, least = 0, most = 0;
  for (const TTerm& t : road.terms) {
    std::printf("  %-76s %d x %6.1f ms  (%.1f to %.1f)\n", t.what.c_str(), t.count, t.nominalMs, t.leastMs, t.mostMs);
    nominal += t.count * t.nominalMs;
    least += t.count * t.leastMs;
    most += t.count * t.mostMs;
  }
  std::printf("  %-76s %6.1f ms  (%.1f to %.1f on the tick clock)\n", "sum of the prescribed waits", nominal, least,
              most);

  const char* portText = std::getenv(road.portVariable);
  const int port = portText ? std::atoi(portText) : 0;
  if (port <= 0) {
    std::printf("  skipped: no simulator (%s is not set)\n", road.portVariable);
    return true;
  }
  TTracingPlatform platform;
  std::vector<double> times;
  double disconnectMs = 0;
  for (int run = 0; run < kRuns; ++run) {
    TNokiaPhone* phone = New<TNokiaPhone>(static_cast<TComponent*>(nullptr), platform);
    phone->LinkMethod = kLinkFbusCable;
    phone->SetPort(port);
    platform.trace.Start();
    // As the finder does: Connect on a thread of its own while the main thread
    // handles the port's events.
    std::atomic<bool> finished{false};
    bool connected = false;
    double ms = 0;
    std::thread search([&] {
      const std::uint64_t t0 = MonotonicMilliseconds();
      try {
        connected = phone->Connect(false);
      } catch (...) {
        SwallowException("ConnectTimeBench: connecting the phone");
      }
      ms = static_cast<double>(MonotonicMilliseconds() - t0);
      finished = true;
    });
    while (!finished) DelayWithMessages(10);
    search.join();
    const std::string imei = connected ? phone->GetIMEI() : std::string();
    const int failure = phone->FailureCode();
    if (verbose && run == 0) PrintTrace(platform.trace);
    const std::uint64_t d0 = MonotonicMilliseconds();
    phone->Disconnect();
    disconnectMs += static_cast<double>(MonotonicMilliseconds() - d0);
    phone->Free();
    DelayWithMessages(300);  // the simulator sees the line close before the next open
    if (!connected || imei.empty()) {
      std::printf("  run %d: no IMEI (failure code %d)\n", run + 1, failure);
      return false;
    }
    times.push_back(ms);
  }
  const double mean = SortedMean(times);
  const double deviation = (mean - nominal) / nominal;
  const bool met = deviation <= kGoal;
  std::printf("  %-76s %6.1f ms  (%d runs: least %.0f, median %.0f, most %.0f) -> %+.0f%%\n",
              "Connect to a read IMEI, mean", mean, kRuns, times.front(), times[times.size() / 2], times.back(),
              100.0 * deviation);
  // Not part of the road: the de-initialisation that a family-4 phone gets
  // on Disconnect is one more message without an answer of its own.
  std::printf("  %-76s %6.1f ms\n",
              road.family == 4 ? "then Disconnect (7110_DEINIT, deadline 5 ticks), mean" : "then Disconnect, mean",
              disconnectMs / kRuns);
  return met;
}

// --- The AT switch's link set-up ------------------------------------------------------------------

// Sets the AT switch's link up `kRuns` times on the NSE-3 simulator; true when the goal was met.
bool MeasureAtSwitch() {
  std::printf("AT switch (link method 1), link set-up until the first phone message can go out\n");
  const std::vector<TTerm> terms = {
      Pause("after the switch to 19200 baud and purging", 200),
      Pause("after \"at&f\", before its line-event wait", 10),
      Pause("after reading its answer", 20),
      Pause("after \"at*nokiafbus\", before its line-event wait", 10),
      Pause("after reading its answer", 20),
  };
  double nominal = 0, least = 0, most = 0;
  for (const TTerm& t : terms) {
    std::printf("  %-76s %d x %6.1f ms  (%.1f to %.1f)\n", t.what.c_str(), t.count, t.nominalMs, t.leastMs, t.mostMs);
    nominal += t.count * t.nominalMs;
    least += t.count * t.leastMs;
    most += t.count * t.mostMs;
  }
  std::printf("  %-76s %6.1f ms  (%.1f to %.1f on the tick clock)\n", "sum of the prescribed pauses", nominal, least,
              most);
  std::printf("  %-76s %6s     (bound 500 ms each, not in the sum)\n", "two line-event waits, ended by the phone's OK",
              "");
  const char* portText = std::getenv("PELLORY_PHONESIM_NSE3_PORT");
  const int port = portText ? std::atoi(portText) : 0;
  if (port <= 0) {
    std::printf("  skipped: no simulator (PELLORY_PHONESIM_NSE3_PORT is not set)\n");
    return true;
  }
  std::vector<double> times;
  int runOut = 0;
  for (int run = 0; run < kRuns; ++run) {
    // On a thread of its own, as the phone's Connect runs, while the main
    // thread handles the port's events.
    std::atomic<bool> finished{false};
    std::uint16_t code = 0xFFFF;
    TConnectionSender* sender = nullptr;
    double ms = 0;
    std::thread search([&] {
      const std::uint64_t t0 = MonotonicMilliseconds();
      try {
        sender = New<TConnectionSender>(kLinkAtSwitch, TFrameEvent(), "", "", 0, static_cast<std::uint8_t>(port), code);
      } catch (...) {
        SwallowException("ConnectTimeBench: opening the AT-switch link");
      }
      ms = static_cast<double>(MonotonicMilliseconds() - t0);
      finished = true;
    });
    while (!finished) DelayWithMessages(10);
    search.join();
    if (sender && sender->ComPort()) runOut += sender->ComPort()->LineEventWaitsRunOut();
    if (sender) sender->Free();
    DelayWithMessages(300);  // the simulator sees the line close before the next open
    if (code != 0) {
      std::printf("  run %d: the link did not come up (failure code %d)\n", run + 1, code);
      return false;
    }
    times.push_back(ms);
  }
  const double mean = SortedMean(times);
  const bool met = runOut == 0 && mean <= most * (1.0 + kGoal);
  std::printf("  %-76s %6.1f ms  (%d runs: least %.0f, median %.0f, most %.0f) -> %.0f%% of the longest\n",
              "link set-up, mean", mean, kRuns, times.front(), times[times.size() / 2], times.back(),
              100.0 * mean / most);
  std::printf("  %-76s %d of %d\n", "line-event waits that ran out their bound", runOut, 2 * kRuns);
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  const bool verbose = argc > 1 && std::strcmp(argv[1], "-v") == 0;
  InitWin32Platform();
  UseMultimediaClock();
  bool met = true;
  for (const TPersonaRoad& road : Roads()) met = Measure(road, verbose) && met;
  met = MeasureAtSwitch() && met;
  std::printf(
      "goal: connect time at most %.0f%% above the sum of the prescribed waits, AT switch set-up at most %.0f%% above "
      "its longest pauses with no wait run out -> %s\n",
      100.0 * kGoal, 100.0 * kGoal, met ? "met" : "MISSED");
  return met ? 0 : 1;
}
