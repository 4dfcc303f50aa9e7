#include "EZlib2.h"

#include <zlib.h>

#include <cstring>

namespace {

[[noreturn]] void Fail(int code) {
  const char* text = zError(code);
  throw EZLibError(text && *text ? text : "zlib error");
}

}  // namespace

int InflateBuffer(const void* input, std::size_t inputSize, std::string& output, std::size_t maxOutput) {
  output.clear();
  const std::size_t step = inputSize == 0 ? 256 : (inputSize + 255) / 256 * 256;
  std::string out(step, '\0');
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  zs.next_in = static_cast<Bytef*>(const_cast<void*>(input));
  zs.avail_in = static_cast<uInt>(inputSize);
  int rc = inflateInit(&zs);
  if (rc < 0) Fail(rc);
  std::size_t produced = 0;
  for (;;) {
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = static_cast<uInt>(out.size() - produced);
    rc = inflate(&zs, Z_NO_FLUSH);
    produced = out.size() - zs.avail_out;
    // A stream that asks for a preset dictionary cannot be read here.
    if (rc < 0 || rc == Z_NEED_DICT) {
      inflateEnd(&zs);
      Fail(rc < 0 ? rc : Z_DATA_ERROR);
    }
    if (rc != Z_OK) break;
    if (out.size() + step > maxOutput) {
      inflateEnd(&zs);
      throw EZLibError("inflated data too large");
    }
    out.resize(out.size() + step);
  }
  rc = inflateEnd(&zs);
  if (rc < 0) Fail(rc);
  out.resize(produced);
  output = std::move(out);
  return 0;
}
