// The help-name hash: topic names of a help project's map file are kept as
// 32-bit hashes. Letter case does not count (a-z weigh as A-Z).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The weight of each byte code.
extern const std::array<std::int32_t, 256> HelpNameWeights;

// h := weight[byte] + h * 43 over the name's bytes, from 0, in 32-bit
// two's-complement arithmetic, read as a signed number.
std::int32_t HashHelpName(std::string_view name);
