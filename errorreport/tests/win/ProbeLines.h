// What the exception library's test programs print: "key=value" lines, each
// flushed at once (the process may end at any point), or appended to the file
// RESULT_FILE names when that is set (a windowed program has no console).
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ExceptionLog.h"
#include "Units.h"

inline void Line(const std::string& key, const std::string& value) {
  if (const char* file = std::getenv("RESULT_FILE")) {
    if (FILE* f = std::fopen(file, "a")) {
      std::fprintf(f, "%s=%s\n", key.c_str(), value.c_str());
      std::fclose(f);
    }
    return;
  }
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

// Runs the program's unit table and says whether the library came up ("initialized=1").
template <std::size_t N>
bool StartUnits(UnitEntry (&units)[N]) {
  SetUnitTable(units, N);
  RunUnitInitializations();
  Line("initialized", std::to_string(VantorLogFlags().Initialized));
  return VantorLogFlags().Initialized == 1;
}
