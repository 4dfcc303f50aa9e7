// The tree view's bitmap strips, expand buttons, panning pictures and cursors.
#pragma once

#include <string>

// Writes the "VT_" pictures (.bmp) and cursors (.cur) into `dir` (ending in a
// slash) through `writeFile`; false when a file could not be written.
bool WriteTreeArtwork(const std::string& dir, bool (*writeFile)(const std::string& path, const std::string& data));
