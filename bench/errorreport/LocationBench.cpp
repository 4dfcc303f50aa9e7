// Naming a full call stack: 1024 return addresses looked up in a module whose
// line table (written by vldata's writer, names enciphered as in a current
// block) holds 5000 functions in 200 source files. Beside it, in the same
// run: one pass over the whole table, which the first lookup in a module
// makes to index its unit records. Goal: the whole stack under 50 ms.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "ELocation.h"
#include "VLDebugWriter.h"

namespace {

template <class F>
double Seconds(F&& f, int repeat) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat; ++i) f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repeat;
}

}  // namespace

int main() {
  std::mt19937 rng(7);
  TVLLineTableInput in;
  in.Password = "secret";
  std::uint32_t at = 0;
  for (int f = 0; f < 5000; ++f) {
    const std::string file = "source" + std::to_string(f / 25) + ".cpp";
    in.Functions.push_back({at, "Class" + std::to_string(f / 10), "Method" + std::to_string(f)});
    std::uint32_t line = 10 + static_cast<std::uint32_t>(f % 25) * 40;
    for (int r = 0; r < 8; ++r) {
      in.Rows.push_back({file, line, at, false});
      line += (r == 5) ? static_cast<std::uint32_t>(-3) : 1 + rng() % 4;  // a loop's condition line comes back
      at += 2 + rng() % 30;
    }
  }
  in.Rows.push_back({"", 0, at, true});
  const std::uint32_t end = at;

  TVantorModuleInfo entry;
  entry.Handle = 0x400000;
  entry.Password = in.Password;
  entry.DebugData = New<TMemoryStream>();
  const std::string table = MakeLineTable(in);
  entry.DebugData->WriteBuffer(table.data(), static_cast<std::int64_t>(table.size()));

  std::vector<std::uint64_t> stack;
  for (int i = 0; i < 1024; ++i) stack.push_back(CodeAddressFromOffset(entry.Handle, rng() % end));
  int named = 0;
  const double whole = Seconds(
      [&] {
        for (std::uint64_t address : stack) {
          TVLLocationInfo l;
          l.Module = &entry;
          named += LocateInOwnDebugData(address, l) ? 1 : 0;
        }
      },
      3);
  // The first lookup in a module reads every unit record's header once.
  const double fullWalk = Seconds(
      [&] {
        entry.DebugDataIndex.reset();
        TVLLocationInfo l;
        l.Module = &entry;
        LocateInOwnDebugData(CodeAddressFromOffset(entry.Handle, end + 100), l);
      },
      20);
  std::printf("line table: %zu bytes, 5000 functions\n", table.size());
  std::printf("naming 1024 addresses: %.2f ms (%.1f us per address; %d of %d named)\n", whole * 1e3, whole * 1e6 / 1024,
              named / 3, 1024);
  std::printf("reference, one pass over the whole table (the first lookup's index): %.1f us\n", fullWalk * 1e6);
  std::printf("goal: a whole stack under 50 ms: %s\n", whole < 0.05 ? "met" : "NOT met");
  FreeAndNil(entry.DebugData);
  return 0;
}
