#include "AniFile.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "ByteReader.h"
#include "Exceptions.h"

namespace {

[[noreturn]] void ReadFailure() {
  throw EReadError("Stream read error");
}

constexpr std::uint64_t Padded(std::uint64_t size) {
  return (size + 1) & ~std::uint64_t{1};
}

// The file as a stream: reads that find too few bytes fail (and take what
// there was); a skip past the end leaves the position at the end, where every
// later read fails.
class AniStream {
 public:
  explicit AniStream(std::string_view data) : data_(data) {}

  std::uint64_t Left() const { return data_.size() - pos_; }

  bool Read(std::size_t count, std::string_view& out) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, Left()));
    out = data_.substr(static_cast<std::size_t>(pos_), n);
    pos_ += n;
    return n == count;
  }
  bool ReadHeader(TAniChunkHeader& h) {
    std::string_view b;
    if (!Read(8, b)) return false;
    h.Id.assign(b.substr(0, 4));
    h.Size = ByteReader(b).U32LEAt(4);
    return true;
  }
  void Skip(std::uint64_t count) { pos_ += std::min(count, Left()); }
  // At most `limit` bytes of the chunk's body, the rest of its padded body skipped.
  bool BoundedRead(const TAniChunkHeader& h, std::size_t limit, std::string_view& out) {
    const std::size_t n = std::min<std::size_t>(h.Size, limit);
    if (!Read(n, out)) return false;
    Skip(Padded(h.Size) - n);
    return true;
  }

 private:
  std::string_view data_;
  std::uint64_t pos_ = 0;
};

std::uint32_t FirstValue(std::string_view b) {
  std::uint8_t v[4] = {};
  std::memcpy(v, b.data(), std::min<std::size_t>(b.size(), 4));
  return ByteReader(v, 4).U32LE();
}

std::string Text(std::string_view b) {
  return std::string(b.substr(0, std::min(b.find('\0'), b.size())));
}

TAniHeader DecodeHeader(const std::uint8_t (&raw)[kAniHeaderSize]) {
  ByteReader r(raw, kAniHeaderSize);
  TAniHeader h;
  h.Size = r.U32LE();
  h.Frames = r.U32LE();
  h.Steps = r.U32LE();
  h.Width = r.U32LE();
  h.Height = r.U32LE();
  h.BitCount = r.U32LE();
  h.Planes = r.U32LE();
  h.DisplayRate = r.U32LE();
  h.Flags = r.U32LE();
  return h;
}

unsigned ColoursOfBitCount(unsigned bits) {
  switch (bits) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

TAniFrame NewFrame(std::int32_t stepIndex, std::uint32_t rate) {
  TAniFrame f;
  f.StepIndex = stepIndex;
  f.Rate = rate;
  return f;
}

}  // namespace

void TAniCursor::Clear() {
  Frames.clear();
  NameText.clear();
  ArtistText.clear();
  Header = TAniHeader{};
  MaxImageColors = 0;
}

std::shared_ptr<AniIcon> LoadAniFrameIcon(std::string_view body, AniIconFactory& icons, bool& fromIconResource,
                                          TAniHotSpot& hotSpot, std::uint16_t& maxImageColors) {
  std::string copy(body);
  hotSpot = TAniHotSpot{};
  fromIconResource = false;
  if (copy.size() < 4) return nullptr;
  ByteReader r(copy);
  std::uint16_t type = r.U16LEAt(2);
  fromIconResource = type == 1;
  if (type == 2) {
    copy[2] = 1;
    type = 1;
  }
  if (type != 1) return nullptr;
  const std::size_t count = copy.size() >= 6 ? r.U16LEAt(4) : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * i;
    if (entry + 16 > copy.size()) {
      // This entry and every later one lie outside the data.
      hotSpot = TAniHotSpot{};
      break;
    }
    const std::uint32_t imageSize = r.U32LEAt(entry + 8);
    const std::uint32_t imageOffset = r.U32LEAt(entry + 12);
    if (imageSize < 16 || imageOffset > copy.size() || imageSize > copy.size() - imageOffset) {
      hotSpot = TAniHotSpot{};
      continue;
    }
    const unsigned colours = ColoursOfBitCount(r.U16LEAt(imageOffset + 14));
    maxImageColors = static_cast<std::uint16_t>(std::max<unsigned>(maxImageColors, colours));
    hotSpot = TAniHotSpot{r.U16LEAt(entry + 4), r.U16LEAt(entry + 6)};
  }
  std::shared_ptr<AniIcon> icon;
  try {
    icon = icons.LoadIcon(copy);
  } catch (const Exception&) {
    return nullptr;
  }
  if (icon && fromIconResource) hotSpot = TAniHotSpot{icon->Width() / 2, icon->Height() / 2};
  return icon;
}

