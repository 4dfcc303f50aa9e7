// The disassembler's speed on real code: 1 MB of the cross compiler's C++
// runtime library code, decoded instruction by instruction into text, beside
// the time objdump takes to list the same bytes in the same run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "EDisAsm.h"
#include "EHook.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

}  // namespace

int main() {
  const std::string text = "/tmp/disasm-bench-" + std::to_string(::getpid()) + ".bin";
  const std::string copy = std::string(PELLORY_I686_OBJCOPY) + " -O binary --only-section=.text '" +
                           PELLORY_BENCH_CODE_LIBRARY + "' '" + text + "'";
  if (std::system(copy.c_str()) != 0) {
    std::fprintf(stderr, "cannot take the code of %s\n", PELLORY_BENCH_CODE_LIBRARY);
    return 1;
  }
  std::vector<std::uint8_t> code;
  {
    std::ifstream in(text, std::ios::binary);
    code.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (code.size() < (1u << 20)) {
    std::fprintf(stderr, "only %zu bytes of code\n", code.size());
    return 1;
  }
  code.resize(1u << 20);
  {
    std::ofstream out(text, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(code.data()), static_cast<std::streamsize>(code.size()));
  }

  RegionMemoryReader memory;
  memory.AddRegion(0x10001000, code);
  TDisAsm disasm;
  std::size_t instructions = 0, textBytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint32_t at = 0; at < code.size();) {
    int length = 0;
    std::string line;
    DisassembleInstruction(disasm, memory, 0x10001000 + at, length, line);
    if (length <= 0) break;
    at += static_cast<std::uint32_t>(length);
    textBytes += line.size();
    ++instructions;
  }
  const double ours = Seconds(start);

  const std::string list = std::string(PELLORY_I686_OBJDUMP) + " -D -b binary -m i386 -M intel '" + text + "'";
  const auto objdumpStart = std::chrono::steady_clock::now();
  FILE* pipe = popen(list.c_str(), "r");
  std::size_t lines = 0;
  if (pipe) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) ++lines;
    pclose(pipe);
  }
  const double theirs = Seconds(objdumpStart);
  std::remove(text.c_str());

  std::printf("disassembling 1 MB of real code: %zu instructions (%zu bytes of text) in %.3f s, %.0f instructions/s\n",
              instructions, textBytes, ours, instructions / ours);
  std::printf("reference, objdump on the same bytes: %zu lines in %.3f s, %.0f lines/s\n", lines, theirs,
              lines / theirs);
  return 0;
}
