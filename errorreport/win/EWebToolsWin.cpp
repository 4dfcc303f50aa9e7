#include "EWebToolsWin.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstring>

#include "SysUtils.h"
#include "Win32Platform.h"

namespace {

// The bound functions of wininet.dll.
struct TWinInet {
  HMODULE Library = nullptr;
  decltype(&::InternetOpenA) InternetOpenA = nullptr;
  decltype(&::InternetConnectA) InternetConnectA = nullptr;
  decltype(&::HttpOpenRequestA) HttpOpenRequestA = nullptr;
  decltype(&::HttpAddRequestHeadersA) HttpAddRequestHeadersA = nullptr;
  decltype(&::HttpSendRequestA) HttpSendRequestA = nullptr;
  decltype(&::HttpSendRequestExA) HttpSendRequestExA = nullptr;
  decltype(&::InternetWriteFile) InternetWriteFile = nullptr;
  decltype(&::HttpEndRequestA) HttpEndRequestA = nullptr;
  decltype(&::HttpQueryInfoA) HttpQueryInfoA = nullptr;
  decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
  decltype(&::InternetQueryOptionA) InternetQueryOptionA = nullptr;
  decltype(&::InternetSetOptionA) InternetSetOptionA = nullptr;
  decltype(&::FtpOpenFileA) FtpOpenFileA = nullptr;
  decltype(&::InternetGetLastResponseInfoA) InternetGetLastResponseInfoA = nullptr;
  decltype(&::InternetOpenUrlA) InternetOpenUrlA = nullptr;
  decltype(&::InternetReadFile) InternetReadFile = nullptr;
  decltype(&::InternetGetConnectedState) InternetGetConnectedState = nullptr;
};

TWinInet gInet;
std::uint32_t gFtpConnectFlags = INTERNET_FLAG_PASSIVE;

template <class F>
bool Bind(F& slot, const char* name) {
  slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(gInet.Library, name)));
  return slot != nullptr;
}

constexpr const char* kAgent = "VantorLog";

std::string LastErrorText(DWORD code) {
  std::string text;
  GetWinInetErrorText(static_cast<std::int32_t>(code), text);
  if (text.empty()) text = SysErrorMessage(code);
  return text;
}

// A header query into a buffer that starts at 11 bytes and grows when too small.
bool QueryInfo(HINTERNET request, DWORD level, std::string& value) {
  value.clear();
  DWORD size = 11;
  std::string buffer(size, '\0');
  for (int tries = 0; tries < 8; ++tries) {
    DWORD length = static_cast<DWORD>(buffer.size());
    if (gInet.HttpQueryInfoA(request, level, buffer.data(), &length, nullptr)) {
      value.assign(buffer.data(), std::min<std::size_t>(length, buffer.size()));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(std::max<std::size_t>(length + 1, buffer.size() * 2), '\0');
  }
  return false;
}

// The value of a header line "name: value" in the raw headers, empty when absent.
std::string RawHeaderValue(const std::string& raw, const std::string& name) {
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find("\r\n", start);
    if (end == std::string::npos) end = raw.size();
    std::string line = raw.substr(start, end - start);
    if (line.size() > name.size() && line[name.size()] == ':' && CompareText(line.substr(0, name.size()), name) == 0)
      return Trim(line.substr(name.size() + 1));
    start = end + 2;
  }
  return {};
}

void IgnoreUnknownAuthority(HINTERNET request) {
  DWORD flags = 0;
  DWORD size = sizeof flags;
  if (gInet.InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) {
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    gInet.InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
}

void SetProxyLogin(HINTERNET request, const std::string& user, const std::string& password) {
  if (!user.empty())
    gInet.InternetSetOptionA(request, INTERNET_OPTION_PROXY_USERNAME, const_cast<char*>(user.c_str()),
                             static_cast<DWORD>(user.size() + 1));
  if (!password.empty())
    gInet.InternetSetOptionA(request, INTERNET_OPTION_PROXY_PASSWORD, const_cast<char*>(password.c_str()),
                             static_cast<DWORD>(password.size() + 1));
}

HINTERNET OpenInternet(const std::string& proxy) {
  if (proxy.empty()) return gInet.InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  return gInet.InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), "<local>", 0);
}