void LoadAniCursor(std::string_view data, AniIconFactory& icons, TAniCursor& cursor) {
  if (data.empty()) return;
  AniStream s(data);
  TAniChunkHeader chunk;
  std::string_view b;
  if (!s.ReadHeader(chunk) || chunk.Id != "RIFF") ReadFailure();
  if (!s.Read(4, b) || b != "ACON") ReadFailure();
  cursor.Clear();
  std::uint8_t rawHeader[kAniHeaderSize] = {};
  std::size_t rates = 0, sequences = 0;
  std::int32_t iconNumber = 0;
  auto& frames = cursor.Frames;
  // The frames by step index, for handing out icons by number. An entry
  // left behind when a "seq " chunk renumbers its frame is passed over.
  std::unordered_map<std::int32_t, std::vector<std::size_t>> byStep;
  auto addFrame = [&](std::int32_t stepIndex, std::uint32_t rate) {
    byStep[stepIndex].push_back(frames.size());
    frames.push_back(NewFrame(stepIndex, rate));
  };

  while (s.ReadHeader(chunk)) {
    if (chunk.Id == "anih") {
      // A longer record fills the 36 bytes; the rest is skipped.
      if (!s.BoundedRead(chunk, kAniHeaderSize, b)) break;
      std::memcpy(rawHeader, b.data(), b.size());
      cursor.Header = DecodeHeader(rawHeader);
      if (!(cursor.Header.Flags & kAniFlagIcon) || cursor.Header.Steps == 0) ReadFailure();
      // A frame keeps an icon only when an "icon" or a "seq " chunk (8 bytes or
      // more each) comes for it, so the rest of the file bounds how many frames
      // can be kept: more are not made.
      const std::uint64_t room = s.Left() / 8;
      for (std::uint64_t i = 0; i < cursor.Header.Frames && frames.size() < room; ++i)
        addFrame(static_cast<std::int32_t>(i), cursor.Header.DisplayRate);
    } else if (chunk.Id == "rate" || chunk.Id == "seq ") {
      if (!s.BoundedRead(chunk, 4, b)) break;
      const std::uint32_t value = FirstValue(b);
      std::size_t& counter = chunk.Id == "rate" ? rates : sequences;
      if (counter < frames.size()) {
        if (chunk.Id == "rate")
          frames[counter].Rate = value;
        else {
          frames[counter].StepIndex = static_cast<std::int32_t>(value);
          byStep[frames[counter].StepIndex].push_back(counter);
        }
      }
      ++counter;
    } else if (chunk.Id == "LIST") {
      std::int64_t left = static_cast<std::int64_t>(Padded(chunk.Size));
      if (!s.Read(4, b)) break;
      const std::string listType(b);
      left -= 4;
      TAniChunkHeader sub;
      if (listType == "fram") {
        while (left > 7) {
          if (!s.ReadHeader(sub)) break;
          left -= 8;
          if (sub.Id == "icon") {
            if (sub.Size > s.Left()) ReadFailure();
            s.Read(sub.Size, b);
            s.Skip(Padded(sub.Size) - sub.Size);
            TAniFrame loaded;
            loaded.ChunkHeader = sub;
            loaded.Icon = LoadAniFrameIcon(b, icons, loaded.FromIconResource, loaded.HotSpot, cursor.MaxImageColors);
            if (!loaded.Icon) break;
            bool matched = false;
            for (std::size_t i : byStep[iconNumber]) {
              TAniFrame& f = frames[i];
              if (f.StepIndex != iconNumber) continue;
              f.Icon = loaded.Icon;
              f.ChunkHeader = loaded.ChunkHeader;
              f.HotSpot = loaded.HotSpot;
              f.FromIconResource = loaded.FromIconResource;
              matched = true;
            }
            if (!matched) {
              loaded.StepIndex = -1;
              loaded.Rate = cursor.Header.DisplayRate;
              frames.push_back(std::move(loaded));
            }
            byStep.erase(iconNumber);  // no later icon has this number
            ++iconNumber;
          } else {
            s.Skip(Padded(sub.Size));
          }
          left -= static_cast<std::int64_t>(Padded(sub.Size));
        }
      } else if (listType == "INFO") {
        while (left > 7) {
          if (!s.ReadHeader(sub)) break;
          left -= 8;
          if (sub.Id == "INAM" || sub.Id == "IART") {
            if (sub.Size > left || !s.BoundedRead(sub, 255, b)) break;
            (sub.Id == "INAM" ? cursor.NameText : cursor.ArtistText) = Text(b);
          } else {
            s.Skip(Padded(sub.Size));
          }
          left -= static_cast<std::int64_t>(Padded(sub.Size));
        }
      } else if (left > 0) {
        s.Skip(static_cast<std::uint64_t>(left));
      }
    } else {
      s.Skip(Padded(chunk.Size));
    }
  }

  std::erase_if(frames, [](const TAniFrame& f) { return !f.Icon; });
  cursor.Header.Steps = static_cast<std::uint32_t>(frames.size());
  if (frames.empty()) ReadFailure();
}
