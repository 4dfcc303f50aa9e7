// Node streams: a million nodes with 10-character captions saved to and
// loaded from a memory stream, in MB/s, beside copying the same number of
// bytes into a memory stream in 25-byte writes, measured in the same run.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Streams.h"
#include "VirtualStringTreeCore.h"

namespace {

constexpr std::uint32_t kNodes = 1000000;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Captions "Caption" and three digits; the loaded ones are counted.
struct Captions {
  std::uint64_t loaded = 0, units = 0;
  void Get(TObject*, TVTNode* node, int, int kind, std::u16string& text) {
    if (kind != ttNormal) return;
    const std::uint32_t n = node->Index % 1000;
    text = u"Caption";
    text += char16_t(u'0' + n / 100);
    text += char16_t(u'0' + n / 10 % 10);
    text += char16_t(u'0' + n % 10);
  }
  void New(TObject*, TVTNode*, int, const std::u16string& text) {
    ++loaded;
    units += text.size();
  }
};

}  // namespace

int main() {
  Captions captions;
  TVirtualStringTreeCore source(nullptr, nullptr);
  source.OnGetText = decltype(source.OnGetText)::Bind<&Captions::Get>(&captions);
  source.SetRootChildCount(kNodes);
  for (TVTNode* n = source.FirstNode(); n; n = source.NextNode(n)) {
  }

  TMemoryStream stream;
  auto start = std::chrono::steady_clock::now();
  source.SaveTreeToStream(stream);
  const double save = Seconds(start);
  const std::int64_t bytes = stream.Size();

  TVirtualStringTreeCore target(nullptr, nullptr);
  target.OnNewText = decltype(target.OnNewText)::Bind<&Captions::New>(&captions);
  stream.SetPosition(0);
  start = std::chrono::steady_clock::now();
  target.LoadTreeFromStream(stream);
  const double load = Seconds(start);

  TMemoryStream copy;
  const unsigned char chunk[25] = {};
  start = std::chrono::steady_clock::now();
  for (std::int64_t left = bytes; left > 0; left -= 25) copy.WriteBuffer(chunk, std::min<std::int64_t>(25, left));
  const double reference = Seconds(start);

  const double mb = double(bytes) / 1e6;
  std::printf("node stream (native): %u nodes with 10-character captions, %.1f MB\n", kNodes, mb);
  std::printf("  save %.1f MB/s, load %.1f MB/s (%llu captions read back)\n", mb / save, mb / load,
              static_cast<unsigned long long>(captions.loaded));
  std::printf("  reference: the same bytes into a memory stream in 25-byte writes, %.1f MB/s\n", mb / reference);
  source.Shutdown();
  target.Shutdown();
  return captions.loaded == kNodes ? 0 : 1;
}
