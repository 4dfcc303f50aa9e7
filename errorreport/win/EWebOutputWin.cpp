#include "EWebOutputWin.h"

#include <windows.h>

#include <httpext.h>

#include <mutex>
#include <random>

#include "ECore.h"
#include "EPipelineWin.h"
#include "EReportSteps.h"
#include "ESystemWin.h"
#include "EWebPage.h"
#include "ExceptionLogImports.h"
#include "ExceptionLogWin.h"
#include "SysUtils.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HMODULE OwnModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

std::once_flag g_winCgiOnce;
bool g_winCgi = false;
std::string g_winCgiOutput;
std::mutex g_idLock;
std::string g_lastIdComment;

std::string IniValue(const std::string& file, const char* section, const char* key) {
  char buf[1024] = {};
  GetPrivateProfileStringA(section, key, "", buf, sizeof buf, file.c_str());
  return buf;
}

std::string FullPath(const std::string& name) {
  char buf[MAX_PATH * 2] = {};
  const DWORD n = GetFullPathNameA(name.c_str(), sizeof buf, buf, nullptr);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : name;
}

void DetectWinCgi() {
  if (IsConsoleApp()) return;
  const char* commandLine = GetCommandLineA();
  const std::string first = CommandLineArgument(commandLine ? commandLine : "", 1);
  if (first.find_first_of("*?") != std::string::npos || first.empty()) return;
  const std::string request = FullPath(first);
  HANDLE file = CreateFileA(request.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(file, &size) != 0;
  CloseHandle(file);
  if (!sized || size.QuadPart < 0 || !MayBeWinCgiRequestFile(first, static_cast<std::uint64_t>(size.QuadPart))) return;
  if (IniValue(request, "CGI", "Request Method").empty()) return;
  std::string output = CommandLineArgument(commandLine, 3);
  if (output.empty()) output = IniValue(request, "System", "Output File");
  if (output.empty()) return;
  g_winCgiOutput = output;
  g_winCgi = GetFileAttributesA(output.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string NewIdComment() {
  static std::mt19937 random([] {
    std::random_device device;
    return device() ^ GetTickCount() ^ (GetCurrentProcessId() << 16);
  }());
  std::lock_guard<std::mutex> guard(g_idLock);
  g_lastIdComment = WebPageIdComment(static_cast<std::uint32_t>(random()));
  return g_lastIdComment;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 0x10000000));
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

bool SendThroughExtension(const std::string& page) {
  auto* block = static_cast<EXTENSION_CONTROL_BLOCK*>(KeptExtensionControlBlock());
  if (!block) {
    ReportLibraryWarning(eeShowError, "ISAPI: ServerECB = nil");
    return false;
  }
  struct TSending {
    TSending() { SetSendingErrorPage(true); }
    ~TSending() { SetSendingErrorPage(false); }
  } sending;
  block->dwHttpStatusCode = 200;
  std::string status = "200 Error";
  std::string header = WebPageResponseHeader(page.size(), false);
  DWORD statusSize = static_cast<DWORD>(status.size());
  if (block->ServerSupportFunction)
    block->ServerSupportFunction(block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status.data(), &statusSize,
                                 reinterpret_cast<LPDWORD>(header.data()));
  DWORD size = static_cast<DWORD>(page.size());
  return block->WriteClient &&
         block->WriteClient(block->ConnID, const_cast<char*>(page.data()), &size, HSE_IO_SYNC) != FALSE;
}

bool SendThroughStandardOutput(const std::string& page) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!out || out == INVALID_HANDLE_VALUE || !WriteAll(out, WebPageResponseHeader(page.size()))) {
    ReportLibraryWarning(eeShowError, "CGI: Cannot write in the ouput file.");
    return false;
  }
  return WriteAll(out, page);
}

bool SendThroughWinCgiFile(const std::string& page) {
  try {
    HANDLE file = CreateFileA(WinCgiOutputFile().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw Exception("Cannot open the output file.");
    // Written from the start; what a longer earlier answer left behind goes.
    const bool ok = WriteAll(file, WebPageResponseHeader(page.size()) + page) && SetEndOfFile(file);
    CloseHandle(file);
    if (!ok) throw Exception("Cannot write the output file.");
    return true;
  } catch (...) {
    ReportExceptionWarning(eeShowError, "WinCGI", std::current_exception());
    return false;
  }
}

}  // namespace

bool IsCgiApp() {
  return IsConsoleApp() && GetEnvironmentVariableA("REQUEST_METHOD", nullptr, 0) != 0;
}

bool IsWinCgiApp() {
  std::call_once(g_winCgiOnce, [] {
    try {
      DetectWinCgi();
    } catch (...) {
      g_winCgi = false;
    }
  });
  return g_winCgi;
}

std::string WinCgiOutputFile() {
  IsWinCgiApp();
  return g_winCgi ? g_winCgiOutput : std::string();
}

bool IsIsapiModule() {
  return IsModuleDll(OwnModule()) && GetProcAddress(OwnModule(), "HttpExtensionProc") != nullptr;
}

bool IsIntraWebApp() {
  return false;
}

bool IsGuiApp() {
  return !IsWebApp() && !IsConsoleApp();
}

std::string BuildWebErrorPage(const std::string& text, bool withButton) {
  const TVantorModuleOptions* options = CurrentVantorLogOptions();
  TOwned<TVantorModuleOptions> fresh(New<TVantorModuleOptions>(std::string()));
  const std::string htmlTemplate =
      ChooseHtmlTemplate(options ? options->HtmlTemplate() : std::string(), fresh->HtmlTemplate());
  const std::string title = options ? options->GetCustomText(3) : fresh->GetCustomText(3);
  return BuildWebErrorPageFrom(text, withButton, htmlTemplate, title, NewIdComment());
}

std::string LastWebPageIdComment() {
  std::lock_guard<std::mutex> guard(g_idLock);
  return g_lastIdComment;
}

bool SendWebErrorPage(const std::string& page) {
  try {
    if (IsIsapiModule()) return SendThroughExtension(page);
    if (IsCgiApp()) return SendThroughStandardOutput(page);
    if (IsWinCgiApp()) return SendThroughWinCgiFile(page);
  } catch (...) {
    ReportExceptionWarning(eeShowError, "Web", std::current_exception());
  }
  return false;
}

bool ShowIntraWebErrorPage() {
  ReportLibraryWarning(eeShowError, "IntraWeb: IntraWebApplication e/o IntraWebServerController are set to nil.");
  return false;
}

bool ShowReportWebPage(TReportRun&, const std::string& text) {
  if (IsIntraWebApp()) return ShowIntraWebErrorPage();
  if (!IsWebApp()) return false;
  return SendWebErrorPage(WithWebErrorPageButton(BuildWebErrorPage(text, true)));
}
