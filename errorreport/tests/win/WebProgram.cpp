// The web side through WinINet, driven by the web-senders test: one request of
// the HTTP connection, an HTTP upload or an FTP upload, with the outcome printed
// as "key=value" lines ending in "end".
//
//   request URL METHOD DOCUMENT [NAME=VALUE]...   (METHOD 0 GET, 1 url-encoded POST, 2 multipart POST)
//   upload HOST PORT PATH HTTPS USER PASSWORD FILE REMOTE [PROXY-HOST PROXY-PORT]
//   ftp HOST PORT FOLDER USER PASSWORD FILE REMOTE
//   mantis URL USER PASSWORD PROJECT ARCHIVE
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "EWebTools.h"
#include "EWebToolsWin.h"

namespace {

int Request(int argc, char** argv) {
  if (argc < 5) return 2;
  THTTPConnectionBase connection(argv[2], "");
  connection.Open();
  connection.SetRequest(argv[4], static_cast<THTTPMethod>(std::atoi(argv[3])));
  for (int i = 5; i < argc; ++i) {
    std::string field = argv[i];
    std::size_t eq = field.find('=');
    if (field.rfind("file:", 0) == 0)
      connection.AddFile(field.substr(5, eq - 5), field.substr(eq + 1));
    else
      connection.AddField(field.substr(0, eq), eq == std::string::npos ? "" : field.substr(eq + 1));
  }
  THTTPResponse response;
  bool ok = connection.Request(response, true);
  std::printf("ok=%d\nstatus=%d\ndocument=%s\npath=%s\nerror=%d %s\nbody=%s\n", ok ? 1 : 0,
              static_cast<int>(response.StatusCode), response.DocumentName.c_str(), connection.Path().c_str(),
              static_cast<int>(response.ErrorCode), response.ErrorText.c_str(), response.Body.c_str());
  connection.Close();
  return 0;
}

int Upload(int argc, char** argv) {
  if (argc < 10) return 2;
  // The proxy as the report sender sets it from the options.
  if (argc >= 12) SetUploadProxy(argv[10], static_cast<std::uint16_t>(std::atoi(argv[11])));
  std::string error;
  int stages = 0;
  std::int32_t result = UploadFilesByHttp(
      argv[2], argv[4], argv[6], argv[7], static_cast<std::uint16_t>(std::atoi(argv[3])), argv[5][0] == '1', {argv[8]},
      {argv[9]}, {{"note", "from the probe"}}, [&](int stage, std::size_t, std::size_t) { stages |= 1 << stage; },
      error);
  std::printf("result=%d\nerror=%s\nstages=%d\n", static_cast<int>(result), error.c_str(), stages);
  return 0;
}

int Ftp(int argc, char** argv) {
  if (argc < 9) return 2;
  std::string error;
  std::int32_t result =
      UploadFilesByFtp(argv[2], argv[4], argv[5], argv[6], static_cast<std::uint16_t>(std::atoi(argv[3])), {argv[7]},
                       {argv[8]}, nullptr, error);
  std::printf("result=%d\nerror=%s\n", static_cast<int>(result), error.c_str());
  return 0;
}

int Mantis(int argc, char** argv) {
  if (argc < 7) return 2;
  TTrackerReport report;
  report.Version = "2.1";
  report.ClassName = "EAccessViolation";
  report.Message = "Access violation at address 00000000";
  report.BugId = "C0DE";
  report.WebUrl = argv[2];
  report.User = argv[3];
  report.Password = argv[4];
  report.Project = argv[5];
  report.Category = "Crash";
  report.Attachment = argv[6];
  report.Fields = {"FogBugzTrialID=", "VL_OSType=Windows", "VL_OSBuild=2600", "VL_ReproduceText=Open a file"};
  THTTPResponse response;
  int result = SendBugTrackerReport(ConnectionClassOf<THTTPConnectionBase>(), SenderClassOf<THTTPMantisSendReport>(),
                                    report, response);
  std::printf("result=%d\ntext=%d\nerror=%d %s\n", result, TrackerResultTextIndex(result),
              static_cast<int>(response.ErrorCode), response.ErrorText.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rc = 2;
  try {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "request") rc = Request(argc, argv);
    if (command == "upload") rc = Upload(argc, argv);
    if (command == "ftp") rc = Ftp(argc, argv);
    if (command == "mantis") rc = Mantis(argc, argv);
  } catch (const std::exception& e) {
    std::printf("raised=%s\n", e.what());
    rc = 1;
  }
  std::printf("end\n");
  std::fflush(stdout);
  return rc;
}