// Sends `body` through an open request in pieces; false on a failed call.
template <class OnPiece>
bool WriteBody(HINTERNET request, const std::string& body, std::size_t piece, OnPiece onPiece) {
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = static_cast<DWORD>(body.size());
  if (!gInet.HttpSendRequestExA(request, &buffers, nullptr, 0, 0)) return false;
  std::size_t written = 0;
  while (written < body.size()) {
    DWORD chunk = static_cast<DWORD>(std::min(piece, body.size() - written));
    DWORD done = 0;
    if (!gInet.InternetWriteFile(request, body.data() + written, chunk, &done) || done == 0) return false;
    written += done;
    onPiece(written);
  }
  return gInet.HttpEndRequestA(request, nullptr, 0, 0) != FALSE;
}

void AddHeaders(HINTERNET request, const std::vector<std::string>& headers) {
  for (const std::string& header : headers)
    gInet.HttpAddRequestHeadersA(request, header.c_str(), static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
}

class TWinInetTransport final : public TWebTransport {
 public:
  ~TWinInetTransport() override { Close(); }

  bool Bind() override { return BindWinInet(); }

  bool Open(const TWebEndpoint& endpoint, std::string& errorText) override {
    endpoint_ = endpoint;
    internet_ = OpenInternet(endpoint.Proxy);
    if (internet_)
      connect_ = gInet.InternetConnectA(internet_, endpoint.Host.c_str(), endpoint.Port, endpoint.User.c_str(),
                                        endpoint.Password.c_str(), INTERNET_SERVICE_HTTP, 0x04400000u, 0);
    if (!connect_) {
      errorText = LastErrorText(GetLastError());
      Close();
      return false;
    }
    return true;
  }

  bool Close() override {
    if (!gInet.Library) return internet_ == nullptr && connect_ == nullptr;
    bool ok = true;
    if (connect_) ok = gInet.InternetCloseHandle(connect_) != FALSE && ok;
    if (internet_) ok = gInet.InternetCloseHandle(internet_) != FALSE && ok;
    connect_ = internet_ = nullptr;
    return ok;
  }

  bool Send(const TWebRequest& request, TWebAnswer& answer, TWebTransferObserver* observer, std::int32_t& errorCode,
            std::string& errorText) override {
    HINTERNET handle = nullptr;
    auto fail = [&]() {
      DWORD code = GetLastError();
      errorCode = static_cast<std::int32_t>(code);
      errorText = LastErrorText(code);
      if (handle) gInet.InternetCloseHandle(handle);
      return false;
    };
    if (!connect_) {
      SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
      return fail();
    }
    handle = gInet.HttpOpenRequestA(connect_, request.Verb.c_str(), request.Object.c_str(), nullptr, nullptr, nullptr,
                                    request.Flags, reinterpret_cast<DWORD_PTR>(this));
    if (!handle) return fail();
    if (endpoint_.Https) IgnoreUnknownAuthority(handle);
    AddHeaders(handle, request.Headers);
    if (!endpoint_.Proxy.empty()) SetProxyLogin(handle, endpoint_.ProxyUser, endpoint_.ProxyPassword);
    bool sent = WriteBody(handle, request.Body, 4096, [&](std::size_t written) {
      if (observer) observer->Written(written, request.Body.size());
    });
    if (!sent) return fail();
    if (observer) observer->WriteEnded();

    std::string text;
    QueryInfo(handle, HTTP_QUERY_STATUS_CODE, text);
    answer.StatusCode = static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
    QueryInfo(handle, HTTP_QUERY_STATUS_TEXT, answer.StatusText);
    QueryInfo(handle, HTTP_QUERY_RAW_HEADERS_CRLF, answer.RawHeaders);
    std::size_t length = 1;
    if (QueryInfo(handle, HTTP_QUERY_CONTENT_LENGTH, text)) length = std::strtoul(text.c_str(), nullptr, 10);
    QueryInfo(handle, HTTP_QUERY_LOCATION, answer.Location);
    if (!QueryInfo(handle, HTTP_QUERY_REFRESH, answer.Refresh) || answer.Refresh.empty())
      answer.Refresh = RawHeaderValue(answer.RawHeaders, "Refresh");  // not every WinINet maps this query
    char piece[4096];
    for (;;) {
      DWORD read = 0;
      if (!gInet.InternetReadFile(handle, piece, sizeof piece, &read)) return fail();
      if (read == 0) break;
      answer.Body.append(piece, read);
      if (observer) observer->Read(answer.Body.size(), length);
    }
    gInet.InternetCloseHandle(handle);
    return true;
  }

 private:
  TWebEndpoint endpoint_;
  HINTERNET internet_ = nullptr;
  HINTERNET connect_ = nullptr;
};

// New connections take WinINet once this unit is part of the program.
const bool gInstalled = (InstallWinInetTransport(), true);

}  // namespace

