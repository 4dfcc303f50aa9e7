// Hot keys of wide captions: the "&" that marks a caption's accelerator
// letter ("&&" stands for one "&"), and on a Far East system the "(&X)" group
// that some captions carry at their end.
#pragma once

#include <cstddef>

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
