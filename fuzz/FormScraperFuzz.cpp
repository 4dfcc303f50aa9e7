// Arbitrary HTML for the form scraper: every tag walk ends inside the text, the
// adders find what they find, and entity decoding never makes a text longer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "EWebTools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view html(reinterpret_cast<const char*>(data), size);
  std::string decoded = DecodeHtmlEntities(std::string(html));
  if (decoded.size() > html.size()) std::abort();
  for (const char* tag : {"input", "textarea", "select", "option"}) {
    std::size_t from = 0, next = 0;
    for (;;) {
      std::string found = FindFormTag(html, tag, from, next);
      if (found.empty()) break;
      if (next <= from || next > html.size() || found.size() > html.size()) std::abort();
      std::string value;
      ReadTagAttribute(found, "name", value);
      ReadTagAttribute(found, "value", value);
      from = next;
    }
  }
  std::string value;
  for (const char* name : {"a", "project_id", "summary", "status"}) {
    FindInputValue(html, name, value);
    FindTextareaValue(html, name, value);
    FindSelectedOption(html, name, value);
    FindOptionByText(html, name, "Pellory", value);
  }
  return 0;
}
