#include "VirtualTreeTransfer.h"

#include "VirtualTreeInput.h"

bool FormatEtcMatches(const TFormatEtc& a, const TFormatEtc& b) {
  return a.cfFormat == b.cfFormat && a.ptd == b.ptd && a.dwAspect == b.dwAspect && a.lindex == b.lindex &&
         (a.tymed & b.tymed) != 0;
}

std::int32_t QueryGetDataResult(const std::vector<TFormatEtc>& formats, const TFormatEtc& wanted) {
  std::int32_t result = vtresult::DV_E_ClipFormat;
  for (const TFormatEtc& entry : formats) {
    if (entry.cfFormat != wanted.cfFormat) continue;
    if ((entry.tymed & wanted.tymed) == 0)
      result = vtresult::DV_E_Tymed;
    else if (entry.dwAspect != wanted.dwAspect)
      result = vtresult::DV_E_DVAspect;
    else if (entry.lindex != wanted.lindex)
      result = vtresult::DV_E_LIndex;
    else
      return vtresult::S_Ok;
  }
  return result;
}

std::ptrdiff_t FindMatchingFormat(const std::vector<TFormatEtc>& formats, const TFormatEtc& wanted) {
  for (std::size_t i = 0; i < formats.size(); ++i)
    if (FormatEtcMatches(formats[i], wanted)) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

std::size_t TFormatCursor::Next(std::size_t wanted) {
  const std::size_t left = index_ < count_ ? count_ - index_ : 0;
  const std::size_t taken = wanted < left ? wanted : left;
  index_ += taken;
  return taken;
}

std::int32_t TFormatCursor::Skip(std::size_t count) {
  const std::size_t left = index_ < count_ ? count_ - index_ : 0;
  if (left < count) return vtresult::S_False;
  index_ += count;
  return vtresult::S_Ok;
}

std::uint32_t DetermineDropEffect(bool sourceIsThisTree, std::uint8_t shift, std::uint32_t allowed) {
  std::uint32_t result = allowed;
  if (sourceIsThisTree && (allowed & kDropEffectMove))
    result = kDropEffectMove;
  else if (!sourceIsThisTree && (allowed & kDropEffectCopy))
    result = kDropEffectCopy;
  const bool ctrl = shift & kKeyCtrl, shiftKey = shift & kKeyShift, alt = shift & kKeyAlt;
  if (ctrl && shiftKey) {
    if (allowed & kDropEffectLink) result = kDropEffectLink;
  } else if (ctrl) {
    if (allowed & kDropEffectCopy) result = kDropEffectCopy;
  } else if (shiftKey) {
    if (allowed & kDropEffectMove) result = kDropEffectMove;
  } else if (alt && (allowed & kDropEffectLink)) {
    result = kDropEffectLink;
  }
  return result;
}

std::uint8_t ShiftStateFromKeyState(std::uint32_t keyState) {
  std::uint8_t shift = 0;
  if (keyState & 0x04) shift |= kKeyShift;
  if (keyState & 0x08) shift |= kKeyCtrl;
  if (keyState & 0x20) shift |= kKeyAlt;
  return shift;
}

std::int32_t QueryContinueDragResult(bool escapePressed, std::uint32_t keyState) {
  const std::uint32_t buttons = keyState & 0x03;
  if (escapePressed || buttons == 0x03) return vtresult::DragDrop_S_Cancel;
  if (buttons != 0) return vtresult::S_Ok;
  return vtresult::DragDrop_S_Drop;
}
