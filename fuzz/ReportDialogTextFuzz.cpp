// Arbitrary texts for the report dialogs' text handling: the wrapped height of
// a message, the e-mail line replacement in a report, the Call Stack line cell
// and the kept placement numbers. Nothing may read out of bounds; the height
// is never below one line per text line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "EReportDialogs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int width = size > 0 ? data[0] : 0;
  const int height = MeasureTextHeight(text, width, 3, [](std::string_view w) { return static_cast<int>(w.size()); });
  if (height < 3) std::abort();
  const std::string replaced = ReplaceSenderLine(text, "me@there.org");
  if (replaced.find("\r\n  3.3 ") == std::string::npos && replaced != text) std::abort();
  std::int32_t line = 0, second = 0;
  if (ParseLineColumn(text, line, second) && (line < 0 || second < -1)) std::abort();
  PlacementNumber(text, 7);
  TSourceLine record;
  record.UnitName = text;
  record.ClassName = text;
  record.ProcedureName = text;
  const auto packed = PackSourceLineRecord(record);
  if (packed[179] != 0 || packed[269] != 0 || packed[359] != 0) std::abort();
  return 0;
}
