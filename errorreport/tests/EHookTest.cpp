// The hooking engine's portable half: the length decoder (its own examples,
// and a generated corpus against the cross objdump's reading of the same
// bytes), measuring code up to its return, and trampolines built on byte
// images.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "EHook.h"
#include "ObjdumpSlots.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct LengthCase {
  Bytes code;
  bool ok;
  int length;
};

TEST(InstructionLength, ExamplesAndForms) {
  const LengthCase cases[] = {
      {{0x66, 0xB8, 0x34, 0x12}, true, 4},                     // mov ax, imm16
      {{0xB8, 1, 2, 3, 4}, true, 5},                           // mov eax, imm32
      {{0x0F, 0x84, 1, 2, 3, 4}, true, 6},                     // jz rel32
      {{0x8B, 0x44, 0x24, 0x08}, true, 4},                     // mov eax, [esp+8]
      {{0x0F, 0x0F, 0xC0, 0x00}, false, 1},                    // refused by the tables
      {{0x55}, true, 1},                                       // push ebp
      {{0x8B, 0xEC}, true, 2},                                 // mov ebp, esp
      {{0xC2, 0x08, 0x00}, true, 3},                           // ret 8
      {{0xC8, 0x10, 0x00, 0x00}, true, 4},                     // enter
      {{0xEA, 1, 2, 3, 4, 5, 6}, true, 7},                     // jmp far ptr16:32
      {{0x66, 0xEA, 1, 2, 3, 4}, true, 6},                     // jmp far ptr16:16
      {{0x81, 0x84, 0x24, 1, 2, 3, 4, 5, 6, 7, 8}, true, 11},  // add [esp+disp32], imm32
      {{0x66, 0x81, 0xC0, 1, 2}, true, 5},                     // add ax, imm16
      {{0x8B, 0x04, 0x25, 1, 2, 3, 4}, true, 7},               // SIB with no base: disp32
      {{0x67, 0x8B, 0x06, 1, 2}, true, 5},                     // 16-bit addressing, disp16
      {{0x67, 0x8B, 0x40, 1}, true, 4},                        // 16-bit addressing, disp8
      {{0xF6, 0xC0, 0x01}, true, 3},                           // test al, imm8
      {{0xF6, 0xD0}, true, 2},                                 // not al: no immediate
      {{0xF7, 0x05, 1, 2, 3, 4, 5, 6, 7, 8}, true, 10},        // test [abs32], imm32
      {{0x0F, 0xBA, 0xE0, 0x03}, true, 4},                     // bt eax, 3
      {{0x2E, 0x3E, 0x74, 0x10}, true, 4},                     // prefixes count
      {{0x26}, false, 0},                                      // runs past the bytes
      {{0x8B}, false, 0},                                      // ModRM missing
      {{0x8B, 0x04}, false, 0},                                // SIB missing
  };
  for (const LengthCase& c : cases) {
    int length = -1;
    EXPECT_EQ(GetInstructionLength(c.code.data(), c.code.size(), length), c.ok) << ::testing::PrintToString(c.code);
    EXPECT_EQ(length, c.length) << ::testing::PrintToString(c.code);
  }
}

