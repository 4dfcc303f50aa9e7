// The x86 disassembler: its own forms as a table, the hooks, code that runs
// into unreadable memory, and a generated corpus against the cross objdump's
// reading of the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "EDisAsm.h"
#include "EHook.h"
#include "ObjdumpSlots.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCode = 0x00401000;

struct Listed {
  bool whole;
  int length;
  std::string text;
};

Listed Disassemble(TDisAsm& disasm, const Bytes& code, std::uint32_t at = kCode) {
  RegionMemoryReader memory;
  memory.AddRegion(at, code);
  Listed out{};
  out.whole = DisassembleInstruction(disasm, memory, at, out.length, out.text);
  return out;
}

Listed Disassemble(const Bytes& code) {
  TDisAsm disasm;
  return Disassemble(disasm, code);
}

struct FormCase {
  Bytes code;
  int length;
  const char* text;
};

TEST(DisAsm, FormsOfTheTables) {
  const FormCase cases[] = {
      // Bytes the tables leave undecoded: the data-byte form of the bytes taken.
      {{0xD6}, 1, "DB      $D6  //"},
      {{0x0F, 0x01, 0xC0}, 2, "DB      $0F, $01  //"},
      {{0xFF, 0xF8}, 2, "DB      $FF, $F8  //"},  // an empty group entry
      {{0xDD, 0xC8}, 2, "DB      $DD, $C8  //"},  // an empty x87 register form
      {{0x8D, 0xC0}, 2, "DB      $8D, $C0  //"},  // lea of a register
      {{0x66, 0xD6}, 2, "DB      $66, $D6  //"},
      // Operand size, registers and size words.
      {{0x66, 0x50}, 2, "push    ax"},
      {{0x50}, 1, "push    eax"},
      {{0x8D, 0x44, 0x24, 0x10}, 4, "lea     eax, [esp+$10]"},
      {{0xC7, 0x00, 0x78, 0x56, 0x34, 0x12}, 6, "mov     dword ptr [eax], $12345678"},
      {{0x89, 0x08}, 2, "mov     [eax], ecx"},
      {{0x8B, 0x45, 0xFC}, 3, "mov     eax, [ebp-$04]"},
      {{0x0F, 0xB6, 0x45, 0x08}, 4, "movzx   eax, byte ptr [ebp+$08]"},
      {{0x66, 0x0F, 0xBE, 0xC1}, 4, "movsx   ax, cl"},
      {{0x80, 0x3D, 0x00, 0x20, 0x40, 0x00, 0x05}, 7, "cmp     byte ptr [$402000], $05"},
      {{0x83, 0xC4, 0xF0}, 3, "add     esp, -$10"},
      {{0x83, 0x45, 0x08, 0x01}, 4, "add     dword ptr [ebp+$08], +$01"},
      {{0x66, 0xC7, 0x06, 0x34, 0x12}, 5, "mov     word ptr [esi], $1234"},
      {{0xF7, 0xD8}, 2, "neg     eax"},
      {{0xF6, 0x40, 0x04, 0x80}, 4, "test    byte ptr [eax+$04], $80"},
      {{0xFF, 0x15, 0x00, 0x30, 0x40, 0x00}, 6, "call    dword ptr [$403000]"},
      {{0xFF, 0x1D, 0x00, 0x30, 0x40, 0x00}, 6, "call    [$403000]"},  // far: no size word
      {{0xFE, 0x0F}, 2, "dec     byte ptr [edi]"},
      {{0xD1, 0xE0}, 2, "shl     eax, 1"},
      {{0xC1, 0x7D, 0x08, 0x02}, 4, "sar     dword ptr [ebp+$08], $02"},
      // Addressing forms.
      {{0x8B, 0x04, 0x8D, 0x00, 0x10, 0x40, 0x00}, 7, "mov     eax, [$401000+ecx*4]"},
      {{0x8B, 0x44, 0x8E, 0x80}, 4, "mov     eax, [esi+ecx*4-$80]"},
      {{0x8B, 0x84, 0x24, 0x00, 0x01, 0x00, 0x00}, 7, "mov     eax, [esp+$0100]"},
      {{0x8B, 0x80, 0xF0, 0xFF, 0xFF, 0xFF}, 6, "mov     eax, [eax+$FFFFFFF0]"},
      {{0x64, 0x8B, 0x05, 0x00, 0x00, 0x00, 0x00}, 7, "mov     eax, fs:[$0000]"},
      {{0x64, 0xA1, 0x18, 0x00, 0x00, 0x00}, 6, "mov     eax, fs:[$0018]"},
      {{0x67, 0x8B, 0x47, 0x02}, 4, "mov     eax, [bx+$02]"},
      {{0x67, 0x8B, 0x06, 0x34, 0x12}, 5, "mov     eax, [$1234]"},
      {{0x67, 0xA1, 0x34, 0x12}, 4, "mov     eax, [$1234]"},
      // Immediates, relative targets, prefixes, strings.
      {{0x6A, 0xFF}, 2, "push    -$01"},
      {{0x68, 0x00, 0x10, 0x40, 0x00}, 5, "push    $00401000"},
      {{0xC2, 0x08, 0x00}, 3, "ret     $0008"},
      {{0xC8, 0x10, 0x00, 0x01}, 4, "enter   $0010, $01"},
      {{0xEB, 0xFE}, 2, "jmp     -$02"},
      {{0x74, 0x10}, 2, "je      +$10"},
      {{0xE8, 0x00, 0x01, 0x00, 0x00}, 5, "call    +$00000100"},
      {{0x0F, 0x85, 0xF0, 0xFF, 0xFF, 0xFF}, 6, "jne     -$00000010"},
      {{0xF3, 0xA5}, 2, "rep     movsd"},
      {{0x66, 0xA5}, 2, "movsw"},
      {{0xF0, 0x0F, 0xB1, 0x0A}, 4, "lock    cmpxchg [edx], ecx"},
      {{0x0F, 0xA2}, 2, "cpuid"},
      {{0x0F, 0x31}, 2, "rdtsc"},
      {{0x0F, 0xC7, 0x0E}, 3, "cmpxchg8b qword ptr [esi]"},
      {{0x60}, 1, "pushad"},
      {{0x66, 0x9C}, 2, "pushfw"},
      {{0x0F, 0x20, 0xC0}, 3, "mov     eax, C0"},
      {{0x8C, 0x18}, 2, "mov     word ptr [eax], ds"},
      // Far pointers: the offset's width follows the operand size, the selector is read too.
      {{0xEA, 1, 2, 3, 4, 5, 6}, 7, "jmp     $4030201"},
      {{0x66, 0xEA, 1, 2, 3, 4}, 6, "jmp     $0201"},
      {{0x67, 0x9A, 1, 2, 3, 4, 5, 6}, 8, "call    $4030201"},
      // x87 and MMX.
      {{0xD8, 0x00}, 2, "fadd    dword ptr [eax]"},
      {{0xDD, 0x45, 0xF8}, 3, "fld     qword ptr [ebp-$08]"},
      {{0xDB, 0x2D, 0x00, 0x20, 0x40, 0x00}, 6, "fld     tbyte ptr [$402000]"},
      {{0xD9, 0x7D, 0xFE}, 3, "fnstcw  word ptr [ebp-$02]"},
      {{0xD9, 0x30}, 2, "fnstenv [eax]"},
      {{0xDE, 0xC9}, 2, "fmulp   st(1), st"},
      {{0xD9, 0xE8}, 2, "fld1"},
      {{0xDF, 0xE0}, 2, "fnstsw  ax"},
      {{0x0F, 0x6F, 0x06}, 3, "movq    MM0, [esi]"},
      {{0x0F, 0xEF, 0xC9}, 3, "pxor    MM1, MM1"},
      {{0x0F, 0x7E, 0xC8}, 3, "movd    eax, MM1"},
  };
  for (const FormCase& c : cases) {
    const Listed got = Disassemble(c.code);
    EXPECT_TRUE(got.whole) << ::testing::PrintToString(c.code);
    EXPECT_EQ(got.length, c.length) << ::testing::PrintToString(c.code);
    EXPECT_EQ(got.text, c.text) << ::testing::PrintToString(c.code);
  }
}

