#include "EHook.h"

#include <cstring>

#include "SysUtils.h"

// --- Memory readers -----------------------------------------------------------------------------------
std::size_t MemoryReader::ReadUpTo(std::uint64_t address, void* buffer, std::size_t length) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  // Whole blocks first, then byte by byte at the edge of the readable part.
  while (done < length) {
    const std::size_t step = length - done >= 4 ? 4 : 1;
    if (!Read(address + done, out + done, step)) {
      if (step == 1) break;
      if (!Read(address + done, out + done, 1)) break;
      ++done;
      continue;
    }
    done += step;
  }
  return done;
}

std::vector<std::uint8_t>& RegionMemoryReader::AddRegion(std::uint64_t base, std::vector<std::uint8_t> bytes) {
  return regions_[base] = std::move(bytes);
}

const std::vector<std::uint8_t>* RegionMemoryReader::RegionAt(std::uint64_t address, std::uint64_t& base) const {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin()) return nullptr;
  --it;
  if (address - it->first >= it->second.size()) return nullptr;
  base = it->first;
  return &it->second;
}

bool RegionMemoryReader::IsReadable(std::uint64_t address, std::size_t length) {
  ++probes_;
  std::uint64_t base;
  const std::vector<std::uint8_t>* region = RegionAt(address, base);
  if (!region) return length == 0;
  return length <= region->size() - (address - base);
}

bool RegionMemoryReader::Read(std::uint64_t address, void* buffer, std::size_t length) {
  if (length == 0) return true;
  std::uint64_t base;
  const std::vector<std::uint8_t>* region = RegionAt(address, base);
  if (!region || length > region->size() - (address - base)) return false;
  std::memcpy(buffer, region->data() + (address - base), length);
  return true;
}

std::uint32_t FollowImportJumpIn(MemoryReader& memory, std::uint32_t address) {
  std::uint8_t jump[8];
  if (!memory.Read(address, jump, sizeof jump) || jump[0] != 0xFF || jump[1] != 0x25) return address;
  std::uint32_t slot, target;
  std::memcpy(&slot, jump + 2, 4);
  if (!memory.Read(slot, &target, 4)) return address;
  return target;
}

