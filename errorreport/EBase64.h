// Base64 with the standard alphabet and "=" padding, no line breaks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

void Base64EncodeText(std::string_view text, std::string& result);
// A text whose length is not a positive multiple of 4 decodes to an empty
// result; characters outside the alphabet decode as zero bits.
void Base64DecodeText(std::string_view text, std::string& result);
void Base64EncodeBuffer(const void* buffer, std::size_t size, std::string& result);
std::size_t Base64EncodedSize(std::size_t size);
std::size_t Base64DecodedSize(const char* text, std::size_t length);
