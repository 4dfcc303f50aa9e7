// Hot keys of wide captions: the "&" that marks a caption's accelerator
// letter ("&&" stands for one "&"), and on a Far East system the "(&X)" group
// that some captions carry at their end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Types.h"

// The 1-based position of the character after the last "&" that is not part
// of a doubled "&&"; 0 when there is none (a "&" at the very end marks nothing).
std::size_t WideGetHotKeyPos(const WideString& caption);
// That character as a one-character string, or empty.
WideString WideGetHotKey(const WideString& caption);
// The caption without its marks: each single "&" removed, "&&" made "&"; on a
// Far East system (IsFarEastSystem) a "(", "&", one character, ")" group goes whole.
WideString WideStripHotKey(const WideString& caption);
// The stripped captions are equal, ignoring case / case-sensitive.
bool WideSameCaption(const WideString& a, const WideString& b);
bool WideSameCaptionStr(const WideString& a, const WideString& b);

// When the framework moved the hot key of a caption: `ansiCaption` (the
// framework's ANSI caption, widened) and `stored` (the wide caption) differ in
// their ANSI forms but are the same caption apart from the marks, so the
// stored caption takes the marks at the ANSI caption's positions. Returns the
// caption to keep. Raises EUcxInternalError "Internal Error: SyncHotKeyPosition
// Failed ("a" <> "b")." when the ANSI forms still differ afterwards.
WideString SyncHotKeyPosition(const WideString& ansiCaption, const WideString& stored);

// What the keyboard says of a key (MapVirtualKeyW and GetKeyNameTextW on Windows).
struct WideKeyNames {
  virtual ~WideKeyNames() = default;
  // The character a letter or digit key gives (0: none).
  virtual char16_t KeyChar(std::uint8_t virtualKey) = 0;
  // The keyboard's name of the key (empty: none).
  virtual WideString KeyName(std::uint8_t virtualKey) = 0;
};
// The source WideShortCutToText uses by default (none natively: no names).
WideKeyNames* SetWideKeyNames(WideKeyNames* names);  // returns the one it replaces

// The shortcut's text: on the 9x line, and for the keys the framework names
// (Backspace, Tab, Enter, Esc, Space, the page and arrow keys, Insert, Delete,
// F1 to F24), the framework's text widened; letters, digits and the numeric
// pad the keyboard's character; other keys the keyboard's name; then
// "Shift+", "Ctrl+", "Alt+" (the framework's resource strings) in front.
WideString WideShortCutToText(std::uint16_t shortCut, WideKeyNames* names);
WideString WideShortCutToText(std::uint16_t shortCut);