// --- The length decoder ------------------------------------------------------------------------------
namespace {

// Per opcode a class: 15 undecodable, 14 a ModRM byte follows, 0-13 a fixed
// length after the opcode bytes (above 6: the forms with a 32-bit operand,
// 7 less, or 9 less with the operand-size prefix).
constexpr std::uint8_t kOneByteMap[256] = {
    0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0x0, 0x0, 0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0x0, 0xF,  // 0x
    0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0x0, 0x0, 0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0x0, 0x0,  // 1x
    0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0xF, 0x0, 0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0xF, 0x0,  // 2x
    0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0xF, 0x0, 0xE, 0xE, 0xE, 0xE, 0x1, 0xB, 0xF, 0x0,  // 3x
    0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0,  // 4x
    0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0,  // 5x
    0x0, 0x0, 0xE, 0xE, 0xF, 0xF, 0xF, 0xF, 0xB, 0xE, 0x1, 0xE, 0x0, 0x0, 0x0, 0x0,  // 6x
    0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1,  // 7x
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // 8x
    0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0xD, 0x0, 0x0, 0x0, 0x0, 0x0,  // 9x
    0x4, 0x4, 0x4, 0x4, 0x0, 0x0, 0x0, 0x0, 0x1, 0xB, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0,  // Ax
    0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB,  // Bx
    0xE, 0xE, 0x2, 0x0, 0xE, 0xE, 0xE, 0xE, 0x3, 0x0, 0x2, 0x0, 0x0, 0x1, 0x0, 0x0,  // Cx
    0xE, 0xE, 0xE, 0xE, 0x1, 0x1, 0x0, 0x0, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // Dx
    0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0x1, 0xB, 0xB, 0xD, 0x1, 0x0, 0x0, 0x0, 0x0,  // Ex
    0xF, 0x0, 0xF, 0xF, 0x0, 0x0, 0xE, 0xE, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0xE, 0xE,  // Fx
};
constexpr std::uint8_t kTwoByteMap[256] = {
    0xE, 0xE, 0xE, 0xE, 0xF, 0x0, 0x0, 0x0, 0x0, 0x0, 0xF, 0xF, 0xF, 0xE, 0x0, 0xF,  // 0x
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF,  // 1x
    0xE, 0xE, 0xE, 0xE, 0xF, 0xF, 0xF, 0xF, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // 2x
    0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF,  // 3x
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // 4x
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // 5x
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xF, 0xF, 0xE, 0xE,  // 6x
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0x0, 0xF, 0xF, 0xF, 0xF, 0xF, 0xF, 0xE, 0xE,  // 7x
    0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB, 0xB,  // 8x
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // 9x
    0x0, 0x0, 0x0, 0xE, 0xE, 0xE, 0xE, 0xE, 0x0, 0x0, 0x0, 0xE, 0xE, 0xE, 0xE, 0xE,  // Ax
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xF, 0xF, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // Bx
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0, 0x0,  // Cx
    0xF, 0xE, 0xE, 0xE, 0xE, 0xE, 0xF, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // Dx
    0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xF, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE,  // Ex
    0xF, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xE, 0xF,  // Fx
};

bool IsPrefix(std::uint8_t b) {
  switch (b) {
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
    case 0x66:
    case 0x67:
    case 0xF0:
    case 0xF2:
    case 0xF3:
      return true;
    default:
      return false;
  }
}

bool IsShortJump(std::uint8_t op) {
  return (op >= 0x70 && op <= 0x7F) || (op >= 0xE0 && op <= 0xE3) || op == 0xEB;
}

bool IsReturn(std::uint8_t op) {
  return op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB;
}

// One decoded instruction: its length, the prefix count and its opcode.
struct Decoded {
  bool ok = false;
  bool truncated = false;  // the bytes it needs run past the readable part
  int length = 1;
  int prefixes = 0;
  bool twoByte = false;
  bool operandSize16 = false;
  std::uint8_t opcode = 0;
};

Decoded Decode(const std::uint8_t* code, std::size_t available) {
  Decoded d;
  std::size_t p = 0;
  bool addressSize16 = false;
  while (p < available && IsPrefix(code[p])) {
    if (code[p] == 0x66) d.operandSize16 = true;
    if (code[p] == 0x67) addressSize16 = true;
    ++p;
  }
  d.prefixes = static_cast<int>(p);
  if (p >= available) {
    d.truncated = true;
    d.length = 0;
    return d;
  }
  int opcodeBytes = 1;
  std::uint8_t cls;
  if (code[p] == 0x0F) {
    if (p + 1 >= available) {
      d.truncated = true;
      d.length = 0;
      return d;
    }
    d.twoByte = true;
    d.opcode = code[p + 1];
    opcodeBytes = 2;
    cls = kTwoByteMap[d.opcode];
  } else {
    d.opcode = code[p];
    cls = kOneByteMap[d.opcode];
  }
  if (cls == 0xF) {
    d.length = 1;
    return d;
  }
  int length;
  if (cls == 0xE) {
    const std::size_t modrm = p + static_cast<std::size_t>(opcodeBytes);
    if (modrm >= available) {
      d.truncated = true;
      d.length = 0;
      return d;
    }
    const int operand =
        GetOperandBytes(code + modrm, available - modrm, d.twoByte, d.opcode, d.operandSize16, addressSize16);
    if (operand < 0) {
      d.truncated = true;
      d.length = 0;
      return d;
    }
    length = opcodeBytes + 1 + operand;
  } else {
    length = opcodeBytes + cls;
    if (cls > 6) length -= d.operandSize16 ? 9 : 7;
  }
  d.length = length + d.prefixes;
  d.ok = true;
  return d;
}

}  // namespace

