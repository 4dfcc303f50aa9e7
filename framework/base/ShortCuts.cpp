#include "ShortCuts.h"

namespace {
KeyNameSource g_keyNames = nullptr;

const ResString* NamedKey(std::uint8_t key) {
  switch (key) {
    case 0x08:
      return &SmkcBkSp;
    case 0x09:
      return &SmkcTab;
    case 0x0D:
      return &SmkcEnter;
    case 0x1B:
      return &SmkcEsc;
    case 0x20:
      return &SmkcSpace;
    case 0x21:
      return &SmkcPgUp;
    case 0x22:
      return &SmkcPgDn;
    case 0x23:
      return &SmkcEnd;
    case 0x24:
      return &SmkcHome;
    case 0x25:
      return &SmkcLeft;
    case 0x26:
      return &SmkcUp;
    case 0x27:
      return &SmkcRight;
    case 0x28:
      return &SmkcDown;
    case 0x2D:
      return &SmkcIns;
    case 0x2E:
      return &SmkcDel;
    default:
      return nullptr;
  }
}
}  // namespace

void SetShortCutKeyNames(KeyNameSource source) {
  g_keyNames = source;
}

bool IsFixedShortCutKey(std::uint8_t key) {
  return NamedKey(key) || (key >= 0x30 && key <= 0x39) || (key >= 0x41 && key <= 0x5A) ||
         (key >= 0x60 && key <= 0x69) || (key >= 0x70 && key <= 0x87);
}

std::string ShortCutKeyText(std::uint8_t key) {
  if (const ResString* named = NamedKey(key)) return LoadResString(*named);
  if (key >= 0x30 && key <= 0x39) return std::string(1, static_cast<char>(key));
  if (key >= 0x41 && key <= 0x5A) return std::string(1, static_cast<char>(key));
  if (key >= 0x60 && key <= 0x69) return std::string(1, static_cast<char>('0' + key - 0x60));  // the numeric pad
  if (key >= 0x70 && key <= 0x87) {
    char name[4] = {'F', 0, 0, 0};
    const int n = key - 0x6F;
    if (n >= 10) {
      name[1] = static_cast<char>('0' + n / 10);
      name[2] = static_cast<char>('0' + n % 10);
    } else {
      name[1] = static_cast<char>('0' + n);
    }
    return name;
  }
  return g_keyNames ? g_keyNames(key) : std::string();
}

std::string ShortCutModifierText(TShortCut shortCut, const std::string& keyName) {
  if (keyName.empty()) return {};
  std::string text;
  if (shortCut & scShift) text += LoadResString(SmkcShift);
  if (shortCut & scCtrl) text += LoadResString(SmkcCtrl);
  if (shortCut & scAlt) text += LoadResString(SmkcAlt);
  return text + keyName;
}

std::string ShortCutToText(TShortCut shortCut) {
  return ShortCutModifierText(shortCut, ShortCutKeyText(static_cast<std::uint8_t>(shortCut & 0xFF)));
}