TEST(MeasureCodeToReturn, CountsUpToTheFirstReturn) {
  struct Case {
    Bytes code;
    std::size_t maxLength;
    std::size_t expected;
  } cases[] = {
      {{0x55, 0x8B, 0xEC, 0x5D, 0xC3}, 64, 5},                    // push, mov, pop, ret
      {{0x90, 0x90, 0xC2, 0x08, 0x00}, 3, 5},                     // a return starting inside the limit
      {{0x90, 0x90, 0x90, 0xC3}, 3, 1},                           // the return starts past the limit
      {{0xC7, 0x45, 0xFC, 1, 0, 0, 0, 0xC9, 0xC3}, 64, 9},        // mov [ebp-4], imm and leave are no returns
      {{0xC6, 0x00, 0x01, 0xC4, 0x00, 0xC5, 0x00, 0xCB}, 64, 8},  // nor mov r/m8, les, lds; retf is one
      {{0x0F, 0x38, 0xC0, 0xC3}, 64, 4},                          // an undecodable byte counts 1
      {{0x66, 0xC3}, 64, 2},                                      // prefixed return
      {{0x90, 0x90}, 64, 1},                                      // the readable bytes end first
      {{0xC3}, 0, 0},
  };
  for (const Case& c : cases) {
    RegionMemoryReader memory;
    memory.AddRegion(0x401000, c.code);
    EXPECT_EQ(MeasureCodeToReturn(memory, 0x401000, c.maxLength), c.expected) << ::testing::PrintToString(c.code);
  }
  RegionMemoryReader empty;
  EXPECT_EQ(MeasureCodeToReturn(empty, 0x401000, 16), 1u);
}

// Decodes the trampoline's instructions: (offset, bytes) each.
std::vector<Bytes> Instructions(const Bytes& code, std::size_t length) {
  std::vector<Bytes> out;
  std::size_t pos = 0;
  while (pos < length) {
    int n = 0;
    EXPECT_TRUE(GetInstructionLength(code.data() + pos, code.size() - pos, n));
    if (n <= 0) break;
    out.emplace_back(code.begin() + static_cast<std::ptrdiff_t>(pos),
                     code.begin() + static_cast<std::ptrdiff_t>(pos) + n);
    pos += static_cast<std::size_t>(n);
  }
  return out;
}

std::uint32_t Rel32Target(const Bytes& code, std::size_t at, std::size_t length, std::uint32_t base) {
  std::uint32_t rel;
  std::memcpy(&rel, code.data() + at + length - 4, 4);
  return base + static_cast<std::uint32_t>(at + length) + rel;
}

TEST(Trampolines, ShortConditionalJumpGoesThroughAStub) {
  constexpr std::uint32_t entry = 0x401000, tramp = 0x00500000;
  RegionMemoryReader memory;
  //   jz +0x10 ; mov eax, [ebp+8] ; ret
  memory.AddRegion(entry, {0x74, 0x10, 0x8B, 0x45, 0x08, 0xC3, 0x90, 0x90});
  const TCodeTrampoline t = BuildCodeTrampoline(memory, entry, tramp, "Fn");
  EXPECT_EQ(t.CopiedLength, 5u);
  EXPECT_EQ(t.Saved, (Bytes{0x74, 0x10, 0x8B, 0x45, 0x08}));
  ASSERT_EQ(t.Code.size(), 5u + 5u + 5u);  // copy, jump back, one stub
  // The short jump now reaches the stub after the closing jump.
  EXPECT_EQ(t.Code[0], 0x74);
  EXPECT_EQ(2 + static_cast<std::int8_t>(t.Code[1]), 10);
  EXPECT_EQ(Bytes(t.Code.begin() + 2, t.Code.begin() + 5), (Bytes{0x8B, 0x45, 0x08}));
  // The closing jump goes back past the copied bytes; the stub to the jump's old target.
  EXPECT_EQ(t.Code[5], 0xE9);
  EXPECT_EQ(Rel32Target(t.Code, 5, 5, tramp), entry + 5);
  EXPECT_EQ(t.Code[10], 0xE9);
  EXPECT_EQ(Rel32Target(t.Code, 10, 5, tramp), entry + 2 + 0x10);
  EXPECT_EQ(GetTrampolineSize(t.Saved.data(), t.Saved.size()), 10u);
  // A short jump cut off at the end of the measured bytes is not read past them.
  const Bytes cut = {0x90, 0x74};
  EXPECT_EQ(GetTrampolineSize(cut.data(), cut.size()), 2u);
}

