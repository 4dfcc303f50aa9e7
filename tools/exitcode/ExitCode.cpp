// exitcode PROGRAM [ARGS...]: starts the program, waits for it and prints
// "exit code: 0xXXXXXXXX". Its own exit code is 0 when the program ran, 2
// when it could not be started.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// One argument as the program's command line needs it quoted.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    if (c == '"')
      out.append(slashes * 2 + 1, '\\');
    else
      out.append(slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, '\\');
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: exitcode PROGRAM [ARGS...]\n");
    return 2;
  }
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += Quote(argv[i]);
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("exitcode: cannot start %s (error %lu)\n", argv[1], static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::printf("exit code: 0x%08lX\n", static_cast<unsigned long>(code));
  std::fflush(stdout);
  return 0;
}
