#include "JCompress.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "TestBytes.h"

namespace {

std::string CopyToken(unsigned distance, unsigned length) {
  unsigned w = distance * 2 + 1 + (length - 3) * 4096;
  return Bytes({static_cast<int>(w & 0xFF), static_cast<int>(w >> 8)});
}

std::string Random(std::size_t size, unsigned seed, int alphabet) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(rng() % static_cast<unsigned>(alphabet));
  return out;
}

// Both decoders: the byte-string one, and the streaming one (taken when progress is asked for).
std::string DecodeBoth(const std::string& tokens, bool prefix = false) {
  std::string fast = LzjDecodeTokens(tokens, prefix);
  std::string streamed = LzjDecodeTokens(tokens, prefix, [](std::uint64_t, std::uint64_t) {});
  EXPECT_EQ(fast, streamed);
  return fast;
}

}  // namespace

TEST(Lzj, EncoderVectors) {
  std::string distinct128;
  for (int i = 0; i < 128; ++i) distinct128.push_back(static_cast<char>(i));
  std::string equal1000(1000, 'x');
  std::string expected1000 = Bytes({0x02, 'x'});
  for (int i = 0; i < 55; ++i) expected1000 += CopyToken(1, 18);
  expected1000 += CopyToken(1, 9);

  struct Case {
    const char* name;
    std::string input, tokens;
  } cases[] = {
      {"abcabcabc", "abcabcabc", Bytes({0x06, 'a', 'b', 'c', 0x07, 0x30})},
      {"empty", "", ""},
      {"1000 equal bytes", equal1000, expected1000},
      {"128 distinct bytes", distinct128,
       char(127 * 2) + distinct128.substr(0, 127) + char(2) + distinct128.substr(127)},
      // A final look-ahead of two bytes goes out as literals.
      {"two bytes", "ab", Bytes({0x04, 'a', 'b'})},
      // A look-ahead of 3 bytes at the end is covered by one last copy.
      {"tail copy", "abcXabc", Bytes({0x08, 'a', 'b', 'c', 'X'}) + CopyToken(4, 3)},
      {"tail literals", "abcXab", Bytes({0x0C, 'a', 'b', 'c', 'X', 'a', 'b'})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToHex(LzjEncodeTokens(c.input)), ToHex(c.tokens));
    EXPECT_EQ(DecodeBoth(c.tokens), c.input);
  }
}

TEST(Lzj, Header) {
  std::string stream = LzjCompress("abcabcabc", 9);
  EXPECT_EQ(ToHex(stream.substr(0, 9)), "4C 5A 4A 30 30 09 00 00 00");
  EXPECT_TRUE(IsLzjData(stream));
  EXPECT_EQ(LzjDecompress(stream), "abcabcabc");
  EXPECT_EQ(LzjDecompress(std::string("LZJ00\0\0\0\0", 9)), "");
  for (std::size_t i = 0; i < 5; ++i) {
    std::string bad = stream;
    bad[i] ^= 0x20;
    EXPECT_FALSE(IsLzjData(bad)) << i;
    EXPECT_THROW(LzjDecompress(bad), EJCompressError) << i;
  }
  EXPECT_THROW(LzjDecompress("LZJ00\1"), EJCompressError);  // cut size field
}

TEST(Lzj, RejectsBadTokens) {
  struct Case {
    const char* name;
    std::string tokens;
  } cases[] = {
      {"distance 0", Bytes({0x02, 'a'}) + CopyToken(0, 3)},
      {"distance beyond the decoded bytes", Bytes({0x04, 'a', 'b'}) + CopyToken(3, 3)},
      {"copy first", CopyToken(1, 3)},
      {"largest distance at start", CopyToken(2047, 18)},
      {"cut copy token", Bytes({0x02, 'a', 0x03})},
      {"cut literal run", Bytes({0x08, 'a', 'b'})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool streaming : {false, true}) {
      try {
        if (streaming)
          LzjDecodeTokens(c.tokens, false, [](std::uint64_t, std::uint64_t) {});
        else
          LzjDecodeTokens(c.tokens);
        FAIL() << "accepted";
      } catch (const EJCompressError& e) {
        EXPECT_STREQ(e.what(), "Wrong stream format");
      }
    }
  }
}

TEST(Lzj, PrefixModeStopsAtCutToken) {
  std::string tokens = LzjEncodeTokens("Hello, Hello, Hello! This text is long enough to be cut anywhere.");
  std::string full = LzjDecodeTokens(tokens);
  for (std::size_t cut = 0; cut <= tokens.size(); ++cut) {
    std::string part = DecodeBoth(tokens.substr(0, cut), true);
    EXPECT_EQ(part, full.substr(0, part.size())) << cut;
  }
  EXPECT_EQ(DecodeBoth(Bytes({0x08, 'a', 'b'}), true), "ab");
  EXPECT_EQ(DecodeBoth(Bytes({0x02, 'a', 0x03}), true), "a");
  // Bad distances stay errors in prefix mode.
  EXPECT_THROW(LzjDecodeTokens(CopyToken(1, 3), true), EJCompressError);
  // A cut header yields nothing in prefix mode.
  EXPECT_EQ(LzjDecompress("LZJ00\1", true), "");
}