TEST(Trampolines, Rel32FormsKeepTheirTargets) {
  constexpr std::uint32_t entry = 0x401000, tramp = 0x7FF00000;
  RegionMemoryReader memory;
  //   call 0x402000 ; jnz near 0x401100 ; jmp short within the copy (+0) ; nop
  Bytes code = {0xE8, 0, 0, 0, 0, 0x0F, 0x85, 0, 0, 0, 0, 0xEB, 0x00, 0x90};
  const std::uint32_t callRel = 0x402000 - (entry + 5), jccRel = 0x401100 - (entry + 11);
  std::memcpy(code.data() + 1, &callRel, 4);
  std::memcpy(code.data() + 7, &jccRel, 4);
  memory.AddRegion(entry, code);
  const TCodeTrampoline t = BuildCodeTrampoline(memory, entry, tramp, "Fn");
  EXPECT_EQ(t.CopiedLength, 5u);  // the call alone covers 5 bytes
  EXPECT_EQ(Rel32Target(t.Code, 0, 5, tramp), 0x402000u);
  EXPECT_EQ(Rel32Target(t.Code, 5, 5, tramp), entry + 5);

  // A longer copy: the near conditional jump too; the short jump stays in the copy.
  RegionMemoryReader memory2;
  Bytes code2 = {0x90, 0x90, 0x0F, 0x85, 0, 0, 0, 0, 0xEB, 0x00, 0x90};
  const std::uint32_t rel2 = 0x401100 - (entry + 8);
  std::memcpy(code2.data() + 4, &rel2, 4);
  memory2.AddRegion(entry, code2);
  const TCodeTrampoline t2 = BuildCodeTrampoline(memory2, entry, tramp, "Fn");
  EXPECT_EQ(t2.CopiedLength, 8u);
  EXPECT_EQ(t2.Code.size(), 8u + 5u);
  const std::vector<Bytes> ins = Instructions(t2.Code, t2.Code.size());
  ASSERT_EQ(ins.size(), 4u);
  EXPECT_EQ(Rel32Target(t2.Code, 2, 6, tramp), 0x401100u);
  EXPECT_EQ(Rel32Target(t2.Code, 8, 5, tramp), entry + 8);
}

TEST(Trampolines, EntriesThatCannotBeMovedAreRefused) {
  const Bytes refused[] = {
      {0x0F, 0x0F, 0xC0, 0x90, 0x90, 0x90},  // undecodable
      {0x66, 0xE9, 0x10, 0x00, 0x90, 0x90},  // 16-bit relative jump
      {0x66, 0x74, 0x10, 0x90, 0x90, 0x90},  // operand-size prefix on a short jump
      {0x90, 0x90},                          // the readable bytes end inside the first 5
  };
  for (const Bytes& code : refused) {
    RegionMemoryReader memory;
    memory.AddRegion(0x401000, code);
    try {
      BuildCodeTrampoline(memory, 0x401000, 0x500000, "Broken");
      ADD_FAILURE() << ::testing::PrintToString(code);
    } catch (const EHookingError& e) {
      EXPECT_EQ(e.Message, "Cannot hook the procedure \"Broken\".");
    }
  }
}