bool BindWinInet() {
  if (gInet.Library) return true;
  gInet.Library = LoadLibraryA("wininet.dll");
  if (!gInet.Library) return false;
  bool ok = Bind(gInet.InternetOpenA, "InternetOpenA") && Bind(gInet.InternetConnectA, "InternetConnectA") &&
            Bind(gInet.HttpOpenRequestA, "HttpOpenRequestA") &&
            Bind(gInet.HttpAddRequestHeadersA, "HttpAddRequestHeadersA") &&
            Bind(gInet.HttpSendRequestA, "HttpSendRequestA") && Bind(gInet.HttpSendRequestExA, "HttpSendRequestExA") &&
            Bind(gInet.InternetWriteFile, "InternetWriteFile") && Bind(gInet.HttpEndRequestA, "HttpEndRequestA") &&
            Bind(gInet.HttpQueryInfoA, "HttpQueryInfoA") && Bind(gInet.InternetCloseHandle, "InternetCloseHandle") &&
            Bind(gInet.InternetQueryOptionA, "InternetQueryOptionA") &&
            Bind(gInet.InternetSetOptionA, "InternetSetOptionA") && Bind(gInet.FtpOpenFileA, "FtpOpenFileA") &&
            Bind(gInet.InternetGetLastResponseInfoA, "InternetGetLastResponseInfoA") &&
            Bind(gInet.InternetOpenUrlA, "InternetOpenUrlA") && Bind(gInet.InternetReadFile, "InternetReadFile") &&
            Bind(gInet.InternetGetConnectedState, "InternetGetConnectedState");
  if (!ok) FreeWinInet();
  return ok;
}

void FreeWinInet() {
  if (gInet.Library) FreeLibrary(gInet.Library);
  gInet = TWinInet{};
}

