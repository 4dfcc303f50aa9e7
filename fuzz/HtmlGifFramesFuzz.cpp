// Arbitrary bytes as the data of a mark-up picture: byte 0 chooses the frame,
// the rest is the data. The frame scan must stay inside the data, frame 1
// must keep the data whole, and any frame gives at most the data's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "HtmlGifFrames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const int count = CountGifFrames(bytes);
  if (count < -1 || (count == -1 && HasGifSignature(bytes))) std::abort();
  const GifFrameSelection chosen = SelectGifFrame(bytes, data[0] % 8);
  if (chosen.bytes.size() > bytes.size()) std::abort();
  if (SelectGifFrame(bytes, 1).bytes != bytes) std::abort();
  return 0;
}
