// Arbitrary bytes as help-project map files: the input is cut at each
// "\xFF\xFE" into the main file a.h and the files b.h, c.h, ... that its
// "#include" lines may name. Parsing must end (cycles and depth are bounded),
// never fail but with the I/O error of an unreadable file, drop zero hashes and
// leave the table sorted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FileApi.h"
#include "QhrContextMap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MemoryFileApi files;
  char name = 'a';
  for (;;) {
    std::size_t cut = bytes.find("\xFF\xFE");
    files.Add(std::string(1, name) + ".h", std::string(bytes.substr(0, cut)));
    if (cut == std::string_view::npos || name == 'h') break;
    bytes.remove_prefix(cut + 2);
    ++name;
  }
  SetFileApi(&files);
  TOwned<THelpContextMap> map(New<THelpContextMap>(nullptr));
  map->SetFileName("a.h");
  SetFileApi(nullptr);
  for (int i = 0; i < map->Count(); ++i) {
    THelpMapEntry e = map->Entry(i);
    if (e.Hash == 0) std::abort();
    if (i > 0 && map->Entry(i - 1).Hash > e.Hash) std::abort();
  }
  return 0;
}
