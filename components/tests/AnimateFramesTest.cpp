#include "AnimateFrames.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(AnimateFramesTest, AStripSplitsIntoSquareFramesOnlyWhenItsLengthIsAMultipleOfItsBreadth) {
  struct Case {
    int width, height;
    bool vertical;
    int frames, frameWidth, frameHeight;
  };
  const Case cases[] = {
      {480, 32, false, 15, 32, 32}, {100, 30, false, 1, 100, 30}, {32, 480, true, 15, 32, 32},
      {32, 480, false, 1, 32, 480}, {0, 0, false, 1, 0, 0},       {64, 0, false, 1, 64, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << (c.vertical ? " vertical" : ""));
    TFrameState s;
    s.Vertical = c.vertical;
    s.GlyphNum = 7;
    CountFramesFromStrip(s, c.width, c.height);
    EXPECT_EQ(s.NumGlyphs, c.frames);
    EXPECT_EQ(s.FrameWidth, c.frameWidth);
    EXPECT_EQ(s.FrameHeight, c.frameHeight);
    EXPECT_EQ(s.GlyphNum, 0);
  }
}

std::vector<int> Steps(TFrameState s, int count) {
  std::vector<int> seen;
  for (int i = 0; i < count; ++i) {
    s.GlyphNum = NextFrame(s);
    seen.push_back(s.GlyphNum);
  }
  return seen;
}

TEST(AnimateFramesTest, SteppingWrapsAndNeverShowsTheInactiveFrame) {
  TFrameState s;
  CountFramesFromStrip(s, 480, 32);
  s.InactiveGlyph = 3;
  EXPECT_EQ(Steps(s, 15), (std::vector<int>{1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0, 1}));
  s.NumGlyphs = 2;
  s.InactiveGlyph = 1;
  EXPECT_EQ(Steps(s, 3), (std::vector<int>{0, 0, 0})) << "two frames, one inactive: the other at every tick";
  s.InactiveGlyph = -1;
  EXPECT_EQ(Steps(s, 3), (std::vector<int>{1, 0, 1}));
  s.NumGlyphs = 15;
  s.GlyphNum = 20;  // out of range (a strip made shorter behind it)
  EXPECT_EQ(NextFrame(s), 0) << "a frame beyond the strip wraps instead of running on";
}

TEST(AnimateFramesTest, WritersKeepTheFrameNumbersInsideTheStrip) {
  TFrameState s;
  CountFramesFromStrip(s, 480, 32);
  EXPECT_FALSE(SetGlyphNum(s, 15, true)) << "15 is past a 15-frame strip";
  EXPECT_FALSE(SetGlyphNum(s, -1, true));
  EXPECT_TRUE(SetGlyphNum(s, 14, true));
  EXPECT_EQ(s.GlyphNum, 14);
  EXPECT_FALSE(SetGlyphNum(s, 14, true)) << "the same value stores nothing";

  EXPECT_FALSE(SetInactiveGlyph(s, -5, true, false)) << "-5 is -1, the value it has";
  EXPECT_EQ(s.InactiveGlyph, -1);
  EXPECT_FALSE(SetInactiveGlyph(s, 15, true, false));
  EXPECT_TRUE(SetInactiveGlyph(s, 40, true, true)) << "while loading any value is kept";
  EXPECT_TRUE(SetInactiveGlyph(s, 3, false, false));
  EXPECT_EQ(s.GlyphNum, 3) << "an inactive image shows its inactive frame";
  EXPECT_TRUE(SetInactiveGlyph(s, -5, false, false));
  EXPECT_EQ(s.InactiveGlyph, -1);

  SetNumGlyphs(s, 0, true, 480, 32);
  EXPECT_EQ(s.NumGlyphs, 1) << "raised to 1";
  EXPECT_EQ(s.FrameWidth, 480);

  // Lowering the count below the current frame brings the frame back into the strip.
  SetNumGlyphs(s, 15, true, 480, 32);
  ASSERT_TRUE(SetGlyphNum(s, 12, true));
  SetNumGlyphs(s, 5, true, 480, 32);
  EXPECT_EQ(s.GlyphNum, 0);
  EXPECT_EQ(s.FrameWidth, 96);

  // An inactive frame no longer in the strip is dropped with the current frame.
  SetNumGlyphs(s, 15, false, 480, 32);
  ASSERT_TRUE(SetInactiveGlyph(s, 9, false, false));
  SetNumGlyphs(s, 9, false, 480, 32);
  EXPECT_EQ(s.InactiveGlyph, -1);
  EXPECT_EQ(s.GlyphNum, 0);
}

TEST(AnimateFramesTest, FrameDrawnAndWhereItGoes) {
  TFrameState s;
  CountFramesFromStrip(s, 480, 32);
  s.GlyphNum = 5;
  EXPECT_EQ(FrameToDraw(s, false), 5) << "no inactive frame";
  s.InactiveGlyph = 3;
  EXPECT_EQ(FrameToDraw(s, false), 3);
  EXPECT_EQ(FrameToDraw(s, true), 5);
  EXPECT_EQ(FrameSource(s, 3), (TFrameRect{96, 0, 32, 32}));
  s.Vertical = true;
  ComputeFrameSize(s, 32, 480);
  EXPECT_EQ(FrameSource(s, 3), (TFrameRect{0, 96, 32, 32}));
  EXPECT_EQ(FrameDestination(s, 50, 41, true, true), (TFrameRect{0, 0, 50, 41}));
  EXPECT_EQ(FrameDestination(s, 50, 41, false, true), (TFrameRect{9, 4, 32, 32}));
  EXPECT_EQ(FrameDestination(s, 20, 20, false, true), (TFrameRect{-6, -6, 32, 32})) << "rounds toward zero";
  EXPECT_EQ(FrameDestination(s, 50, 41, false, false), (TFrameRect{0, 0, 32, 32}));
}

}  // namespace
