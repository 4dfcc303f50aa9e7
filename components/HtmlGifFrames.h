// Frame selection in animated GIF data for the mark-up pictures. A frame
// starts at a graphic control extension ($21 $F9 with block size 4) directly
// followed by an image descriptor ($2C at six bytes on); it starts only where
// the whole descriptor (left, top, width, height) lies in the data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// More than 4 bytes beginning "GIF8".
bool HasGifSignature(std::string_view data);
// The number of frame starts in GIF data; -1 for other data.
int CountGifFrames(std::string_view data);

struct GifFrameSelection {
  std::string bytes;  // the header and everything before the first frame, then the frames from the chosen one on
  int left = 0, top = 0, width = 0, height = 0;  // the chosen frame's image descriptor (0 when not met)
  int screenWidth = 0, screenHeight = 0;         // the logical screen (0 when the data is too short)
};
// Frame `frame` (from 1) of GIF data.
GifFrameSelection SelectGifFrame(std::string_view data, int frame);