// --- Hooks ---
std::vector<std::string> g_calls;
void* const kUserData = reinterpret_cast<void*>(0x1234);

void Record(void* userData, const char* what, std::uint32_t a, std::uint32_t b, const std::string& text) {
  EXPECT_EQ(userData, kUserData);
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s %X %X %s", what, a, b, text.c_str());
  g_calls.push_back(buf);
}

void JumpHook(void* u, std::uint32_t at, std::uint32_t target, std::string& text) {
  Record(u, "jump", at, target, text);
  text = "#Jump@%c^1";  // template codes in a hook's text stay as they are
}
void CallHook(void* u, std::uint32_t at, std::uint32_t target, std::string& text) {
  Record(u, "call", at, target, text);
  text = "Unit.Proc";
}
void ValueHook(void* u, std::uint32_t at, std::uint32_t value, std::string& text) {
  Record(u, "value", at, value, text);
  if (value == 0x403000) text = "%s4Data";
}
void MemoryHook(void* u, const TDisAsmState& state, int size, std::string& text) {
  Record(u, "memory", state.Address, static_cast<std::uint32_t>(size), text);
}
void ImmediateHook(void* u, std::uint32_t at, int size, bool isSigned, std::string& text) {
  Record(u, isSigned ? "signed" : "immediate", at, static_cast<std::uint32_t>(size), text);
  text += "  ; 'x'";
}

