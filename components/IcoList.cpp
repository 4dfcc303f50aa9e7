#include "IcoList.h"

#include <cstdint>

#include "Exceptions.h"

namespace {

std::int64_t BytesLeft(TStream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  return left < 0 ? 0 : left;
}

std::int32_t ReadI32(TStream& stream) {
  return static_cast<std::int32_t>(stream.ReadU32());
}

}  // namespace

void ReadIconsLayout(TStream& stream, IconListBuilder& list) {
  const std::int32_t count = ReadI32(stream);
  if (count > BytesLeft(stream) / 4) throw EReadError("Stream read error");
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t size = ReadI32(stream);
    if (size <= 0) {
      list.Append({});
      continue;
    }
    if (size > BytesLeft(stream)) throw EReadError("Stream read error");
    list.Append(stream.ReadBytes(size));
  }
}

void WriteIconsLayout(TStream& stream, const std::vector<std::string>& iconFiles) {
  if (iconFiles.size() > 0x7FFFFFFF) throw EWriteError("Stream write error");
  stream.WriteU32(static_cast<std::uint32_t>(iconFiles.size()));
  for (const std::string& file : iconFiles) {
    if (file.size() > 0x7FFFFFFF) throw EWriteError("Stream write error");
    stream.WriteU32(static_cast<std::uint32_t>(file.size()));
    if (!file.empty()) stream.WriteBytes(file);
  }
}
