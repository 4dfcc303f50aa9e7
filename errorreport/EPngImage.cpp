#include "EPngImage.h"

#include <zlib.h>

#include <limits>

#include "EHash.h"

struct TOctreeQuantizer::TNode {
  bool Leaf = false;
  std::uint64_t Count = 0;
  std::uint64_t Red = 0;
  std::uint64_t Green = 0;
  std::uint64_t Blue = 0;
  TNode* NextReducible = nullptr;
  std::array<std::unique_ptr<TNode>, 8> Children;
};

TOctreeQuantizer::TOctreeQuantizer() {
  root_ = std::make_unique<TNode>();
  reducible_[0] = root_.get();
}

TOctreeQuantizer::~TOctreeQuantizer() = default;

void TOctreeQuantizer::AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  TNode* node = root_.get();
  for (int depth = 0; !node->Leaf; ++depth) {
    const std::uint8_t mask = static_cast<std::uint8_t>(0x80u >> depth);
    const int index = ((red & mask) ? 4 : 0) | ((green & mask) ? 2 : 0) | ((blue & mask) ? 1 : 0);
    std::unique_ptr<TNode>& child = node->Children[static_cast<std::size_t>(index)];
    if (!child) {
      child = std::make_unique<TNode>();
      if (depth + 1 == 8) {
        child->Leaf = true;
        ++leafCount_;
      } else {
        child->NextReducible = reducible_[static_cast<std::size_t>(depth + 1)];
        reducible_[static_cast<std::size_t>(depth + 1)] = child.get();
      }
    }
    node = child.get();
  }
  ++node->Count;
  node->Red += red;
  node->Green += green;
  node->Blue += blue;
  while (leafCount_ > kPngPaletteSize) Reduce();
}

void TOctreeQuantizer::Reduce() {
  std::size_t depth = 7;
  while (depth > 0 && !reducible_[depth]) --depth;
  TNode* node = reducible_[depth];
  if (!node) return;
  reducible_[depth] = node->NextReducible;
  node->NextReducible = nullptr;
  int children = 0;
  for (std::unique_ptr<TNode>& child : node->Children) {
    if (!child) continue;
    node->Count += child->Count;
    node->Red += child->Red;
    node->Green += child->Green;
    node->Blue += child->Blue;
    child.reset();
    ++children;
  }
  node->Leaf = true;
  leafCount_ -= children - 1;
}

std::vector<TPngColor> TOctreeQuantizer::Palette() const {
  std::vector<TPngColor> out;
  std::vector<const TNode*> stack{root_.get()};
  while (!stack.empty()) {
    const TNode* node = stack.back();
    stack.pop_back();
    if (node->Leaf) {
      if (node->Count == 0) continue;
      out.push_back({static_cast<std::uint8_t>(node->Red / node->Count),
                     static_cast<std::uint8_t>(node->Green / node->Count),
                     static_cast<std::uint8_t>(node->Blue / node->Count)});
      continue;
    }
    for (std::size_t i = 8; i-- > 0;)
      if (node->Children[i]) stack.push_back(node->Children[i].get());
  }
  return out;
}

std::size_t Stride8(std::size_t width) {
  return (width * 8 + 31) / 32 * 4;
}

std::vector<TPngColor> QuantizePicture(const std::uint8_t* pixels, std::size_t width, std::size_t height,
                                       std::size_t rowBytes) {
  TOctreeQuantizer quantizer;
  if (!pixels || rowBytes < width * 3) return quantizer.Palette();
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + y * rowBytes;
    for (std::size_t x = 0; x < width; ++x) quantizer.AddColor(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
  }
  return quantizer.Palette();
}

std::uint8_t NearestPaletteIndex(const std::vector<TPngColor>& palette, TPngColor color) {
  std::uint8_t best = 0;
  long bestDistance = std::numeric_limits<long>::max();
  for (std::size_t i = 0; i < palette.size() && i < kPngPaletteSize; ++i) {
    const long dr = long{palette[i].Red} - color.Red;
    const long dg = long{palette[i].Green} - color.Green;
    const long db = long{palette[i].Blue} - color.Blue;
    const long distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<std::uint8_t>(i);
      if (distance == 0) break;
    }
  }
  return best;
}