TEST(DisAsm, HooksSeeTheirOperandsAndTheirTextStays) {
  TDisAsm disasm;
  disasm.OnJumpTarget = JumpHook;
  disasm.OnCallTarget = CallHook;
  disasm.OnAddressValue = ValueHook;
  disasm.OnMemoryOperand = MemoryHook;
  disasm.OnImmediate = ImmediateHook;
  disasm.UserData = kUserData;
  struct Case {
    Bytes code;
    const char* text;
    std::vector<std::string> calls;
  } cases[] = {
      {{0x74, 0x10}, "je      #Jump@%c^1", {"jump 401001 401012 +$10"}},
      {{0xE8, 0xFB, 0x0F, 0x00, 0x00}, "call    Unit.Proc", {"call 401001 402000 +$00000FFB"}},
      {{0x66, 0xEB, 0x10}, "jmp     #Jump@%c^1", {"jump 401002 1013 +$10"}},  // 16-bit instruction pointer
      {{0xA1, 0x00, 0x30, 0x40, 0x00},
       "mov     eax, [%s4Data]",
       {"value 401001 403000 $403000", "memory 401000 4 [%s4Data]"}},
      {{0xC7, 0x40, 0x08, 0x00, 0x20, 0x40, 0x00},
       "mov     dword ptr [eax+$08], $00402000  ; 'x'",
       {"memory 401000 4 [eax+$08]", "immediate 401003 4 $00402000"}},
      {{0x83, 0x80, 0x00, 0x30, 0x40, 0x00, 0xFF},
       "add     dword ptr [eax+%s4Data], -$01  ; 'x'",
       {"value 401002 403000 $403000", "memory 401000 4 [eax+%s4Data]", "signed 401006 1 -$01"}},
      {{0xD9, 0x05, 0x10, 0x00, 0x00, 0x00},
       "fld     dword ptr [$0010]",
       {"value 401002 10 $0010", "memory 401000 4 [$0010]"}},
  };
  for (const Case& c : cases) {
    g_calls.clear();
    const Listed got = Disassemble(disasm, c.code);
    EXPECT_EQ(got.text, c.text);
    EXPECT_EQ(g_calls, c.calls) << c.text;
  }
}

