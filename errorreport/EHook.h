// The hooking engine, portable half: the length decoder for 32-bit x86 code,
// the measuring of code up to its return, and the building of trampolines
// (a relocated copy of a procedure's first instructions followed by a jump
// back) as bytes for a given address. Memory is seen through MemoryReader, so
// all of it runs on byte images as well as on the running process. The Win32
// half (win/EHookWin.h) writes pointer slots, code and import tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Exceptions.h"

FW_EXCEPTION(EHookError, Exception);
FW_EXCEPTION(EProcNull, EHookError);
FW_EXCEPTION(EHookingError, EHookError);
FW_EXCEPTION(ESharedArea, EHookError);

// The messages of the hooking errors (%s: the procedure's label or the module's file name).
constexpr const char* kProcNullMessage = "Cannot hook a null procedure (\"%s\").";
constexpr const char* kHookingErrorMessage = "Cannot hook the procedure \"%s\".";
constexpr const char* kSharedAreaMessage = "Cannot hook the module \"%s\" located into the shared-area.";

// --- Memory as the engine and the stack scanner see it ---------------------------------------------
class MemoryReader {
 public:
  virtual ~MemoryReader() = default;
  // Whether all `length` bytes from `address` on can be read.
  virtual bool IsReadable(std::uint64_t address, std::size_t length) = 0;
  // Copies `length` bytes; false (and nothing promised about `buffer`) when any cannot be read.
  virtual bool Read(std::uint64_t address, void* buffer, std::size_t length) = 0;
  // Copies as many bytes as can be read from `address` on, at most `length`; the count.
  std::size_t ReadUpTo(std::uint64_t address, void* buffer, std::size_t length);
};

// Memory made of separate readable regions (byte images at chosen addresses);
// everything between them is unreadable.
class RegionMemoryReader : public MemoryReader {
 public:
  // Adds a readable region; regions must not overlap. Returns its bytes for changing.
  std::vector<std::uint8_t>& AddRegion(std::uint64_t base, std::vector<std::uint8_t> bytes);
  bool IsReadable(std::uint64_t address, std::size_t length) override;
  bool Read(std::uint64_t address, void* buffer, std::size_t length) override;
  // Counts the probes made (for tests of the probing pattern).
  std::size_t ProbeCount() const { return probes_; }

 private:
  const std::vector<std::uint8_t>* RegionAt(std::uint64_t address, std::uint64_t& base) const;
  std::map<std::uint64_t, std::vector<std::uint8_t>> regions_;
  std::size_t probes_ = 0;
};

// The target of an indirect jump through an import slot (FF 25 abs32) at
// `address` when the jump and the slot can be read, else `address`.
std::uint32_t FollowImportJumpIn(MemoryReader& memory, std::uint32_t address);

// --- The length decoder ------------------------------------------------------------------------------
// The longest instruction the decoder looks into: prefixes, two opcode bytes, ModRM and SIB.
constexpr std::size_t kMaxDecodedBytes = 16;

// The length of the instruction at `code` (of which `available` bytes can be
// read). False for an opcode the tables do not decode, with length 1; false
// with length 0 when the bytes it needs run past `available`.
bool GetInstructionLength(const std::uint8_t* code, std::size_t available, int& length);
// The bytes that follow a ModRM byte (SIB, displacement and the immediates of
// the opcodes that carry one); `modrm` points at the ModRM byte. -1 when the
// SIB byte is needed and not available.
int GetOperandBytes(const std::uint8_t* modrm, std::size_t available, bool twoByteOpcode, std::uint8_t opcode,
                    bool operandSize16, bool addressSize16);

// The bytes from `code` up to and including the first return instruction
// (C2, C3, CA, CB) that starts within `maxLength` bytes; 1 when there is none
// or the code cannot be read; 0 for a maxLength of 0.
std::size_t MeasureCodeToReturn(MemoryReader& memory, std::uint64_t code, std::size_t maxLength);
std::size_t MeasureCodeToReturn(const std::uint8_t* code, std::size_t available, std::size_t maxLength);

// --- Trampolines -------------------------------------------------------------------------------------
// The 5-byte jump E9 rel32 placed at `at` that reaches `target`.
std::vector<std::uint8_t> JumpBytes(std::uint32_t at, std::uint32_t target);

// The size of the copy of the first `length` bytes of `code` plus 5 for each
// short jump among them whose target lies outside those bytes.
std::size_t GetTrampolineSize(const std::uint8_t* code, std::size_t length);

// Rewrites the copy of `length` code bytes, moved from `original` to `copyAddress`:
// rel32 calls, jumps and conditional jumps that leave the copy reach the
// same targets; short jumps that leave it go through 5-byte stubs written
// from `stubs` on (the buffer continues there). Raises EHookingError for a
// relative form it cannot move (an operand-size prefix on a relative jump or
// call, a stub out of a short jump's reach).
void RelocateCopiedCode(std::uint8_t* copy, std::uint32_t copyAddress, std::uint32_t original, std::size_t length,
                        std::size_t stubs, const std::string& name);

struct TCodeTrampoline {
  std::size_t CopiedLength = 0;     // the entry bytes the patch overwrites (at least 5)
  std::vector<std::uint8_t> Code;   // to be placed at the trampoline's address
  std::vector<std::uint8_t> Saved;  // the entry's original bytes
};

// The trampoline for the procedure at `entry`, placed at `trampoline`: the
// whole instructions that cover the first 5 bytes, relocated, then a jump to
// the instruction after them, then the stubs of the short jumps. Raises
// EHookingError (with `name`) when the entry cannot be read or measured.
TCodeTrampoline BuildCodeTrampoline(MemoryReader& memory, std::uint32_t entry, std::uint32_t trampoline,
                                    const std::string& name);
