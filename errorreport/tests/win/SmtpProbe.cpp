// Sends one report mail through Windows Sockets for the smtp-winsock script:
//   SmtpProbe client HOST PORT RECIPIENTS FOLDER
//   SmtpProbe direct DNS-PORT SMTP-PORT RECIPIENTS FOLDER
// FOLDER holds report.txt (the body), BugReport.zip and Screenshot.png. The
// probe prints "sent" or "failed: <warning>" and each step text, and exits 0 when sent.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ECore.h"
#include "ESmtpMail.h"
#include "ESockets.h"
#include "ESocketsWin.h"
#include "VantorLogConsts.h"

namespace {

class PrintingObserver : public TSmtpSendObserver {
 public:
  void StepText(int textIndex, int current, int count) override {
    std::printf(
        "step %s\n",
        FormatSendingStepText(kDefaultCustomTexts[111], current, count, kDefaultCustomTexts[textIndex]).c_str());
  }
};

std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int Run(int argc, char** argv) {
  if (argc != 6) return 2;
  const std::string mode = argv[1];
  const bool direct = mode == "direct";
  const std::string folder = argv[5];
  PrintingObserver observer;
  TSmtpMailFacts facts;
  facts.HeloHost = "probe.test";
  facts.SenderDisplayName = "Probe";
  facts.Observer = &observer;
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  if (direct) {
    SetDnsLookupTarget({"127.0.0.1"}, static_cast<std::uint16_t>(std::atoi(argv[2])));
    facts.DirectPort = static_cast<std::uint16_t>(std::atoi(argv[3]));
  } else {
    host = argv[2];
    port = static_cast<std::uint16_t>(std::atoi(argv[3]));
  }
  SetSocketReplySilence(100);
  const std::vector<std::string> files = {folder + "\\BugReport.zip", folder + "\\Screenshot.png"};
  const bool sent = SendSmtpMail(direct, "probe@here.test", host, port, direct ? "" : "user", direct ? "" : "pass",
                                 argv[4], "Report", ReadAll(folder + "\\report.txt"), {""}, files, facts);
  if (sent)
    std::printf("sent\n");
  else
    std::printf("failed: %s\n", LastLibraryErrorMessage().c_str());
  return sent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  InitESocketsWin();
  int rc = 3;
  try {
    rc = Run(argc, argv);
  } catch (const std::exception& e) {
    std::printf("exception: %s\n", e.what());
  }
  DoneESocketsWin();
  std::fflush(stdout);
  return rc;
}