std::vector<std::uint8_t> MapPictureToPalette(const std::uint8_t* pixels, std::size_t width, std::size_t height,
                                              std::size_t rowBytes, const std::vector<TPngColor>& palette) {
  const std::size_t stride = Stride8(width);
  std::vector<std::uint8_t> out(stride * height, 0);
  if (!pixels || rowBytes < width * 3) return out;
  for (std::size_t y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + y * rowBytes;
    for (std::size_t x = 0; x < width; ++x)
      out[y * stride + x] = NearestPaletteIndex(palette, {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
  }
  return out;
}

std::uint32_t PngChunkCrc(const std::string& typeAndData) {
  return Crc32OfBuffer(typeAndData.data(), typeAndData.size());
}

namespace {

void PutBigEndian(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value >> 24);
  out += static_cast<char>(value >> 16);
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value);
}

void WriteChunk(std::string& out, const char* type, const std::string& data) {
  std::string body = type;
  body += data;
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  out += body;
  PutBigEndian(out, PngChunkCrc(body));
}

// The deflate state, ended on every way out.
struct TDeflater {
  z_stream Stream{};
  bool Started = false;
  ~TDeflater() {
    if (Started) deflateEnd(&Stream);
  }
};

}  // namespace

std::string EncodePng(std::uint32_t width, std::uint32_t height, const std::uint8_t* indexes, std::size_t stride,
                      const std::vector<TPngColor>& palette) {
  if (width == 0 || height == 0 || !indexes || stride < width) throw EPngError("Invalid picture for PNG.");
  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBigEndian(header, width);
  PutBigEndian(header, height);
  header += std::string("\x08\x03\x00\x00\x00", 5);
  WriteChunk(out, "IHDR", header);
  std::string plte(kPngPaletteSize * 3, '\0');
  for (std::size_t i = 0; i < palette.size() && i < kPngPaletteSize; ++i) {
    plte[i * 3] = static_cast<char>(palette[i].Red);
    plte[i * 3 + 1] = static_cast<char>(palette[i].Green);
    plte[i * 3 + 2] = static_cast<char>(palette[i].Blue);
  }
  WriteChunk(out, "PLTE", plte);

  TDeflater z;
  if (deflateInit(&z.Stream, 9) != Z_OK) throw EPngError("Cannot start the PNG compression.");
  z.Started = true;
  std::string buffer(kPngMaxIdatSize, '\0');
  auto resetBuffer = [&] {
    z.Stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.Stream.avail_out = static_cast<uInt>(buffer.size());
  };
  auto flushFull = [&] {
    if (z.Stream.avail_out == 0) {
      WriteChunk(out, "IDAT", buffer);
      resetBuffer();
    }
  };
  resetBuffer();
  auto feed = [&](const std::uint8_t* data, std::size_t size) {
    z.Stream.next_in = const_cast<Bytef*>(data);
    z.Stream.avail_in = static_cast<uInt>(size);
    while (z.Stream.avail_in > 0) {
      if (deflate(&z.Stream, Z_NO_FLUSH) != Z_OK) throw EPngError("PNG compression failed.");
      flushFull();
    }
  };
  const std::uint8_t filter = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    feed(&filter, 1);
    feed(indexes + static_cast<std::size_t>(y) * stride, width);
  }
  for (;;) {
    const int rc = deflate(&z.Stream, Z_FINISH);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw EPngError("PNG compression failed.");
    flushFull();
  }
  const std::size_t left = buffer.size() - z.Stream.avail_out;
  if (left > 0) WriteChunk(out, "IDAT", buffer.substr(0, left));
  WriteChunk(out, "IEND", std::string());
  return out;
}