int GetOperandBytes(const std::uint8_t* modrm, std::size_t available, bool twoByteOpcode, std::uint8_t opcode,
                    bool operandSize16, bool addressSize16) {
  if (available < 1) return -1;
  const unsigned mod = modrm[0] >> 6, rm = modrm[0] & 7, reg = (modrm[0] >> 3) & 7;
  int n = 0;
  if (addressSize16) {
    switch (mod) {
      case 0:
        n = rm == 6 ? 2 : 0;
        break;
      case 1:
        n = 1;
        break;
      case 2:
        n = 2;
        break;
      default:
        n = 0;
        break;
    }
  } else {
    switch (mod) {
      case 0:
        if (rm == 4) {
          if (available < 2) return -1;
          n = (modrm[1] & 7) == 5 ? 5 : 1;
        } else {
          n = rm == 5 ? 4 : 0;
        }
        break;
      case 1:
        n = rm == 4 ? 2 : 1;
        break;
      case 2:
        n = rm == 4 ? 5 : 4;
        break;
      default:
        n = 0;
        break;
    }
  }
  if (!twoByteOpcode) {
    switch (opcode) {
      case 0x6B:
      case 0x80:
      case 0x82:
      case 0x83:
      case 0xC0:
      case 0xC1:
      case 0xC6:
        n += 1;
        break;
      case 0x69:
      case 0x81:
      case 0xC7:
        n += operandSize16 ? 2 : 4;
        break;
      case 0xF6:
        if (reg == 0) n += 1;
        break;
      case 0xF7:
        if (reg == 0) n += operandSize16 ? 2 : 4;
        break;
      default:
        break;
    }
  } else {
    switch (opcode) {
      case 0x70:
      case 0x71:
      case 0x72:
      case 0x73:
      case 0xA4:
      case 0xAC:
      case 0xBA:
      case 0xC2:
      case 0xC4:
      case 0xC5:
      case 0xC6:
        n += 1;
        break;
      default:
        break;
    }
  }
  return n;
}

bool GetInstructionLength(const std::uint8_t* code, std::size_t available, int& length) {
  const Decoded d = Decode(code, available);
  length = d.length;
  return d.ok;
}

std::size_t MeasureCodeToReturn(const std::uint8_t* code, std::size_t available, std::size_t maxLength) {
  if (maxLength == 0) return 0;
  std::size_t pos = 0;
  while (pos < maxLength) {
    if (pos >= available) return 1;
    const Decoded d = Decode(code + pos, available - pos);
    if (d.truncated) return 1;
    if (d.ok && IsReturn(d.opcode) && !d.twoByte) {
      const std::size_t end = pos + static_cast<std::size_t>(d.length);
      return end <= available ? end : 1;
    }
    pos += d.ok ? static_cast<std::size_t>(d.length) : 1;
  }
  return 1;
}

std::size_t MeasureCodeToReturn(MemoryReader& memory, std::uint64_t code, std::size_t maxLength) {
  if (maxLength == 0) return 0;
  // The readable part of the code, at most maxLength bytes and one whole instruction more.
  std::vector<std::uint8_t> bytes(maxLength + kMaxDecodedBytes);
  const std::size_t got = memory.ReadUpTo(code, bytes.data(), bytes.size());
  return MeasureCodeToReturn(bytes.data(), got, maxLength);
}

// --- Trampolines -------------------------------------------------------------------------------------
std::vector<std::uint8_t> JumpBytes(std::uint32_t at, std::uint32_t target) {
  const std::uint32_t rel = target - (at + 5);
  return {0xE9, static_cast<std::uint8_t>(rel), static_cast<std::uint8_t>(rel >> 8),
          static_cast<std::uint8_t>(rel >> 16), static_cast<std::uint8_t>(rel >> 24)};
}

std::size_t GetTrampolineSize(const std::uint8_t* code, std::size_t length) {
  std::size_t size = length;
  std::size_t pos = 0;
  while (pos < length) {
    const Decoded d = Decode(code + pos, length - pos);
    if (!d.ok || d.truncated) {
      pos += 1;
      continue;
    }
    if (pos + static_cast<std::size_t>(d.length) > length) break;  // the last instruction is cut off
    if (!d.twoByte && IsShortJump(d.opcode)) {
      const auto disp = static_cast<std::int8_t>(code[pos + static_cast<std::size_t>(d.length) - 1]);
      const std::int64_t target = static_cast<std::int64_t>(pos) + d.length + disp;
      if (target < 0 || target >= static_cast<std::int64_t>(length)) size += 5;
    }
    pos += static_cast<std::size_t>(d.length);
  }
  return size;
}

