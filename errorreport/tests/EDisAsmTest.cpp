// The x86 disassembler: its own forms as a table, the hooks, code that runs
// into unreadable memory, and a generated corpus against the cross objdump's
// reading of the same bytes.
#include <gtest/gtest.h>

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

#include "EDisAsm.h"
#include "EHook.h"

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

}  // namespace