// --- Unreadable memory ---
TEST(DisAsm, CodeThatRunsIntoUnreadableMemoryIsCutOff) {
  struct Case {
    Bytes code;
    bool whole;
    int length;
    const char* text;
  } cases[] = {
      {{}, false, 0, ""},
      {{0x8B}, false, 1, "DB      $8B  //"},                        // ModRM missing
      {{0x8B, 0x04}, false, 2, "DB      $8B, $04  //"},             // SIB missing
      {{0xE8, 0x00, 0x01}, false, 3, "DB      $E8, $00, $01  //"},  // rel32 cut
      {{0x66, 0x2E}, false, 2, "DB      $66, $2E  //"},             // prefixes only
      {{0xC3}, true, 1, "ret"},                                     // the last readable byte
      {Bytes(15, 0x66), false, 15, nullptr},                        // prefixes up to the edge
  };
  for (const Case& c : cases) {
    const Listed got = Disassemble(c.code);
    EXPECT_EQ(got.whole, c.whole) << ::testing::PrintToString(c.code);
    EXPECT_EQ(got.length, c.length) << ::testing::PrintToString(c.code);
    if (c.text) {
      EXPECT_EQ(got.text, c.text);
    }
  }
  // More prefixes than an instruction may hold: the first byte alone, as data.
  Bytes prefixes(20, 0x66);
  prefixes.push_back(0x90);
  const Listed tooLong = Disassemble(prefixes);
  EXPECT_TRUE(tooLong.whole);
  EXPECT_EQ(tooLong.length, 1);
  EXPECT_EQ(tooLong.text, "DB      $66  //");
  // An instruction whose last byte is the last readable one, next to unmapped memory.
  RegionMemoryReader memory;
  memory.AddRegion(0x401FF9, {0xC7, 0x05, 0, 0x30, 0x40, 0, 0x78});
  memory.AddRegion(0x402001, {0x56, 0x34, 0x12});
  TDisAsm disasm;
  int length = 0;
  std::string text;
  EXPECT_FALSE(DisassembleInstruction(disasm, memory, 0x401FF9, length, text));
  EXPECT_EQ(length, 7);
  EXPECT_EQ(text, "DB      $C7, $05, $00, $30, $40, $00, $78  //");
}

#ifdef PELLORY_I686_OBJDUMP
// --- The corpus against objdump ---
// Each case sits at the start of a 32-byte slot filled with NOPs, so that
// objdump finds every case at its slot whatever length it reads.
constexpr std::size_t kSlot = 32;

bool IsPrefixByte(std::uint8_t b) {
  return b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x64 || b == 0x65 || b == 0x66 || b == 0x67 ||
         b == 0xF0 || b == 0xF2 || b == 0xF3;
}

int OurLength(const Bytes& code) {
  Bytes padded = code;
  padded.resize(code.size() + 16, 0x90);
  return Disassemble(padded).length;
}

std::vector<Bytes> MakeCorpus() {
  std::vector<Bytes> corpus;
  const std::vector<Bytes> prefixSets = {{}, {0x66}, {0x67}, {0x2E}, {0x64}, {0xF3}, {0xF0}, {0x66, 0x67}};
  const std::vector<std::uint8_t> someModRms = {0x00, 0x04, 0x05, 0x06, 0x40, 0x44, 0x46, 0x80,
                                                0x84, 0x86, 0xC0, 0x08, 0xC9, 0x30, 0xF8, 0xFF};
  auto addModRm = [&](const Bytes& base, std::uint8_t m, bool addressSize16) {
    Bytes b = base;
    b.push_back(m);
    if ((m >> 6) != 3 && (m & 7) == 4 && !addressSize16) {
      for (std::uint8_t sib : {0x24, 0x25, 0x8D, 0xE0}) {
        Bytes withSib = b;
        withSib.push_back(sib);
        corpus.push_back(withSib);
      }
      return;
    }
    corpus.push_back(b);
  };
  for (int map = 0; map < 3; ++map) {
    for (int op = 0; op < 256; ++op) {
      const auto opcode = static_cast<std::uint8_t>(op);
      Bytes head;
      if (map == 0 && (IsPrefixByte(opcode) || op == 0x0F || (op >= 0xD8 && op <= 0xDF))) continue;
      if (map == 1) head.push_back(0x0F);
      if (map == 2 && !(op >= 0xD8 && op <= 0xDF)) continue;  // the x87 escapes
      head.push_back(opcode);
      Bytes r0 = head, r5 = head;
      r0.push_back(0x00);
      r5.push_back(0x05);
      const bool modrm = OurLength(r5) == OurLength(r0) + 4;
      for (std::size_t ps = 0; ps < prefixSets.size(); ++ps) {
        if (map == 2 && ps > 3) break;
        Bytes base = prefixSets[ps];
        base.insert(base.end(), head.begin(), head.end());
        const bool addressSize16 = ps == 2 || ps == 7;
        if (!modrm) {
          corpus.push_back(base);
        } else if (ps == 0) {
          for (int m = 0; m < 256; ++m) addModRm(base, static_cast<std::uint8_t>(m), addressSize16);
        } else {
          for (std::uint8_t m : someModRms) addModRm(base, m, addressSize16);
        }
      }
    }
  }
  return corpus;
}

