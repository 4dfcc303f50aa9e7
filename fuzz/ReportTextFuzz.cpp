// The whole text report over random memory and random outside names: the
// first bytes choose the exception's offset in a code image made of the
// rest (an exact-size region followed by unreadable memory), the stack is
// the same bytes, and module, process and stack-entry names are cut from
// them (with CR, LF and "|" among them). Every row of the call-stack,
// modules and processes tables is as wide as its rules, and nothing is read
// outside the regions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ECallStack.h"
#include "EHook.h"
#include "EReportBuilder.h"
#include "ExceptionLog.h"

namespace {

class NoFacts : public StackGroupFacts {
 public:
  std::int32_t ThreadPriority(const TVantorThreadInfo&) override { return 0; }
  std::string ThreadClassName(const TObject*) override { return std::string(); }
};

// Each table row ("|...|") is as long as the rule above it.
void CheckRows(const std::string& report) {
  std::size_t rule = 0;
  for (std::size_t at = 0; at < report.size();) {
    std::size_t end = report.find("\r\n", at);
    if (end == std::string::npos) end = report.size();
    const std::string line = report.substr(at, end - at);
    if (!line.empty() && line.find_first_not_of('-') == std::string::npos) rule = line.size();
    if (!line.empty() && line[0] == '|' && (line.size() != rule || line.back() != '|')) std::abort();
    at = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t offset = (data[0] | (data[1] << 8)) % size;
  const std::string text(reinterpret_cast<const char*>(data), size);
  RegionMemoryReader memory;
  memory.AddRegion(0x401000, std::vector<std::uint8_t>(data, data + size));
  memory.AddRegion(0x12FF00, std::vector<std::uint8_t>(data, data + size));

  TOwned<TVantorModuleOptions> options(New<TVantorModuleOptions>(""));
  TOwned<TVantorModulesList> modules(New<TVantorModulesList>());
  auto* module = new TVantorModuleInfo;
  module->Handle = 0x400000;
  module->FileName = text.substr(0, size / 2);
  module->Description = text.substr(size / 2);
  modules->AddModule(module);
  TOwned<TVantorProcessesList> processes(New<TVantorProcessesList>());
  auto* process = new TVantorProcessInfo;
  process->FileName = text.substr(size / 3);
  processes->AddProcess(process);
  TOwned<TVantorStackList> stack(New<TVantorStackList>());
  for (std::size_t i = 0; i < 3; ++i) {
    auto* e = new TVLLocationInfo;
    e->Kind = 4;
    e->Module = module;
    e->Address = 0x401000 + offset + i;
    e->ThreadId = data[2 + i % 2];
    e->FirstEntry = data[3] & (1u << i) ? 1 : 0;
    e->OwnStack = data[3] & (8u << i) ? 1 : 0;
    e->UnitName = text.substr(i, 40);
    e->ProcedureName = text.substr(size / 4, 300);
    e->Line = data[2];
    stack->AddEntry(e);
  }
  TReportRegisters registers;
  NoFacts facts;
  TTextReportFrame frame;
  frame.Options = options.get();
  frame.Sources.Memory = &memory;
  frame.Sources.Locate = [&](std::uint32_t address, TVLLocationInfo& location) {
    location.Kind = 4;
    location.UnitName = text.substr(address % size, 12);
    location.Line = static_cast<std::int32_t>(address / 3);
    return true;
  };
  frame.Address = 0x401000 + offset;
  frame.Registers = data[3] & 0x80 ? &registers : nullptr;
  frame.StackPointer = 0x12FF00 + (data[2] % size);
  frame.CallStack = stack.get();
  frame.GroupFacts = &facts;
  frame.Modules = modules.get();
  frame.Processes = processes.get();
  TReportTexts texts;
  BuildTextReport(frame, texts);
  CheckRows(texts.Stack);
  return 0;
}
