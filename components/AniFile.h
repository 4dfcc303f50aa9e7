// Animated cursor files (RIFF form "ACON"): the "anih" header record, the
// per-step rates ("rate") and icon numbers ("seq "), the title and author
// texts (the "INFO" list's "INAM" and "IART") and one icon per frame (the
// "fram" list's "icon" chunks, each an icon or cursor file).
//
// The parser reads bytes only; icons are made by an icon factory (the
// framework's icon on Windows, a fake in tests), so the file layout is
// portable. Cursor files come from outside: every read is checked against
// the data, the number of frames a header asks for is bounded by what the
// rest of the file could describe, and directory entries and images at
// file-given offsets are looked at only where they lie inside the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The 36-byte "anih" record: nine 32-bit little-endian fields.
struct TAniHeader {
  std::uint32_t Size = 0;
  std::uint32_t Frames = 0;
  std::uint32_t Steps = 0;  // after a load: the number of frames kept
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint32_t BitCount = 0;
  std::uint32_t Planes = 0;
  std::uint32_t DisplayRate = 0;  // jiffies of 1/60 s
  std::uint32_t Flags = 0;        // bit 0: frames are icon resources; bit 1: a sequence chunk is present
  friend bool operator==(const TAniHeader&, const TAniHeader&) = default;
};
inline constexpr std::size_t kAniHeaderSize = 36;
inline constexpr std::uint32_t kAniFlagIcon = 1;

// A chunk's 8-byte header: its four-character id and the size of its body
// (the body is padded to an even length).
struct TAniChunkHeader {
  std::string Id;
  std::uint32_t Size = 0;
  friend bool operator==(const TAniChunkHeader&, const TAniChunkHeader&) = default;
};

struct TAniHotSpot {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  friend bool operator==(const TAniHotSpot&, const TAniHotSpot&) = default;
};

// An icon made by the factory; the parser asks only its size.
class AniIcon {
 public:
  virtual ~AniIcon() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
};

class AniIconFactory {
 public:
  virtual ~AniIconFactory() = default;
  // An icon loaded from the bytes of an icon file (type 1), or null when it
  // cannot be loaded; a framework exception counts as "cannot" too.
  virtual std::shared_ptr<AniIcon> LoadIcon(std::string_view iconFile) = 0;
};

// One step of the animation. Steps that show the same icon number share one
// icon object.
struct TAniFrame {
  std::shared_ptr<AniIcon> Icon;
  bool FromIconResource = false;  // the chunk held an icon (type 1), not a cursor (type 2)
  TAniChunkHeader ChunkHeader;    // of the "icon" chunk the icon came from
  TAniHotSpot HotSpot;
  std::uint32_t Rate = 0;      // display time in jiffies
  std::int32_t StepIndex = 0;  // the number of the icon this step shows; -1 for none
};

struct TAniCursor {
  TAniHeader Header;
  std::string NameText;    // at most 255 bytes
  std::string ArtistText;  // at most 255 bytes
  std::vector<TAniFrame> Frames;
  std::uint16_t MaxImageColors = 0;  // the largest colour count of the frame images: 2, 16, 256 or 0

  // No frames; header, texts and colour count zero.
  void Clear();
};

// Reads an animated cursor file into `cursor` (cleared first). Empty data
// changes nothing. A file without the "RIFF"/"ACON" signature, an "anih"
// record without the icon flag or with 0 steps, a chunk whose icon runs past
// the data, and a file that leaves no frame with an icon raise EReadError
// "Stream read error"; `cursor` then holds what was read up to the failure.
// Short chunk headers and bounded reads that cannot be satisfied end the
// parse without an error in themselves.
void LoadAniCursor(std::string_view data, AniIconFactory& icons, TAniCursor& cursor);

// The icon of an "icon" chunk's body: an icon file, or a cursor file that is
// rewritten to the icon type before loading. Sets `fromIconResource` and the
// hot spot (the last directory entry's for a cursor, the icon's centre for an
// icon, (0, 0) when the entry lies outside the data), and raises
// `maxImageColors` to the colour count of every image header inside the
// data. Gives null for any other type or an icon that cannot be loaded.
std::shared_ptr<AniIcon> LoadAniFrameIcon(std::string_view body, AniIconFactory& icons, bool& fromIconResource,
                                          TAniHotSpot& hotSpot, std::uint16_t& maxImageColors);
