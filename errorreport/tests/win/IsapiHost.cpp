// A stand-in for a web server: loads the extension named by its argument and
// calls its request entry with a control block whose server calls print what
// they are given ("status=", "header-status=", "header=", "page=" lines, CR
// and LF written as \r and \n).
#include <windows.h>

#include <httpext.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Shown(const char* data, std::size_t size) {
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\r')
      out += "\\r";
    else if (data[i] == '\n')
      out += "\\n";
    else
      out += data[i];
  }
  return out;
}

BOOL WINAPI ServerSupport(HCONN, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD type) {
  if (request == HSE_REQ_SEND_RESPONSE_HEADER) {
    const char* status = static_cast<const char*>(buffer);
    const char* header = reinterpret_cast<const char*>(type);
    std::printf("header-status=%s\n", status ? Shown(status, size ? *size : 0).c_str() : "");
    std::printf("header=%s\n", header ? Shown(header, std::strlen(header)).c_str() : "");
  }
  return TRUE;
}

BOOL WINAPI WriteClient(HCONN, LPVOID buffer, LPDWORD bytes, DWORD) {
  std::printf("page=%s\n", Shown(static_cast<const char*>(buffer), *bytes).c_str());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HMODULE extension = LoadLibraryA(argv[1]);
  if (!extension) return 3;
  auto entry = reinterpret_cast<DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*)>(
      reinterpret_cast<void*>(GetProcAddress(extension, "HttpExtensionProc")));
  if (!entry) return 4;
  EXTENSION_CONTROL_BLOCK block{};
  block.cbSize = sizeof block;
  block.ConnID = reinterpret_cast<HCONN>(1);
  block.ServerSupportFunction = &ServerSupport;
  block.WriteClient = &WriteClient;
  const DWORD result = entry(&block);
  std::printf("result=%lu\nstatus=%lu\n", static_cast<unsigned long>(result),
              static_cast<unsigned long>(block.dwHttpStatusCode));
  std::fflush(stdout);
  return 0;
}
