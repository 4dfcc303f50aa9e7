// The decisions of OLE data transfer that need no system: matching format
// records, the answer to a data object's "can you give this format" query,
// the enumerator's stepping, the drop effect from the modifier keys and the
// drop source's answer to "go on dragging". The COM objects (win/) use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "VirtualTrees.h"

// COM results as 32-bit values.
namespace vtresult {
constexpr std::int32_t S_Ok = 0, S_False = 1;
constexpr std::int32_t DV_E_LIndex = static_cast<std::int32_t>(0x80040068u);
constexpr std::int32_t DV_E_Tymed = static_cast<std::int32_t>(0x80040069u);
// No entry has the clipboard format.
constexpr std::int32_t DV_E_ClipFormat = static_cast<std::int32_t>(0x8004006Au);
constexpr std::int32_t DV_E_DVAspect = static_cast<std::int32_t>(0x8004006Bu);
constexpr std::int32_t DragDrop_S_Drop = 0x00040100, DragDrop_S_Cancel = 0x00040101;
}  // namespace vtresult

// Drop effects.
constexpr std::uint32_t kDropEffectNone = 0, kDropEffectCopy = 1, kDropEffectMove = 2, kDropEffectLink = 4;
constexpr std::uint32_t kDropEffectScroll = 0x80000000u;

// Two records match: same format (16 bits), target device, aspect and index,
// and storage kinds that share a bit.
bool FormatEtcMatches(const TFormatEtc& a, const TFormatEtc& b);

// The query over a format list: DV_E_CLIPFORMAT unless some entry has the
// format; the last entry with the format decides DV_E_TYMED (no shared
// storage kind), DV_E_DVASPECT, DV_E_LINDEX; a full match answers S_OK at once.
std::int32_t QueryGetDataResult(const std::vector<TFormatEtc>& formats, const TFormatEtc& wanted);
// The first entry that matches, or -1.
std::ptrdiff_t FindMatchingFormat(const std::vector<TFormatEtc>& formats, const TFormatEtc& wanted);

// The enumerator's position over a list of `count` records.
class TFormatCursor {
 public:
  explicit TFormatCursor(std::size_t count, std::size_t index = 0) : count_(count), index_(index) {}
  // How many of `wanted` records to copy from Index(); advances past them.
  std::size_t Next(std::size_t wanted);
  // S_FALSE (and no move) when fewer than `count` records remain, else S_OK.
  std::int32_t Skip(std::size_t count);
  void Reset() { index_ = 0; }
  std::size_t Index() const { return index_; }

 private:
  std::size_t count_;
  std::size_t index_;
};

// The drop effect from the keys (kKeyShift, kKeyCtrl, kKeyAlt): the default
// is move for a drag from this tree, copy for a drag from another or no tree,
// each when allowed, else the allowed set; Ctrl+Shift links, Ctrl copies,
// Shift moves, Alt links, each when allowed, else the default.
std::uint32_t DetermineDropEffect(bool sourceIsThisTree, std::uint8_t shift, std::uint32_t allowed);

// Modifiers from an OLE key state (MK_SHIFT 4, MK_CONTROL 8, MK_ALT 0x20).
std::uint8_t ShiftStateFromKeyState(std::uint32_t keyState);

// The drop source: cancel on Escape or with both buttons down, go on while
// one is down, drop once both are up (MK_LBUTTON 1, MK_RBUTTON 2).
std::int32_t QueryContinueDragResult(bool escapePressed, std::uint32_t keyState);