TEST(ImportJumps, FollowedOnlyWhenJumpAndSlotAreReadable) {
  RegionMemoryReader memory;
  memory.AddRegion(0x401000,
                   {0xFF, 0x25, 0x00, 0x30, 0x40, 0x00, 0x90, 0x90, 0xFF, 0x25, 0x00, 0x00, 0x99, 0x00, 0x90, 0x90});
  memory.AddRegion(0x403000, {0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(FollowImportJumpIn(memory, 0x401000), 0x12345678u);
  EXPECT_EQ(FollowImportJumpIn(memory, 0x401008), 0x401008u);  // the slot is unreadable
  EXPECT_EQ(FollowImportJumpIn(memory, 0x401002), 0x401002u);  // no jump there
}

#ifdef PELLORY_I686_OBJDUMP
// --- The corpus against objdump ---
// Each case sits at the start of a 32-byte slot filled with NOPs, so that
// objdump finds every case at its slot whatever length it reads.
constexpr std::size_t kSlot = 32;

struct Corpus {
  std::vector<Bytes> cases;
  void Add(Bytes b) { cases.push_back(std::move(b)); }
};

bool TakesModRm(bool twoByte, std::uint8_t op) {
  Bytes probe;
  if (twoByte) probe.push_back(0x0F);
  probe.push_back(op);
  probe.push_back(0xC0);
  int a = 0, b = 0;
  // A ModRM byte shows itself when mod 0 rm 5 (disp32) changes the length.
  Bytes withDisp = probe;
  withDisp.back() = 0x05;
  for (int i = 0; i < 8; ++i) {
    probe.push_back(0x90);
    withDisp.push_back(0x90);
  }
  const bool okA = GetInstructionLength(probe.data(), probe.size(), a);
  const bool okB = GetInstructionLength(withDisp.data(), withDisp.size(), b);
  return okA && okB && b == a + 4;
}

// Opcodes whose reg field picks the instruction.
bool GroupOpcode(bool twoByte, std::uint8_t op) {
  if (twoByte) return op == 0x00 || op == 0x01 || op == 0xBA || op == 0xC7 || (op >= 0x71 && op <= 0x73) || op == 0x18;
  return (op >= 0x80 && op <= 0x83) || op == 0x8F || op == 0xC0 || op == 0xC1 || op == 0xC6 || op == 0xC7 ||
         (op >= 0xD0 && op <= 0xD3) || op == 0xF6 || op == 0xF7 || op == 0xFE || op == 0xFF;
}

Corpus MakeCorpus() {
  Corpus corpus;
  const std::vector<Bytes> prefixSets = {{}, {0x66}, {0x67}, {0x2E}, {0x64}, {0xF3}, {0x66, 0x67}};
  for (int map = 0; map < 2; ++map) {
    for (int op = 0; op < 256; ++op) {
      const bool twoByte = map == 1;
      const auto opcode = static_cast<std::uint8_t>(op);
      if (!twoByte) {
        if (op == 0x0F) continue;
        if (op == 0x26 || op == 0x2E || op == 0x36 || op == 0x3E || op == 0x64 || op == 0x65 || op == 0x66 ||
            op == 0x67 || op == 0xF0 || op == 0xF2 || op == 0xF3)
          continue;
      }
      Bytes head;
      if (twoByte) head.push_back(0x0F);
      head.push_back(opcode);
      const bool modrm = TakesModRm(twoByte, opcode);
      for (std::size_t ps = 0; ps < prefixSets.size(); ++ps) {
        Bytes base = prefixSets[ps];
        base.insert(base.end(), head.begin(), head.end());
        if (!modrm) {
          corpus.Add(base);
          continue;
        }
        std::vector<std::uint8_t> modrms;
        if (ps == 0) {
          for (int m = 0; m < 256; m += 1)
            if ((m & 0x38) == 0 || GroupOpcode(twoByte, opcode)) modrms.push_back(static_cast<std::uint8_t>(m));
        } else {
          modrms = {0x00, 0x04, 0x05, 0x06, 0x40, 0x44, 0x80, 0x84, 0xC0, 0x08, 0xC8};
        }
        for (std::uint8_t m : modrms) {
          Bytes b = base;
          b.push_back(m);
          const unsigned mod = m >> 6, rm = m & 7;
          const bool sib = mod != 3 && rm == 4 && ps != 2 && ps != 6;
          if (sib) {
            Bytes withBase5 = b;
            withBase5.push_back(0x25);  // base 5: disp32 with mod 0
            corpus.Add(withBase5);
            b.push_back(0x24);  // base esp
          }
          corpus.Add(b);
        }
      }
    }
  }
  return corpus;
}

// objdump's lengths of the instructions that start at each slot; -1 for "(bad)".
std::map<std::size_t, int> ObjdumpLengths(const std::string& file) {
  std::map<std::size_t, int> lengths;
  for (const auto& [slot, line] : ReadObjdumpSlots(
           std::string(PELLORY_I686_OBJDUMP) + " -D -b binary -m i386 --insn-width=16 '" + file + "' 2>&1", kSlot))
    lengths[slot] = line.Length;
  return lengths;
}

std::string Hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (std::uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02X ", x);
    s += buf;
  }
  return s;
}

// Where the tables read an opcode differently from the processor, the corpus
// does not compare; none of these forms is made by a compiler for user code:
// - 0F 20-23 (moves to and from control and debug registers): privileged, and
//   the processor takes the ModRM byte as a register form whatever its mod;
// - 8F with reg 1-7: the later XOP encoding, read by the tables as pop r/m;
// - F6 and F7 with reg 1: the undocumented alias of test with an immediate;
// - A0-A3 with the address-size prefix: a 16-bit offset, read as 32-bit.
bool KnownDifference(const Bytes& code) {
  std::size_t i = 0;
  bool addressSize16 = false;
  while (i < code.size() &&
         (code[i] == 0x66 || code[i] == 0x67 || code[i] == 0x2E || code[i] == 0x64 || code[i] == 0xF3)) {
    if (code[i] == 0x67) addressSize16 = true;
    ++i;
  }
  if (i >= code.size()) return false;
  const std::uint8_t op = code[i];
  const unsigned reg = i + 1 < code.size() ? (code[i + 1] >> 3) & 7 : 0;
  if (op == 0x0F && i + 1 < code.size()) return code[i + 1] >= 0x20 && code[i + 1] <= 0x23;
  if (op == 0x8F) return reg != 0;
  if (op == 0xF6 || op == 0xF7) return reg == 1;
  if (op >= 0xA0 && op <= 0xA3) return addressSize16;
  return false;
}

TEST(InstructionLength, AgreesWithObjdumpOnAGeneratedCorpus) {
  const Corpus corpus = MakeCorpus();
  std::vector<std::uint8_t> image(corpus.cases.size() * kSlot, 0x90);
  for (std::size_t i = 0; i < corpus.cases.size(); ++i)
    std::memcpy(image.data() + i * kSlot, corpus.cases[i].data(), corpus.cases[i].size());
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("ehook-corpus-" + std::to_string(::getpid()) + ".bin");
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  const std::map<std::size_t, int> theirs = ObjdumpLengths(file.string());
  std::filesystem::remove(file);
  ASSERT_GT(theirs.size(), corpus.cases.size() * 9 / 10) << "objdump did not read the corpus";

  std::size_t compared = 0, refused = 0, unknownToObjdump = 0, mismatches = 0;
  for (std::size_t i = 0; i < corpus.cases.size(); ++i) {
    Bytes padded(image.begin() + static_cast<std::ptrdiff_t>(i * kSlot),
                 image.begin() + static_cast<std::ptrdiff_t>((i + 1) * kSlot));
    int ours = 0;
    if (!GetInstructionLength(padded.data(), padded.size(), ours)) {
      ++refused;
      continue;
    }
    auto it = theirs.find(i);
    ASSERT_NE(it, theirs.end()) << "objdump lost its way at " << Hex(corpus.cases[i]);
    if (it->second < 0) {
      ++unknownToObjdump;
      continue;
    }
    if (ours != it->second && !KnownDifference(corpus.cases[i])) {
      if (++mismatches <= 60) ADD_FAILURE() << Hex(corpus.cases[i]) << ": ours " << ours << ", objdump " << it->second;
    }
    ++compared;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(compared, 10000u);
  std::printf("corpus: %zu cases, %zu compared, %zu refused by the tables, %zu unknown to objdump\n",
              corpus.cases.size(), compared, refused, unknownToObjdump);
}
#endif

}  // namespace