void GetWinInetErrorText(std::int32_t code, std::string& text) {
  text.clear();
  if (gInet.Library) {
    std::string buffer(3000, '\0');
    for (int tries = 0; tries < 64; ++tries) {
      DWORD error = 0;
      DWORD length = static_cast<DWORD>(buffer.size());
      if (gInet.InternetGetLastResponseInfoA(&error, buffer.data(), &length)) {
        text.assign(buffer.data(), std::min<std::size_t>(length, buffer.size()));
        break;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
      buffer.assign(std::max<std::size_t>(length + 1, buffer.size() + 100), '\0');
    }
  }
  if (text.empty()) text = WinInetErrorMessage(code);
}

std::unique_ptr<TWebTransport> CreateWinInetTransport() {
  return std::make_unique<TWinInetTransport>();
}

void InstallWinInetTransport() {
  SetWebTransportFactory(&CreateWinInetTransport);
}

void SetFtpConnectFlags(std::uint32_t flags) {
  gFtpConnectFlags = flags;
}

namespace {

// Ends an upload: the error text for a failed call and WinINet freed.
std::int32_t FinishUpload(std::int32_t result, std::string& errorText) {
  if (result != 0 && errorText.empty()) GetWinInetErrorText(result, errorText);
  FreeWinInet();
  return result;
}

void Report(const TUploadProgress& progress, int stage, std::size_t total, std::size_t done) {
  if (progress) progress(stage, total, done);
}

}  // namespace

std::int32_t UploadFilesByHttp(const std::string& host, const std::string& path, const std::string& user,
                               const std::string& password, std::uint16_t port, bool https,
                               const std::vector<std::string>& files, const std::vector<std::string>& remoteNames,
                               const TNameValueList& fields, const TUploadProgress& progress, std::string& errorText) {
  errorText.clear();
  if (!BindWinInet()) return -1;
  std::string boundary = NewFormBoundary();
  std::string body = BuildUploadBody(files, remoteNames, fields, boundary);
  Report(progress, 0, body.size(), 0);
  HINTERNET internet = nullptr, connect = nullptr, request = nullptr;
  std::int32_t result = 0;
  auto failed = [&]() { result = static_cast<std::int32_t>(GetLastError()); };
  do {
    internet = OpenInternet(UploadProxy());
    if (!internet) {
      failed();
      break;
    }
    connect = gInet.InternetConnectA(internet, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connect) {
      failed();
      break;
    }
    Report(progress, 1, body.size(), 0);
    request = gInet.HttpOpenRequestA(connect, "POST", path.c_str(), nullptr, nullptr, nullptr,
                                     https ? kHttpsUploadRequestFlags : kUploadRequestFlags, 0);
    if (!request) {
      failed();
      break;
    }
    if (https) IgnoreUnknownAuthority(request);
    std::vector<std::string> headers{"Content-Type: multipart/form-data; boundary=" + boundary};
    if (!user.empty() || !password.empty()) headers.push_back(BasicAuthorizationHeader(user, password));
    AddHeaders(request, headers);
    if (!UploadProxy().empty()) SetProxyLogin(request, UploadProxyUser(), UploadProxyPassword());
    bool sent = WriteBody(request, body, 1024, [&](std::size_t written) {
      Report(progress, 2, body.size(), std::min(written, body.size()));
    });
    if (!sent) {
      failed();
      break;
    }
    std::string status;
    QueryInfo(request, HTTP_QUERY_STATUS_CODE, status);
    char* end = nullptr;
    long code = std::strtol(status.c_str(), &end, 10);
    if (status.empty() || *end != '\0') code = 0x7FFFFFFF;
    if (code != 200) {
      result = static_cast<std::int32_t>(code);
      QueryInfo(request, HTTP_QUERY_STATUS_TEXT, errorText);
      if (errorText.empty()) errorText = "HTTP status " + status;
    }
  } while (false);
  if (request) gInet.InternetCloseHandle(request);
  if (connect) gInet.InternetCloseHandle(connect);
  if (internet) gInet.InternetCloseHandle(internet);
  return FinishUpload(result, errorText);
}

std::int32_t UploadFilesByFtp(const std::string& host, const std::string& folder, const std::string& user,
                              const std::string& password, std::uint16_t port, const std::vector<std::string>& files,
                              const std::vector<std::string>& remoteNames, const TUploadProgress& progress,
                              std::string& errorText) {
  errorText.clear();
  if (files.empty()) return 0;
  if (!BindWinInet()) return -1;
  std::size_t total = 0;
  for (const std::string& file : files) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data))
      total += (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  Report(progress, 0, total, 0);
  HINTERNET internet = nullptr, connect = nullptr;
  std::int32_t result = 0;
  do {
    internet = OpenInternet(UploadProxy());
    if (!internet) {
      result = static_cast<std::int32_t>(GetLastError());
      break;
    }
    connect = gInet.InternetConnectA(internet, host.c_str(), port, user.c_str(), password.c_str(), INTERNET_SERVICE_FTP,
                                     gFtpConnectFlags, 0);
    if (!connect) {
      result = static_cast<std::int32_t>(GetLastError());
      break;
    }
    Report(progress, 1, total, 0);
    for (std::size_t i = 0; i < files.size() && result == 0; ++i) {
      std::string bytes;
      if (!ReadWholeFile(files[i], bytes)) continue;
      std::string remote = FtpRemotePath(folder, i < remoteNames.size() ? remoteNames[i] : FileNameOf(files[i]));
      HINTERNET file = gInet.FtpOpenFileA(connect, remote.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
      if (!file) {
        result = static_cast<std::int32_t>(GetLastError());
        break;
      }
      std::size_t written = 0;
      while (written < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(1024, bytes.size() - written));
        DWORD done = 0;
        if (!gInet.InternetWriteFile(file, bytes.data() + written, chunk, &done) || done == 0) {
          result = static_cast<std::int32_t>(GetLastError());
          break;
        }
        written += done;
        Report(progress, 2, total, written);
      }
      if (!gInet.InternetCloseHandle(file) && result == 0) result = static_cast<std::int32_t>(GetLastError());
    }
  } while (false);
  if (connect) gInet.InternetCloseHandle(connect);
  if (internet) gInet.InternetCloseHandle(internet);
  return FinishUpload(result, errorText);
}

void InitEWebTools() {
  InstallWinInetTransport();
}

void DoneEWebTools() {
  FreeWinInet();
  SetUploadProxy("", 0);
  SetUploadProxyLogin("", "");
}