TEST(Lzj, AcceptsEmptyLiteralRunAndLongDistances) {
  EXPECT_EQ(LzjDecodeTokens(Bytes({0x00, 0x02, 'q', 0x00})), "q");
  std::string data = Random(2047, 1, 256) + "0123456789";
  std::string tokens;
  for (std::size_t i = 0; i < data.size(); i += 127) {
    std::string run = data.substr(i, 127);
    tokens += char(run.size() * 2) + run;
  }
  tokens += CopyToken(2047, 18);  // reaches back to the very first byte
  EXPECT_EQ(DecodeBoth(tokens), data + data.substr(data.size() - 2047, 18));
}

TEST(Lzj, CopiesEveryShortDistanceAndLength) {
  // Overlapping copies (distance below the length) repeat a pattern. Each
  // combination ends a stream once and is followed by more tokens once, so
  // bytes written past a token's end would show either way.
  const std::string start = Random(127, 4, 256);
  for (unsigned d = 1; d <= 40; ++d) {
    for (unsigned len = 3; len <= 18; ++len) {
      std::string once = start, twice;
      for (unsigned i = 0; i < len; ++i) once.push_back(once[once.size() - d]);
      twice = once;
      for (unsigned i = 0; i < len; ++i) twice.push_back(twice[twice.size() - d]);
      const std::string tokens = char(127 * 2) + start + CopyToken(d, len);
      ASSERT_EQ(DecodeBoth(tokens), once) << "distance " << d << ", length " << len;
      ASSERT_EQ(DecodeBoth(tokens + CopyToken(d, len) + Bytes({0x02, 'z'})), twice + "z")
          << "distance " << d << ", length " << len;
    }
  }
}

TEST(Lzj, DecodesLongRunsOfLongestTokens) {
  // Thousands of 18-byte copies and of 127-byte literal runs back to back.
  std::string tokens = Bytes({0x02, 'x'}), expected = "x";
  for (int i = 0; i < 3000; ++i) tokens += CopyToken(1, 18);
  expected.append(3000 * 18, 'x');
  const std::string text = Random(127 * 300, 5, 256);
  for (std::size_t i = 0; i < text.size(); i += 127) tokens += char(127 * 2) + text.substr(i, 127);
  expected += text;
  EXPECT_EQ(DecodeBoth(tokens), expected);
  EXPECT_EQ(DecodeBoth(tokens.substr(0, tokens.size() - 50), true), expected.substr(0, expected.size() - 50));
}

TEST(Lzj, DecompressIntoReusesTheCallersStorage) {
  const std::string data = Random(20000, 11, 5);
  const std::string packed = LzjCompress(data);
  std::string out(50000, '?');  // longer than the result: nothing of it may remain
  LzjDecompressInto(packed, out);
  EXPECT_EQ(out, data);
  const char* storage = out.data();
  LzjDecompressInto(packed, out);
  EXPECT_EQ(out, data);
  EXPECT_EQ(out.data(), storage) << "a second decode of the same size must not allocate";

  LzjDecompressInto(LzjCompress("abc"), out);
  EXPECT_EQ(out, "abc");
  EXPECT_THROW(LzjDecompressInto(packed.substr(0, packed.size() - 1), out), EJCompressError);
  EXPECT_EQ(out, "") << "an error leaves nothing behind";
  EXPECT_THROW(LzjDecompressInto("LZJ01", out), EJCompressError);
  LzjDecompressInto(packed.substr(0, packed.size() - 1), out, true);
  EXPECT_EQ(out, data.substr(0, out.size()));
  LzjDecodeTokensInto(Bytes({0x04, 'h', 'i'}) + CopyToken(2, 4), out);
  EXPECT_EQ(out, "hihihi");
}

TEST(Lzj, RoundTrips) {
  struct Case {
    const char* name;
    std::string data;
  } cases[] = {
      {"random bytes", Random(100000, 7, 256)},
      {"random small alphabet", Random(200000, 8, 4)},
      {"random text", Random(50000, 9, 26)},
      {"zeros", std::string(70000, '\0')},
      {"longer than the window", Random(3000, 10, 256) + Random(3000, 10, 256)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string packed = LzjCompress(c.data);
    EXPECT_EQ(LzjDecompress(packed), c.data);
    EXPECT_EQ(DecodeBoth(packed.substr(kLzjHeaderSize)), c.data);
  }
}

TEST(Lzj, RoundTripsRealFiles) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(PELLORY_SOURCE_DIR) / "localization";
  std::error_code ec;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string data = ss.str();
    std::string packed = LzjCompress(data);
    EXPECT_EQ(LzjDecompress(packed), data) << entry.path();
    if (data.size() > 4000) {
      EXPECT_LT(packed.size(), data.size()) << entry.path();
    }
    ++files;
  }
  if (files == 0) GTEST_FAIL() << "source folder not readable here: " << dir;
}

TEST(Lzj, Progress) {
  std::string data = Random(5000, 3, 3);
  std::uint64_t last = 0, size = 0;
  int calls = 0;
  std::string tokens = LzjEncodeTokens(data, [&](std::uint64_t p, std::uint64_t s) {
    EXPECT_GE(p, last);
    last = p;
    size = s;
    ++calls;
  });
  EXPECT_EQ(last, data.size());
  EXPECT_EQ(size, data.size());
  EXPECT_GT(calls, 0);
  last = 0;
  LzjDecodeTokens(tokens, false, [&](std::uint64_t p, std::uint64_t) { last = p; });
  EXPECT_EQ(last, tokens.size());
}