// objdump's reading of the instruction that starts each slot.
std::map<std::size_t, TObjdumpSlot> ObjdumpLines(const std::string& file) {
  return ReadObjdumpSlots(
      std::string(PELLORY_I686_OBJDUMP) + " -D -b binary -m i386 -M intel --insn-width=16 '" + file + "' 2>&1", kSlot);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

// Size words are compared by the table of forms; here both sides drop them.
void DropSizeWords(std::string& s) {
  for (std::size_t at = s.find(" ptr "); at != std::string::npos; at = s.find(" ptr ")) {
    std::size_t start = at;
    while (start > 0 && std::isalnum(static_cast<unsigned char>(s[start - 1]))) --start;
    s.erase(start, at + 5 - start);
  }
}

std::string Collapse(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == ' ' || c == '\t') {
      if (!out.empty() && out.back() != ' ' && out.back() != ',') out += ' ';
    } else {
      if (c == ',' && !out.empty() && out.back() == ' ') out.pop_back();
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Words before the operands replaced by the names the other side uses.
std::string Aliases(const std::string& s, const std::map<std::string, std::string>& names) {
  std::string out, word;
  std::size_t i = 0;
  for (; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != ' ') {
      word += s[i];
      continue;
    }
    auto it = names.find(word);
    out += it == names.end() ? word : it->second;
    word.clear();
    if (i < s.size()) out += ' ';
    if (it == names.end() && !(word.empty() && out.size() && i < s.size())) break;
  }
  if (i < s.size()) out += s.substr(i + 1);
  return out;
}

std::string NormaliseOurs(const std::string& text) {
  std::string s = Lower(text);
  DropSizeWords(s);
  ReplaceAll(s, "$", "0x");
  ReplaceAll(s, "ds:", "");
  s = Collapse(s);
  s = Aliases(s, {{"pushad", "pusha"}, {"popad", "popa"}, {"pushfd", "pushf"}, {"popfd", "popf"}, {"iretd", "iret"}});
  // Control, debug and test registers.
  for (const char* kind : {"c", "d", "t"}) {
    for (int n = 0; n < 8; ++n) {
      const std::string name = std::string(kind) + std::to_string(n);
      const std::string full = std::string(kind[0] == 'c' ? "cr" : kind[0] == 'd' ? "db" : "tr") + std::to_string(n);
      for (const char* edge : {",", " "}) {
        ReplaceAll(s, edge + name + ",", edge + full + ",");
        if (s.size() > name.size() && s.compare(s.size() - name.size(), name.size(), name) == 0 &&
            s[s.size() - name.size() - 1] == edge[0])
          s.replace(s.size() - name.size(), name.size(), full);
      }
    }
  }
  // An address with an index and no base register: the register first, as objdump writes it.
  const std::size_t open = s.find("[0x");
  if (open != std::string::npos) {
    const std::size_t plus = s.find('+', open), close = s.find(']', open);
    if (plus != std::string::npos && close != std::string::npos && plus < close && std::isalpha(s[plus + 1]))
      s = s.substr(0, open + 1) + s.substr(plus + 1, close - plus - 1) + "+" + s.substr(open + 1, plus - open - 1) +
          s.substr(close);
  }
  return s;
}

std::string NormaliseTheirs(const std::string& text) {
  std::string s = text;
  const std::size_t comment = s.find(" #");
  if (comment != std::string::npos) s.erase(comment);
  s = Collapse(s);
  // objdump notes prefixes that change nothing; the tables apply them silently.
  for (const char* note : {"data16 ", "addr16 "}) ReplaceAll(s, note, "");
  // String instructions: the size from the first operand's size word, the operands dropped.
  {
    std::string prefix;
    std::string rest = s;
    for (const char* p : {"rep ", "repz ", "repnz ", "lock ", "cs ", "ds ", "es ", "fs ", "gs ", "ss "}) {
      if (rest.rfind(p, 0) == 0) {
        prefix += p;
        rest.erase(0, std::strlen(p));
      }
    }
    for (const char* op : {"movs ", "cmps ", "stos ", "lods ", "scas ", "ins ", "outs ", "xlat "}) {
      if (rest.rfind(op, 0) != 0) continue;
      std::string name = std::string(op, std::strlen(op) - 1);
      if (name != "xlat") {
        const std::size_t ptr = rest.find(" PTR");
        const std::string size = rest.substr(0, ptr);
        name += size.size() >= 5 && size.compare(size.size() - 5, 5, "DWORD") == 0  ? "d"
                : size.size() >= 4 && size.compare(size.size() - 4, 4, "WORD") == 0 ? "w"
                                                                                    : "b";
      }
      s = prefix + name;
      break;
    }
  }
  s = Lower(s);
  DropSizeWords(s);
  s = Aliases(s, {{"repz", "rep"},
                  {"repnz", "repne"},
                  {"xrelease", "rep"},
                  {"xacquire", "repne"},
                  {"pushw", "push"},
                  {"popw", "pop"},
                  {"retw", "ret"},
                  {"fwait", "wait"},
                  {"enterw", "enter"},
                  {"leavew", "leave"},
                  {"retfw", "retf"},
                  {"fnstenvw", "fnstenv"},
                  {"fnsavew", "fnsave"},
                  {"fldenvw", "fldenv"},
                  {"frstorw", "frstor"}});
  for (const char* seg : {"cs ", "ds ", "es ", "fs ", "gs ", "ss "})
    if (s.rfind(seg, 0) == 0) s.erase(0, 3);
  // A direct address: "seg:0x..." is written "seg:[0x...]".
  for (std::size_t at = s.find(":0x"); at != std::string::npos; at = s.find(":0x", at + 1)) {
    std::size_t end = at + 3;
    while (end < s.size() && std::isxdigit(static_cast<unsigned char>(s[end]))) ++end;
    s.insert(end, "]");
    s.insert(at + 1, "[");
  }
  ReplaceAll(s, "ds:", "");
  // objdump names an absent index "eiz", and notes prefixes that change nothing.
  for (const char* eiz : {"+eiz*1", "+eiz*2", "+eiz*4", "+eiz*8", "eiz*1+", "eiz*2+", "eiz*4+", "eiz*8+", "eiz*1",
                          "eiz*2", "eiz*4", "eiz*8"})
    ReplaceAll(s, eiz, "");
  return s;
}

// Text with its numbers taken out: a number is [+-]0x... and keeps its value modulo 2^32.
struct Tokens {
  std::string words;
  std::vector<std::uint32_t> numbers;
};

Tokens Tokenise(const std::string& s) {
  Tokens t;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t j = i;
    bool negative = false;
    if ((s[j] == '+' || s[j] == '-') && s.compare(j + 1, 2, "0x") == 0) {
      negative = s[j] == '-';
      ++j;
    }
    if (s.compare(j, 2, "0x") == 0 && (j == 0 || !std::isalnum(static_cast<unsigned char>(s[j - 1])))) {
      std::size_t end = j + 2;
      while (end < s.size() && std::isxdigit(static_cast<unsigned char>(s[end]))) ++end;
      std::uint32_t value = static_cast<std::uint32_t>(std::stoull(s.substr(j + 2, end - j - 2), nullptr, 16));
      if (negative) value = 0u - value;
      t.numbers.push_back(value);
      t.words += '#';
      i = end;
    } else {
      t.words += s[i++];
    }
  }
  return t;
}

