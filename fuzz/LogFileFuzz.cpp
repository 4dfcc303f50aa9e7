// The log-file reader over arbitrary bytes: the entries it keeps each hold a
// table and end in three CRLF; every header item can be asked for and set;
// the XML form of what was read is plain ASCII with no control bytes but
// CR and LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ELogManager.h"
#include "EXMLBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TOwned<TLogFile> log(New<TLogFile>());
  log->LoadText(text);
  for (int i = 0; i < log->GetEntryCount(); ++i) {
    const std::string& entry = log->Entry(i);
    if (entry.find("-\r\n|") == std::string::npos || entry.size() < 6 ||
        entry.compare(entry.size() - 6, 6, "\r\n\r\n\r\n") != 0)
      std::abort();
  }
  const std::string numbers[] = {"2.7", "2.8", "1.1", "3.5", "10.19", "2", ""};
  std::string value;
  for (const std::string& number : numbers)
    for (int i = -1; i <= log->GetEntryCount(); ++i) log->GetEntryField(number, i, value);
  log->FindMatchingField({"2.7", "2.8"}, 1, {"4F2A", "1"});
  if (size > 0) log->SetPassword("pw");
  std::string xml;
  log->GetXmlText(xml);
  for (const char c : xml) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 || (b < 0x20 && b != '\r' && b != '\n')) std::abort();
  }
  if (log->GetEntryCount() > 0) {
    log->SetEntryField("2.8", "2", 0, "Count");
    log->SetEntryField("2.11", "x\r\ny: z", 0, "Extra");
    log->GetEntryField("2.8", 0, value);
    log->AppendEntry("VantorLog 6.0.22\r\n-\r\n|", 2);
  }
  return 0;
}
