// A small table-driven disassembler for 32-bit x86 code (the integer set up
// to the Pentium, the x87 unit and MMX), writing Intel-syntax text with
// numbers in the "$" hexadecimal form. It turns one instruction at a time
// into text for the report's assembler listing. Code is read through a
// MemoryReader, so an instruction that runs into unreadable memory is cut
// off there instead of faulting. Five hooks let the caller put names in
// place of addresses and add comments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Object.h"

class MemoryReader;
struct TDisAsmState;

// Relative jump or call: the address of the operand and the absolute target.
using TDisAsmTargetHook = void (*)(void* userData, std::uint32_t operandAddress, std::uint32_t target,
                                   std::string& text);
// A 32-bit displacement or address: where the value stands, and the value.
using TDisAsmValueHook = void (*)(void* userData, std::uint32_t valueAddress, std::uint32_t value, std::string& text);
// After a memory operand: the decoder state and the operand's size in bytes (0 when none).
using TDisAsmMemoryHook = void (*)(void* userData, const TDisAsmState& state, int size, std::string& text);
// After an immediate: its address, its size in bytes, and true for the signed form.
using TDisAsmImmediateHook = void (*)(void* userData, std::uint32_t address, int size, bool isSigned,
                                      std::string& text);

class TDisAsm : public TObject {
  FW_CLASS(TDisAsm, TObject)
 public:
  TDisAsmTargetHook OnJumpTarget = nullptr;
  TDisAsmTargetHook OnCallTarget = nullptr;
  TDisAsmValueHook OnAddressValue = nullptr;
  TDisAsmMemoryHook OnMemoryOperand = nullptr;
  TDisAsmImmediateHook OnImmediate = nullptr;
  void* UserData = nullptr;
};

// What the decoder knows while it works on one instruction.
struct TDisAsmState {
  std::uint32_t Address = 0;  // the instruction's first byte
  const std::uint8_t* Bytes = nullptr;
  std::size_t Available = 0;  // readable bytes from Address on (at most kDisAsmMaxBytes)
  std::size_t Length = 0;     // bytes taken so far
  int OperandSize = 4;        // 2 or 4
  int AddressSize = 4;        // 2 or 4
  std::string Segment;        // "es" .. "gs", or empty
  int ModRm = -1;             // the ModRM byte once read
  bool SizeWords = true;      // memory operands get their size word
  bool Undecodable = false;
  bool CutOff = false;  // the instruction runs into unreadable memory
};

// The most bytes one instruction may take; a longer one is shown as a data byte.
constexpr std::size_t kDisAsmMaxBytes = 15;

// Decodes the instruction at `address`: its length in bytes (prefixes
// included) and its text. An opcode the tables do not decode gives the
// data-byte form "DB      $xx, $yy  //" of the bytes taken. When the
// instruction runs into unreadable memory, the result is false and the text
// is the data-byte form of the readable bytes, whose count is the length
// (0 and empty text when the first byte cannot be read).
bool DisassembleInstruction(TDisAsm& disasm, MemoryReader& memory, std::uint32_t address, int& length,
                            std::string& text);

// The unit's start-up and shut-down (counted; the tables are constants).
void InitEDisAsm();
void DoneEDisAsm();
