// Animated cursor files built chunk by chunk, read through a fake icon
// factory that records the icon files it is given.
#include "AniFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Exceptions.h"

namespace {

std::string U32(std::uint32_t v) {
  std::string s;
  ByteWriter(s).U32LE(v);
  return s;
}

// A chunk: id, size, body, the pad byte of an odd body.
std::string Chunk(const std::string& id, const std::string& body) {
  std::string s = id + U32(static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() % 2) s.push_back('\0');
  return s;
}

std::string List(const std::string& type, const std::string& chunks) {
  return Chunk("LIST", type + chunks);
}

std::string Riff(const std::string& chunks) {
  return Chunk("RIFF", "ACON" + chunks);
}

std::string Anih(std::uint32_t frames, std::uint32_t steps, std::uint32_t rate, std::uint32_t flags = 1) {
  std::string b;
  for (std::uint32_t v : {36u, frames, steps, 32u, 32u, 0u, 0u, rate, flags}) b += U32(v);
  return Chunk("anih", b);
}

std::string Values(std::initializer_list<std::uint32_t> values) {
  std::string b;
  for (std::uint32_t v : values) b += U32(v);
  return b;
}

struct TImage {
  std::uint8_t width = 32, height = 32;
  std::uint16_t hotX = 0, hotY = 0;
  std::uint16_t bitCount = 4;
};

// An icon (type 1) or cursor (type 2) file: the directory, then for each
// image a 40-byte info header with its bit count (no pixels).
std::string IconFile(std::uint16_t type, const std::vector<TImage>& images) {
  std::string s;
  ByteWriter w(s);
  w.U16LE(0);
  w.U16LE(type);
  w.U16LE(static_cast<std::uint16_t>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (const TImage& i : images) {
    w.U8(i.width);
    w.U8(i.height);
    w.U8(0);
    w.U8(0);
    w.U16LE(i.hotX);
    w.U16LE(i.hotY);
    w.U32LE(40);
    w.U32LE(offset);
    offset += 40;
  }
  for (const TImage& i : images) {
    std::string h(40, '\0');
    h[0] = 40;
    h[14] = static_cast<char>(i.bitCount);
    s += h;
  }
  return s;
}

std::string Icon(std::uint8_t size = 32, std::uint16_t bitCount = 4) {
  return Chunk("icon", IconFile(1, {{size, size, 0, 0, bitCount}}));
}

class FakeIcon : public AniIcon {
 public:
  FakeIcon(int w, int h, int serial) : w_(w), h_(h), serial_(serial) {}
  int Width() const override { return w_; }
  int Height() const override { return h_; }
  int Serial() const { return serial_; }

 private:
  int w_, h_, serial_;
};

// Loads a well-formed icon file (type 1, at least one entry) as an icon of
// its first entry's size; anything else fails, by null or by an exception.
class FakeFactory : public AniIconFactory {
 public:
  std::shared_ptr<AniIcon> LoadIcon(std::string_view file) override {
    loaded.emplace_back(file);
    ByteReader r(file);
    if (file.size() < 22 || r.U16LEAt(2) != 1 || r.U16LEAt(4) == 0) return nullptr;
    if (r.U8At(6) == 99) throw EInvalidGraphic("Bitmap image is not valid");
    return std::make_shared<FakeIcon>(r.U8At(6), r.U8At(7), static_cast<int>(loaded.size()));
  }
  std::vector<std::string> loaded;
};

int SerialOf(const TAniFrame& f) {
  return static_cast<const FakeIcon&>(*f.Icon).Serial();
}

struct Loaded {
  TAniCursor cursor;
  FakeFactory icons;
};

void Load(const std::string& file, Loaded& out) {
  LoadAniCursor(file, out.icons, out.cursor);
}

TEST(AniFile, FramesTakeTheirIconsRatesAndSteps) {
  {
    SCOPED_TRACE("three frames, no rate or seq chunk");
    Loaded l;
    Load(Riff(Anih(3, 3, 7) + List("fram", Icon() + Icon() + Icon())), l);
    ASSERT_EQ(l.cursor.Frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      const TAniFrame& f = l.cursor.Frames[static_cast<std::size_t>(i)];
      EXPECT_EQ(f.StepIndex, i);
      EXPECT_EQ(f.Rate, 7u);
      EXPECT_EQ(SerialOf(f), i + 1);
      EXPECT_TRUE(f.FromIconResource);
      EXPECT_EQ(f.HotSpot, (TAniHotSpot{16, 16})) << "an icon's hot spot is its centre";
      EXPECT_EQ(f.ChunkHeader, (TAniChunkHeader{"icon", static_cast<std::uint32_t>(IconFile(1, {{}}).size())}));
    }
    EXPECT_EQ(l.cursor.Header.Frames, 3u);
    EXPECT_EQ(l.cursor.Header.Steps, 3u);
    EXPECT_EQ(l.cursor.Header.DisplayRate, 7u);
    EXPECT_EQ(l.cursor.MaxImageColors, 16);
  }
  {
    SCOPED_TRACE("rate chunks: the first value of each, frame by frame");
    Loaded l;
    Load(Riff(Anih(3, 3, 7) + Chunk("rate", Values({11, 12, 13})) + Chunk("rate", Values({21})) +
              List("fram", Icon() + Icon() + Icon())),
         l);
    ASSERT_EQ(l.cursor.Frames.size(), 3u);
    EXPECT_EQ(l.cursor.Frames[0].Rate, 11u);
    EXPECT_EQ(l.cursor.Frames[1].Rate, 21u);
    EXPECT_EQ(l.cursor.Frames[2].Rate, 7u);
  }
  {
    SCOPED_TRACE("seq chunks: steps that name one icon share it");
    Loaded l;
    Load(Riff(Anih(4, 4, 5) + Chunk("seq ", Values({1})) + Chunk("seq ", Values({0})) + Chunk("seq ", Values({1})) +
              Chunk("seq ", Values({9})) + List("fram", Icon() + Icon())),
         l);
    ASSERT_EQ(l.cursor.Frames.size(), 3u) << "the step naming icon 9 has no icon and goes";
    EXPECT_EQ(l.cursor.Frames[0].StepIndex, 1);
    EXPECT_EQ(l.cursor.Frames[1].StepIndex, 0);
    EXPECT_EQ(l.cursor.Frames[2].StepIndex, 1);
    EXPECT_EQ(SerialOf(l.cursor.Frames[0]), 2);
    EXPECT_EQ(SerialOf(l.cursor.Frames[1]), 1);
    EXPECT_EQ(l.cursor.Frames[0].Icon, l.cursor.Frames[2].Icon) << "one icon object";
    EXPECT_EQ(l.cursor.Frames[0].Icon.use_count(), 2);
    EXPECT_EQ(l.cursor.Header.Steps, 3u);
  }
  {
    SCOPED_TRACE("no anih: each icon is a frame of its own, step -1, rate 0");
    Loaded l;
    Load(Riff(List("fram", Icon() + Icon())), l);
    ASSERT_EQ(l.cursor.Frames.size(), 2u);
    for (const TAniFrame& f : l.cursor.Frames) {
      EXPECT_EQ(f.StepIndex, -1);
      EXPECT_EQ(f.Rate, 0u);
    }
    EXPECT_EQ(l.cursor.Header.Steps, 2u);
  }
  {
    SCOPED_TRACE("an icon no frame asked for is appended with the header's rate");
    Loaded l;
    Load(Riff(Anih(1, 1, 9) + List("fram", Icon() + Icon(16))), l);
    ASSERT_EQ(l.cursor.Frames.size(), 2u);
    EXPECT_EQ(l.cursor.Frames[1].StepIndex, -1);
    EXPECT_EQ(l.cursor.Frames[1].Rate, 9u);
    EXPECT_EQ(l.cursor.Frames[1].HotSpot, (TAniHotSpot{8, 8}));
  }
}

TEST(AniFile, CursorFramesLoadAsIcons) {
  Loaded l;
  const std::string cursor = IconFile(2, {{32, 32, 3, 4, 1}, {48, 48, 5, 6, 8}});
  Load(Riff(Anih(2, 2, 1) + List("fram", Chunk("icon", cursor) + Icon(32, 1))), l);
  ASSERT_EQ(l.cursor.Frames.size(), 2u);
  const TAniFrame& f = l.cursor.Frames[0];
  EXPECT_FALSE(f.FromIconResource);
  EXPECT_EQ(f.HotSpot, (TAniHotSpot{5, 6})) << "the last directory entry's hot spot";
  ASSERT_GE(l.icons.loaded.size(), 1u);
  std::string asIcon = cursor;
  asIcon[2] = 1;
  EXPECT_EQ(l.icons.loaded[0], asIcon) << "the factory gets the file with the icon type";
  EXPECT_EQ(l.cursor.MaxImageColors, 256) << "the largest colour count of all images";
  EXPECT_TRUE(l.cursor.Frames[1].FromIconResource);
}

TEST(AniFile, TextsPaddingAndSkippedChunks) {
  Loaded l;
  const std::string longName(300, 'n');
  Load(Riff(Chunk("junk", "abc") +  // odd: one pad byte
            Anih(1, 1, 2) + List("INFO", Chunk("INAM", longName) + Chunk("ISFT", "x") + Chunk("IART", "Artist")) +
            List("othr", "123456") + Chunk("RIFF", "ACON") + List("fram", Chunk("note", "q") + Icon())),
       l);
  EXPECT_EQ(l.cursor.NameText, std::string(255, 'n'));
  EXPECT_EQ(l.cursor.ArtistText, "Artist") << "the reads go on after the long text's padded end";
  ASSERT_EQ(l.cursor.Frames.size(), 1u);
  EXPECT_EQ(l.cursor.Frames[0].Rate, 2u);
}

TEST(AniFile, LongHeaderRecordFillsTheRecordAndSkipsTheRest) {
  std::string body;
  for (std::uint32_t v : {44u, 2u, 2u, 32u, 32u, 0u, 0u, 6u, 1u, 0xAAAAAAAAu, 0xBBBBBBBBu}) body += U32(v);
  Loaded l;
  Load(Riff(Chunk("anih", body) + Chunk("rate", Values({3})) + List("fram", Icon() + Icon())), l);
  EXPECT_EQ(l.cursor.Header.Size, 44u);
  EXPECT_EQ(l.cursor.Header.Flags, 1u);
  ASSERT_EQ(l.cursor.Frames.size(), 2u);
  EXPECT_EQ(l.cursor.Frames[0].Rate, 3u) << "the chunk after the long record is read";
}

TEST(AniFile, FileGivenCountsAndOffsetsAreBounded) {
  {
    SCOPED_TRACE("a header asking for 0x7FFFFFFF frames");
    Loaded l;
    Load(Riff(Anih(0x7FFFFFFF, 5, 4) + List("fram", Icon() + Icon())), l);
    ASSERT_EQ(l.cursor.Frames.size(), 2u);
    EXPECT_EQ(l.cursor.Header.Steps, 2u);
    EXPECT_EQ(l.cursor.Header.Frames, 0x7FFFFFFFu);
  }
  struct Case {
    const char* name;
    std::string file;  // an icon or cursor file
    TAniHotSpot hotSpot;
    std::uint16_t colours;
  };
  std::string cursor = IconFile(2, {{32, 32, 3, 4, 8}});
  std::string entryOutside = cursor.substr(0, 6) + std::string(5, '\0');  // says 1 entry, holds 5 bytes of it
  std::string imageOutside = cursor;
  imageOutside[18] = '\x7F';  // the image's offset far past the data
  std::string shortImage = cursor;
  shortImage[14] = 8;  // the image's size below its bit count field
  std::string twoEntriesLastCut = IconFile(2, {{32, 32, 3, 4, 1}, {32, 32, 7, 7, 8}});
  twoEntriesLastCut[6 + 16 + 12] = '\x7F';
  const Case cases[] = {
      {"entry inside", cursor, {3, 4}, 256},
      {"entry past the data", entryOutside, {0, 0}, 0},
      {"image past the data", imageOutside, {0, 0}, 0},
      {"image shorter than its header field", shortImage, {0, 0}, 0},
      {"the last entry's image past the data", twoEntriesLastCut, {0, 0}, 2},
      {"no directory", cursor.substr(0, 4), {0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFactory icons;
    bool fromIcon = true;
    TAniHotSpot hot{9, 9};
    std::uint16_t colours = 0;
    LoadAniFrameIcon(c.file, icons, fromIcon, hot, colours);
    EXPECT_FALSE(fromIcon);
    EXPECT_EQ(hot, c.hotSpot);
    EXPECT_EQ(colours, c.colours);
  }
  {
    SCOPED_TRACE("a body too short for a type, and types other than icon and cursor");
    FakeFactory icons;
    bool fromIcon = true;
    TAniHotSpot hot;
    std::uint16_t colours = 0;
    for (std::string body : {std::string("\0\0\1", 3), IconFile(3, {{}}), IconFile(0, {{}})})
      EXPECT_EQ(LoadAniFrameIcon(body, icons, fromIcon, hot, colours), nullptr);
    EXPECT_TRUE(icons.loaded.empty()) << "nothing is handed to the factory";
  }
}

TEST(AniFile, IconsThatDoNotLoadAreDropped) {
  Loaded l;
  std::string bad = IconFile(1, {{99, 99, 0, 0, 4}});  // the fake raises for it
  Load(Riff(Anih(3, 3, 1) + List("fram", Icon() + Icon() + Chunk("icon", bad) + Icon())), l);
  ASSERT_EQ(l.cursor.Frames.size(), 2u) << "a failing icon ends the frame list";
  Loaded none;
  EXPECT_THROW(Load(Riff(Anih(1, 1, 1) + List("fram", Chunk("icon", bad))), none), EReadError);
}

TEST(AniFile, BadFilesAreReadErrors) {
  const std::string good = Riff(Anih(1, 1, 1) + List("fram", Icon()));
  std::string lowercase = good;
  lowercase[0] = 'r';
  std::string otherForm = good;
  otherForm[8] = 'B';
  std::string cutIcon = good.substr(0, good.size() - 10);
  const std::pair<const char*, std::string> cases[] = {
      {"shorter than a chunk header", "RIFF\1\0"},
      {"not RIFF", "RIFX" + good.substr(4)},
      {"lower-case RIFF", lowercase},
      {"no form type", good.substr(0, 10)},
      {"form type not ACON", otherForm},
      {"anih without the icon flag", Riff(Anih(1, 1, 1, 2) + List("fram", Icon()))},
      {"anih with no steps", Riff(Anih(1, 0, 1) + List("fram", Icon()))},
      {"no frame", Riff(Anih(2, 2, 1))},
      {"an icon running past the data", cutIcon},
      {"only chunks the reader skips", Riff(Chunk("junk", "12345678"))},
  };
  for (const auto& [name, file] : cases) {
    SCOPED_TRACE(name);
    Loaded l;
    try {
      Load(file, l);
      ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Stream read error");
    }
  }
}

TEST(AniFile, LoadingClearsAndNoBytesChangeNothing) {
  Loaded l;
  Load(Riff(Anih(1, 1, 1) + List("INFO", Chunk("INAM", "first")) + List("fram", Icon())), l);
  ASSERT_EQ(l.cursor.NameText, "first");
  Load("", l);
  EXPECT_EQ(l.cursor.NameText, "first");
  EXPECT_EQ(l.cursor.Frames.size(), 1u);
  Load(Riff(List("fram", Icon(16, 1))), l);
  EXPECT_EQ(l.cursor.NameText, "");
  EXPECT_EQ(l.cursor.Header, TAniHeader{.Steps = 1});
  EXPECT_EQ(l.cursor.MaxImageColors, 2);
  ASSERT_EQ(l.cursor.Frames.size(), 1u);
  EXPECT_EQ(l.cursor.Frames[0].HotSpot, (TAniHotSpot{8, 8}));
}

}  // namespace