bool SameNumbers(const std::vector<std::uint32_t>& ours, const std::vector<std::uint32_t>& theirs) {
  if (ours.size() != theirs.size()) return false;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    const std::uint32_t a = ours[i], b = theirs[i];
    if (a == b) continue;
    // A narrow value in its signed form on one side and unsigned on the other.
    const auto narrowSame = [](std::uint32_t x, std::uint32_t y, std::uint32_t mask) {
      return (x & mask) == (y & mask) && ((x >= ~mask && y <= mask) || (y >= ~mask && x <= mask));
    };
    if (narrowSame(a, b, 0xFFFF) || narrowSame(a, b, 0xFF)) continue;
    return false;
  }
  return true;
}

// Where the tables read bytes differently from objdump, the corpus does not
// compare them; each of these forms is listed with the reading the tables give.
struct KnownDifference {
  const char* what;
  bool (*matches)(const Bytes& prefixes, const Bytes& rest);
};

bool Has(const Bytes& prefixes, std::uint8_t b) {
  return std::find(prefixes.begin(), prefixes.end(), b) != prefixes.end();
}

const KnownDifference kKnownDifferences[] = {
    {"segment and selector moves (8C, 8E, 0F 00 sldt/str, 0F 02 lar, 0F 03 lsl): the 16-bit register where objdump "
     "names the 32-bit one",
     [](const Bytes& p, const Bytes& r) {
       if (Has(p, 0x66)) return false;
       if (r[0] == 0x8C || r[0] == 0x8E) return r[1] >= 0xC0;
       return r[0] == 0x0F && r[2] >= 0xC0 && (r[1] == 0x02 || r[1] == 0x03 || (r[1] == 0x00 && ((r[2] >> 3) & 7) < 2));
     }},
    {"jecxz under the address-size prefix (jcxz)",
     [](const Bytes& p, const Bytes& r) { return r[0] == 0xE3 && Has(p, 0x67); }},
    {"MMX, cache and bit-scan opcodes under 66, F2 or F3: later processors' forms (SSE, wbnoinvd, tzcnt, lzcnt)",
     [](const Bytes& p, const Bytes& r) {
       return (Has(p, 0x66) || Has(p, 0xF2) || Has(p, 0xF3)) && r[0] == 0x0F &&
              (r[1] == 0x09 || r[1] == 0xBC || r[1] == 0xBD || (r[1] >= 0x60 && r[1] <= 0x7F) || r[1] >= 0xD0);
     }},
    {"66 90 is nop to the tables, F3 90 rep nop (pause)",
     [](const Bytes& p, const Bytes& r) { return r[0] == 0x90 && (Has(p, 0x66) || Has(p, 0xF3)); }},
    {"98 and 99 keep their 32-bit names under the operand-size prefix",
     [](const Bytes& p, const Bytes& r) { return (r[0] == 0x98 || r[0] == 0x99) && Has(p, 0x66); }},
    {"far pointers: the tables write the offset alone",
     [](const Bytes&, const Bytes& r) { return r[0] == 0x9A || r[0] == 0xEA; }},
    {"relative targets under the operand-size prefix: cut to 16 bits as the processor does, objdump keeps 32",
     [](const Bytes& p, const Bytes& r) {
       return Has(p, 0x66) && ((r[0] >= 0x70 && r[0] <= 0x7F) || (r[0] >= 0xE0 && r[0] <= 0xE3) || r[0] == 0xE8 ||
                               r[0] == 0xE9 || r[0] == 0xEB || (r[0] == 0x0F && r[1] >= 0x80 && r[1] <= 0x8F));
     }},
};

