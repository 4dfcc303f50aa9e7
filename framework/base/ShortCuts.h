// Shortcut texts: "Ctrl+S", "Shift+Ctrl+F5", "Alt+BkSp". The modifiers come
// first, in the order Shift, Ctrl, Alt, each from a resource string; named keys
// (Backspace, Tab, Enter, Esc, Space, the page and arrow keys, Insert, Delete)
// have resource strings too, letters and digits stand for themselves, F1 to F24
// are "F1".."F24", and any other key takes its name from the installed key-name
// source (the keyboard's names on Windows; none natively).
#pragma once

#include <cstdint>
#include <string>

#include "ActnList.h"
#include "ResStrings.h"

inline constexpr ResString SmkcBkSp{61810, 0, "BkSp"};
inline constexpr ResString SmkcTab{61811, 0, "Tab"};
inline constexpr ResString SmkcEsc{61812, 0, "Esc"};
inline constexpr ResString SmkcEnter{61813, 0, "Enter"};
inline constexpr ResString SmkcSpace{61814, 0, "Space"};
inline constexpr ResString SmkcPgUp{61815, 0, "PgUp"};
inline constexpr ResString SmkcPgDn{61816, 0, "PgDn"};
inline constexpr ResString SmkcEnd{61817, 0, "End"};
inline constexpr ResString SmkcHome{61818, 0, "Home"};
inline constexpr ResString SmkcLeft{61819, 0, "Left"};
inline constexpr ResString SmkcUp{61820, 0, "Up"};
inline constexpr ResString SmkcRight{61821, 0, "Right"};
inline constexpr ResString SmkcDown{61822, 0, "Down"};
inline constexpr ResString SmkcIns{61823, 0, "Ins"};
inline constexpr ResString SmkcDel{61824, 0, "Del"};
inline constexpr ResString SmkcShift{61825, 0, "Shift+"};
inline constexpr ResString SmkcCtrl{61826, 0, "Ctrl+"};
inline constexpr ResString SmkcAlt{61827, 0, "Alt+"};

// The key's own name for a key that has no fixed text (empty: none).
using KeyNameSource = std::string (*)(std::uint8_t virtualKey);
void SetShortCutKeyNames(KeyNameSource source);  // null: no names

// The name of the shortcut's key alone, without modifiers ("" when it has none).
std::string ShortCutKeyText(std::uint8_t virtualKey);
// Prefixes `keyName` with the modifiers of `shortCut`; an empty name gives "".
std::string ShortCutModifierText(TShortCut shortCut, const std::string& keyName);
std::string ShortCutToText(TShortCut shortCut);
// True for the keys ShortCutKeyText names itself (not through the key-name source).
bool IsFixedShortCutKey(std::uint8_t virtualKey);
