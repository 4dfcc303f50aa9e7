// Conversions between the three forms of a form: binary ("TPF0"...), text
// (`object Name: TClass` ... `end`) and resource-wrapped binary (a 16-bit
// RCDATA resource header, then the binary form).
//
// Text layout written by ObjectBinaryToText: two blanks of indent per level,
// CR LF line ends, strings quoted with ' ('' for a quote) with #n for other
// characters, broken into 64-character pieces joined by +; lists in ( ),
// sets in [ ], binary values in { } (32 bytes of hex per line), collections
// in < item ... end >, floats with "." and the suffixes s (single),
// c (currency) and d (date). A float without suffix is an extended value:
// text is read to the nearest 80-bit value and written as the shortest text
// that reads back to the same bits (Extended.h), so binary -> text -> binary
// keeps every bit.
#pragma once

#include <string>

#include "Filer.h"

// Conversions between the binary, text and resource-wrapped forms.
enum TStreamOriginalFormat { sofUnknown, sofBinary, sofText, sofResource };
TStreamOriginalFormat TestStreamFormat(TStream& stream);  // keeps the position
void ObjectBinaryToText(TStream& input, TStream& output);
void ObjectTextToBinary(TStream& input, TStream& output);
// The same through a writer of the caller's (on the caller's stream): the signature and
// every value go through `writer`, so a writer that overrides the string steps decides how
// strings are stored.
void ObjectTextToBinary(TStream& input, TWriter& writer);
void ObjectResourceToText(TStream& input, TStream& output);
void ObjectTextToResource(TStream& input, TStream& output);
// Writes the 16-bit resource header for a binary form of `size` bytes named `name`.
void WriteResourceHeader(TStream& output, const std::string& name, std::uint32_t size);
// Reads that header; returns the form's size and sets `name`. Raises EReadError when malformed.
std::uint32_t ReadResourceHeader(TStream& input, std::string& name);

// Convenience for byte strings.
std::string ObjectTextToBinary(const std::string& text);
std::string ObjectBinaryToText(const std::string& binary);
