#include "VLDataWriter.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include "EEncrypt.h"
#include "ExceptionLog.h"

namespace {

void PutU16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutDouble(std::string& out, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int i = 0; i < 8; ++i) out += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

std::string Deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), 9) != Z_OK)
    throw std::runtime_error("vldata: zlib could not compress the data");
  out.resize(size);
  return out;
}

std::string DebugPart(const TVLDataInput& input) {
  std::string out;
  PutU32(out, static_cast<std::uint32_t>(input.debugData.size()));
  return out + input.debugData;
}

}  // namespace

std::string MakeResourceBlock(const TVLDataInput& input) {
  const std::uint16_t version = NormalizeDataVersion(input.version);
  std::string out;
  PutU32(out, input.magic);
  PutU16(out, input.version);
  PutDouble(out, input.buildTime);
  if (version >= 6000) {
    out += static_cast<char>(input.leakOptions);
    out += static_cast<char>(input.leakUseMainBlock);
  }
  if (version >= 500) {
    std::string table;
    for (const TVLDataSymbol& s : input.symbols) {
      table += static_cast<char>(s.id);
      PutU32(table, s.offset);
      PutU32(table, s.value);
    }
    PutU32(out, static_cast<std::uint32_t>(table.size()));
    out += table;
    const std::string packed = Deflate(input.options);
    PutU32(out, static_cast<std::uint32_t>(packed.size()));
    out += packed;
    std::uint8_t check[4], sealed[4];
    for (int i = 0; i < 4; ++i) check[i] = static_cast<std::uint8_t>(input.magic >> (8 * i));
    SetCipherPassword(input.password);
    EncryptBufferCbc(check, sealed, 4);
    out.append(reinterpret_cast<const char*>(sealed), 4);
    out += Deflate(DebugPart(input));
  } else if (version >= 450) {
    out += Deflate(input.options + DebugPart(input));
  } else {
    out += input.options + DebugPart(input);
  }
  return out;
}

std::string MakeTrailerBlock(const TVLDataInput& input) {
  std::string body;
  PutU16(body, input.version);
  PutDouble(body, input.buildTime);
  body += input.options;
  body += DebugPart(input);
  std::string out = body;
  PutU32(out, static_cast<std::uint32_t>(body.size()));
  PutU32(out, input.magic);
  return out;
}

std::string MakeResourceScript(const std::string& blockFile) {
  std::string path;
  for (char c : blockFile) {
    if (c == '\\' || c == '"') path += '\\';
    path += c;
  }
  return "VLDATA RCDATA \"" + path + "\"\n";
}
