// The web error page and the command line's arguments over arbitrary bytes:
// the first byte splits the input into a command line and a page template.
// Every argument is a part of the line without quotes; the page ends in the
// identifier comment.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "EWebPage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = std::min<std::size_t>(data[0], input.size());
  const std::string line = input.substr(0, split), templ = input.substr(split);
  for (std::size_t i = 0; i < 6; ++i) {
    const std::string arg = CommandLineArgument(line, i);
    if (arg.find('"') != std::string::npos || arg.size() > line.size()) std::abort();
  }
  const std::string id = WebPageIdComment(0x1234ABCDu);
  const std::string page =
      BuildWebErrorPageFrom(line, (data[0] & 1) != 0, ChooseHtmlTemplate(templ, "<%HTML_TAG%>"), "Title", id);
  if (page.size() < id.size() || page.compare(page.size() - id.size(), id.size(), id) != 0) std::abort();
  return 0;
}
