// objdump as an oracle for the instruction decoders: a corpus laid out in
// fixed-size slots, one case a slot, and objdump's reading of the instruction
// that starts each slot.
#pragma once

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

struct TObjdumpSlot {
  int Length = 0;    // the bytes objdump decoded; -1 for "(bad)"
  std::string Text;  // the mnemonic and its operands
};

// Runs `command` (objdump -D over the corpus file) and keeps, by slot number,
// the line of every instruction that starts a slot of `slotSize` bytes.
inline std::map<std::size_t, TObjdumpSlot> ReadObjdumpSlots(const std::string& command, std::size_t slotSize) {
  std::map<std::size_t, TObjdumpSlot> slots;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return slots;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::size_t colon = text.find(":\t");
    if (colon == std::string::npos) continue;
    std::size_t address;
    try {
      address = std::stoul(text.substr(0, colon), nullptr, 16);
    } catch (...) {
      continue;
    }
    if (address % slotSize != 0) continue;
    const std::size_t bytesStart = colon + 2;
    const std::size_t tab = text.find('\t', bytesStart);
    std::istringstream in(text.substr(bytesStart, tab == std::string::npos ? std::string::npos : tab - bytesStart));
    std::string token;
    int count = 0;
    while (in >> token) ++count;
    const std::string mnemonic = tab == std::string::npos ? std::string() : text.substr(tab + 1);
    slots[address / slotSize] = {mnemonic.find("(bad)") != std::string::npos ? -1 : count, mnemonic};
  }
  pclose(pipe);
  return slots;
}