const KnownDifference* FindKnownDifference(const Bytes& code) {
  std::size_t i = 0;
  while (i < code.size() && IsPrefixByte(code[i])) ++i;
  const Bytes prefixes(code.begin(), code.begin() + static_cast<std::ptrdiff_t>(i));
  Bytes rest(code.begin() + static_cast<std::ptrdiff_t>(i), code.end());
  rest.resize(rest.size() + 4, 0x90);
  for (const KnownDifference& k : kKnownDifferences)
    if (k.matches(prefixes, rest)) return &k;
  return nullptr;
}

void AbsoluteTarget(void*, std::uint32_t, std::uint32_t target, std::string& text) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", target);
  text = buf;
}

TEST(DisAsm, AgreesWithObjdumpOnAGeneratedCorpus) {
  const std::vector<Bytes> corpus = MakeCorpus();
  std::vector<std::uint8_t> image(corpus.size() * kSlot, 0x90);
  for (std::size_t i = 0; i < corpus.size(); ++i)
    std::memcpy(image.data() + i * kSlot, corpus[i].data(), corpus[i].size());
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("edisasm-corpus-" + std::to_string(::getpid()) + ".bin");
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  const std::map<std::size_t, TObjdumpSlot> theirs = ObjdumpLines(file.string());
  std::filesystem::remove(file);
  ASSERT_GT(theirs.size(), corpus.size() * 9 / 10) << "objdump did not read the corpus";

  RegionMemoryReader memory;
  memory.AddRegion(0, image);
  TDisAsm disasm;
  disasm.OnJumpTarget = AbsoluteTarget;
  disasm.OnCallTarget = AbsoluteTarget;
  std::size_t compared = 0, refused = 0, unknownToObjdump = 0, known = 0, mismatches = 0;
  std::map<std::string, std::size_t> knownCounts;
  std::set<Bytes> reported;
  for (std::size_t i = 0; i < corpus.size(); ++i) {
    int length = 0;
    std::string text;
    ASSERT_TRUE(DisassembleInstruction(disasm, memory, static_cast<std::uint32_t>(i * kSlot), length, text));
    if (text.rfind("DB ", 0) == 0) {
      ++refused;
      continue;
    }
    auto it = theirs.find(i);
    ASSERT_NE(it, theirs.end()) << "objdump lost its way at " << ::testing::PrintToString(corpus[i]);
    if (it->second.Length < 0) {
      ++unknownToObjdump;
      continue;
    }
    const std::string ours = NormaliseOurs(text), their = NormaliseTheirs(it->second.Text);
    const Tokens a = Tokenise(ours), b = Tokenise(their);
    const bool same = length == it->second.Length && a.words == b.words && SameNumbers(a.numbers, b.numbers);
    if (!same) {
      if (const KnownDifference* k = FindKnownDifference(corpus[i])) {
        ++known;
        ++knownCounts[k->what];
        continue;
      }
      std::size_t head = 0;
      while (head < corpus[i].size() && IsPrefixByte(corpus[i][head])) ++head;
      const Bytes key(corpus[i].begin() + static_cast<std::ptrdiff_t>(head),
                      corpus[i].begin() + static_cast<std::ptrdiff_t>(
                                              std::min(corpus[i].size(), head + 1 + (corpus[i][head] == 0x0F))));
      if (++mismatches <= 400 && reported.insert(key).second)
        ADD_FAILURE() << ::testing::PrintToString(corpus[i]) << ": ours " << length << " \"" << text << "\" (" << ours
                      << "), objdump " << it->second.Length << " \"" << it->second.Text << "\" (" << their << ")";
    }
    ++compared;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(compared, 50000u);
  std::printf("corpus: %zu cases, %zu compared, %zu refused by the tables, %zu unknown to objdump, %zu known\n",
              corpus.size(), compared, refused, unknownToObjdump, known);
  for (const auto& [what, count] : knownCounts) std::printf("  %zu: %s\n", count, what.c_str());
}
#endif

}  // namespace
