#include "SimCutter.h"

#include <gtest/gtest.h>

#include "SimFrames.h"
#include "SimTestUtil.h"

namespace {
// Events as text: "F <hex>" frame, "B <hex>" bad frame, "S <runs>" skipped, "A <line>" AT line.
std::vector<std::string> Text(const std::vector<TSimEvent>& events) {
  std::vector<std::string> out;
  for (const TSimEvent& e : events) {
    switch (e.Kind) {
      case TSimEventKind::seFrame:
        out.push_back("F " + SimHex(e.Bytes));
        break;
      case TSimEventKind::seBadFrame:
        out.push_back("B " + SimHex(e.Bytes));
        break;
      case TSimEventKind::seSkipped:
        out.push_back("S " + SimHexRuns(e.Bytes));
        break;
      case TSimEventKind::seAtLine:
        out.push_back("A " + e.Bytes);
        break;
    }
  }
  return out;
}

std::vector<std::string> CutAll(TSimCutter& c, const std::string& in, std::size_t step) {
  std::vector<TSimEvent> all;
  for (std::size_t i = 0; i < in.size(); i += step) {
    auto ev = c.Feed(std::string_view(in).substr(i, step));
    all.insert(all.end(), ev.begin(), ev.end());
  }
  auto rest = c.Flush();
  all.insert(all.end(), rest.begin(), rest.end());
  return Text(all);
}

const std::string kGolden = FromHex("1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5");
const std::string kGoldenText = "F 1E 00 10 D1 00 07 00 01 00 03 00 01 60 00 6E D5";
}  // namespace

TEST(SimCutter, CutsFramesOutOfNoiseWhateverTheReadSizes) {
  std::string badCs = kGolden;
  badCs.back() ^= 1;
  const std::string ack = FromHex("1E 00 10 7F 00 02 D2 01 DC 7C");
  struct Case {
    const char* name;
    std::string in;
    std::vector<std::string> want;
  } cases[] = {
      {"preamble", std::string(200, 'U') + "\xC1" + kGolden, {"S 55*200 C1", kGoldenText}},
      {"two frames", kGolden + ack, {kGoldenText, "F " + SimHex(ack)}},
      {"garbage around", FromHex("00 FF 1E") + kGolden + FromHex("13"), {"S 00 FF 1E", kGoldenText, "S 13"}},
      {"a 1E that addresses no one", FromHex("1E 1E 10") + kGolden, {"S 1E 1E 10", kGoldenText}},
      {"host-bound header is not ours",
       FromHex("1E 10 00 D2 00 02 01 40 00 00") + kGolden,
       {"S 1E 10 00 D2 00 02 01 40 00 00", kGoldenText}},
      {"over-long length is no frame", FromHex("1E 00 10 D1 FF FF") + kGolden, {"S 1E 00 10 D1 FF FF", kGoldenText}},
      {"bad checksum then a good frame", badCs + kGolden, {"B " + SimHex(badCs), kGoldenText}},
      // A frame cut short: its length swallows the next frame's start, the
      // checksum fails, and the rescan still finds the whole frame inside.
      {"truncated frame",
       kGolden.substr(0, 9) + kGolden,
       {"B " + SimHex(kGolden.substr(0, 9) + kGolden.substr(0, 7)), kGoldenText}},
  };
  for (const Case& c : cases) {
    for (std::size_t step : {std::size_t{1}, std::size_t{3}, std::size_t{7}, c.in.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", read size " + std::to_string(step));
      TSimCutter cutter;
      EXPECT_EQ(CutAll(cutter, c.in, step), c.want);
      EXPECT_FALSE(cutter.Pending());
    }
  }
}

TEST(SimCutter, GivesUpAPartialFrameOnlyWhenFlushed) {
  TSimCutter c;
  // A frame whose tail never comes, then the line goes quiet.
  EXPECT_TRUE(c.Feed(kGolden.substr(0, 10)).empty());
  EXPECT_TRUE(c.Pending());
  EXPECT_EQ(Text(c.Flush()), std::vector<std::string>{"S " + SimHex(kGolden.substr(0, 10))});
  EXPECT_FALSE(c.Pending());
  // A long header that stalls, with a whole frame queued behind it, is found on the flush.
  TSimCutter d;
  const std::string in = FromHex("1E 00 10 D1 00 40 00 01") + kGolden;
  EXPECT_TRUE(d.Feed(in).empty());
  EXPECT_EQ(Text(d.Flush()), (std::vector<std::string>{"S 1E 00 10 D1 00 40 00 01", kGoldenText}));
}

TEST(SimCutter, AtLinesAndPhonetFrames) {
  TSimCutter c;
  c.AcceptAtLines(true);
  c.AcceptPhonet(true, 0x19);
  const std::string in = std::string("at&f\r\n\0", 7) + std::string("AT*NokiaFBUS\r\n\0", 15) + "UUUUUUUU" +
                         FromHex("19 00 10 D0 00 01 04") + kGolden;
  for (std::size_t step : {std::size_t{1}, in.size()}) {
    TSimCutter cc = c;
    EXPECT_EQ(CutAll(cc, in, step),
              (std::vector<std::string>{"A at&f", "A AT*NokiaFBUS", "S 55*8", "F 19 00 10 D0 00 01 04", kGoldenText}));
  }
  // Without AT recognition the same bytes are noise; without FBUS the 1E frame is noise.
  TSimCutter p;
  p.AcceptFbus(false);
  p.AcceptPhonet(true, 0x19);
  EXPECT_EQ(Text(p.Feed(kGolden + FromHex("19 00 10 D1 00 00"))),
            (std::vector<std::string>{"S " + SimHex(kGolden), "F 19 00 10 D1 00 00"}));
  // A line that never ends is not held forever: the frame behind it is found.
  TSimCutter a;
  a.AcceptAtLines(true);
  EXPECT_EQ(Text(a.Feed("at" + std::string(300, 'x') + kGolden)),
            (std::vector<std::string>{"S 61 74 78*300", kGoldenText}));
}

TEST(SimCutter, SettingsApplyToBytesNotYetCut) {
  TSimCutter c;
  c.AcceptAtLines(true);
  c.AcceptFbus(false);
  c.Add(std::string("at*nokiafbus\r\n\0", 15) + kGolden);
  TSimEvent e;
  ASSERT_TRUE(c.Next(e));
  EXPECT_EQ(e.Kind, TSimEventKind::seAtLine);
  c.AcceptAtLines(false);
  c.AcceptFbus(true);
  std::vector<TSimEvent> rest;
  while (c.Next(e)) rest.push_back(e);
  EXPECT_EQ(Text(rest), (std::vector<std::string>{kGoldenText}));
}