namespace {

std::int32_t ReadRel32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return static_cast<std::int32_t>(v);
}

void WriteRel32(std::uint8_t* p, std::uint32_t v) {
  std::memcpy(p, &v, 4);
}

}  // namespace

void RelocateCopiedCode(std::uint8_t* copy, std::uint32_t copyAddress, std::uint32_t original, std::size_t length,
                        std::size_t stubs, const std::string& name) {
  std::size_t pos = 0;
  std::size_t nextStub = stubs;
  while (pos < length) {
    const Decoded d = Decode(copy + pos, length - pos);
    if (!d.ok || d.truncated || pos + static_cast<std::size_t>(d.length) > length)
      throw EHookingError(Format(kHookingErrorMessage, name));
    const auto len = static_cast<std::size_t>(d.length);
    const bool shortJump = !d.twoByte && IsShortJump(d.opcode);
    const bool rel32 =
        (!d.twoByte && (d.opcode == 0xE8 || d.opcode == 0xE9)) || (d.twoByte && d.opcode >= 0x80 && d.opcode <= 0x8F);
    if ((shortJump || rel32) && d.operandSize16) throw EHookingError(Format(kHookingErrorMessage, name));
    if (shortJump) {
      const auto disp = static_cast<std::int8_t>(copy[pos + len - 1]);
      const std::int64_t target = static_cast<std::int64_t>(pos) + static_cast<std::int64_t>(len) + disp;
      if (target < 0 || target >= static_cast<std::int64_t>(length)) {
        const std::uint32_t absolute = original + static_cast<std::uint32_t>(target);
        const std::vector<std::uint8_t> stub = JumpBytes(copyAddress + static_cast<std::uint32_t>(nextStub), absolute);
        std::memcpy(copy + nextStub, stub.data(), stub.size());
        const std::int64_t reach = static_cast<std::int64_t>(nextStub) - static_cast<std::int64_t>(pos + len);
        if (reach > 127) throw EHookingError(Format(kHookingErrorMessage, name));
        copy[pos + len - 1] = static_cast<std::uint8_t>(static_cast<std::int8_t>(reach));
        nextStub += 5;
      }
    } else if (rel32) {
      const std::int64_t rel = ReadRel32(copy + pos + len - 4);
      const std::int64_t target = static_cast<std::int64_t>(pos + len) + rel;
      if (target < 0 || target >= static_cast<std::int64_t>(length)) {
        const std::uint32_t absolute =
            original + static_cast<std::uint32_t>(pos + len) + static_cast<std::uint32_t>(rel);
        WriteRel32(copy + pos + len - 4, absolute - (copyAddress + static_cast<std::uint32_t>(pos + len)));
      }
    }
    pos += len;
  }
}

TCodeTrampoline BuildCodeTrampoline(MemoryReader& memory, std::uint32_t entry, std::uint32_t trampoline,
                                    const std::string& name) {
  std::uint8_t head[5 + kMaxDecodedBytes];
  const std::size_t got = memory.ReadUpTo(entry, head, sizeof head);
  // Whole instructions until at least 5 bytes are covered.
  std::size_t n = 0;
  while (n < 5) {
    const Decoded d = Decode(head + n, got - n);
    if (!d.ok || d.truncated) throw EHookingError(Format(kHookingErrorMessage, name));
    n += static_cast<std::size_t>(d.length);
  }
  if (n > got) throw EHookingError(Format(kHookingErrorMessage, name));
  TCodeTrampoline t;
  t.CopiedLength = n;
  t.Saved.assign(head, head + n);
  const std::size_t size = GetTrampolineSize(head, n) + 5;
  t.Code.assign(size, 0xCC);
  std::memcpy(t.Code.data(), head, n);
  const std::vector<std::uint8_t> back =
      JumpBytes(trampoline + static_cast<std::uint32_t>(n), entry + static_cast<std::uint32_t>(n));
  std::memcpy(t.Code.data() + n, back.data(), back.size());
  RelocateCopiedCode(t.Code.data(), trampoline, entry, n, n + 5, name);
  return t;
}
