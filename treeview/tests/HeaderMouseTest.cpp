// The header's resize zone and drop rule, the hint window's size, place and
// shadow, and the drag image's alpha channel and moves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "VirtualTreeHeaderMouse.h"

namespace {

// Three visible columns 100, 60 and 80 wide at positions 0, 1, 2 (edges 100, 160, 240).
struct ThreeColumns {
  TVTColumnMetrics a, b, c;
  std::vector<TVTColumnMetrics*> span{&a, &b, &c};
  std::vector<int> map{0, 1, 2};
  ThreeColumns() {
    a.Width = 100;
    b.Width = 60;
    c.Width = 80;
  }
};

TEST(FindResizeZone, TheZoneIsTheOpenIntervalFromThreeLeftToFiveRightOfTheEdge) {
  ThreeColumns cols;
  const int edge = 160;  // the right edge of the column at position 1
  struct Case {
    int x;
    int column;
  } cases[] = {{edge - 3, NoColumn}, {edge - 2, 1}, {edge + 4, 1}, {edge + 5, NoColumn}, {240 + 4, 2}, {99, 0}};
  for (const Case& c : cases) {
    const TVTResizeZone zone = FindResizeZone(cols.map, cols.span, 240, c.x);
    EXPECT_EQ(zone.Column, c.column) << "x " << c.x;
    if (zone.Hit()) {
      EXPECT_EQ(zone.TrackStart, zone.Column == 1 ? 100 : zone.Column == 2 ? 160 : 0);
    }
  }
}

TEST(FindResizeZone, SkipsHiddenColumnsFollowsTheOffsetAndRefusesFixedColumns) {
  ThreeColumns cols;
  cols.b.Options &= std::uint8_t(~kColumnVisible);  // edges now 100 and 180
  EXPECT_EQ(FindResizeZone(cols.map, cols.span, 180, 101).Column, 0);
  EXPECT_EQ(FindResizeZone(cols.map, cols.span, 180, 161).Column, NoColumn);
  // Scrolled 30 to the left: the edges move with the offset.
  EXPECT_EQ(FindResizeZone(cols.map, cols.span, 180 - 30, 71).Column, 0);
  cols.a.Options &= std::uint8_t(~kColumnResizable);
  EXPECT_EQ(FindResizeZone(cols.map, cols.span, 180, 101).Column, NoColumn);
  EXPECT_EQ(FindResizeZone({}, {}, 0, 0).Column, NoColumn);
}

TEST(ColumnDropPosition, DroppedBeforeOrAfterTheTarget) {
  struct Case {
    std::uint32_t from, target;
    bool before;
    std::uint32_t expected;
  } cases[] = {
      {4, 2, false, 3},  // the right half of position 2
      {4, 2, true, 2},   // its left half
      {1, 3, true, 2},  {1, 3, false, 3}, {0, 0, true, 0}, {2, 0, true, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ColumnDropPosition(c.from, c.target, c.before), c.expected)
        << c.from << " onto " << c.target << (c.before ? " before" : " after");
  EXPECT_TRUE(DropsBeforeColumn(149, 100, 200));
  EXPECT_FALSE(DropsBeforeColumn(150, 100, 200));
}

TEST(BeyondDragThreshold, OnlyAMovePastTheThresholdInOneAxisStartsTheDrag) {
  EXPECT_FALSE(BeyondDragThreshold(10, 10, 15, 5, 5));
  EXPECT_TRUE(BeyondDragThreshold(10, 10, 16, 10, 5));
  EXPECT_TRUE(BeyondDragThreshold(10, 10, 10, 4, 5));
}

TEST(TVTHeaderMouseMachine, TrackAndDragRunThroughTheirStates) {
  std::uint8_t states = 0;
  TVTHeaderMouseMachine machine(states);
  int width = -1, asked = 0;
  auto allowed = [&asked] { return ++asked, true; };
  auto refused = [&asked] { return ++asked, false; };
  // A press beside any zone or draggable column: nothing for the header.
  EXPECT_EQ(machine.Press(false, false), TVTHeaderStep::None);
  EXPECT_EQ(machine.Move(10, 0, 0, 0, 0, 0, 5, allowed, width), TVTHeaderStep::None);
  EXPECT_FALSE(machine.Busy());

  // Track: pending, then each move a width from the track start.
  EXPECT_EQ(machine.Press(true, true), TVTHeaderStep::Capture);
  EXPECT_EQ(states, kHeaderTrackPending);
  EXPECT_EQ(machine.Move(130, 0, 0, 100, 0, 0, 5, allowed, width), TVTHeaderStep::BeginTracking);
  EXPECT_EQ(states, kHeaderTracking);
  EXPECT_EQ(machine.Move(145, 0, 0, 100, 0, 0, 5, allowed, width), TVTHeaderStep::Track);
  EXPECT_EQ(width, 45);
  TVTHeaderMouseMachine::Ended ended = machine.End();
  EXPECT_TRUE(ended.Any && ended.Tracking && !ended.Dragging);
  EXPECT_EQ(states, 0);
  EXPECT_EQ(asked, 0);

  // Drag: pending within the threshold, a refusal keeps it waiting, then past it the drag.
  EXPECT_EQ(machine.Press(false, true), TVTHeaderStep::Capture);
  EXPECT_EQ(machine.Move(0, 503, 300, 0, 500, 300, 5, allowed, width), TVTHeaderStep::Wait);
  EXPECT_EQ(machine.Move(0, 520, 300, 0, 500, 300, 5, refused, width), TVTHeaderStep::Wait);
  EXPECT_EQ(states, kHeaderDragPending);
  EXPECT_EQ(machine.Move(0, 520, 300, 0, 500, 300, 5, allowed, width), TVTHeaderStep::BeginDrag);
  EXPECT_EQ(states, kHeaderDragging);
  EXPECT_EQ(machine.Move(0, 540, 330, 0, 500, 300, 5, allowed, width), TVTHeaderStep::DragOver);
  EXPECT_EQ(asked, 3);
  ended = machine.End();
  EXPECT_TRUE(ended.Any && ended.Dragging && !ended.Tracking);
  EXPECT_FALSE(machine.End().Any);

  // Other header states (auto-sizing) are left alone.
  states = kHeaderAutoSizing;
  EXPECT_FALSE(machine.Busy());
  machine.Press(true, false);
  machine.End();
  EXPECT_EQ(states, kHeaderAutoSizing);
}

TEST(HintRect, TooltipModeCoversTheUnclippedTextRectangle) {
  const TVTRect text{40, 20, 190, 36};  // 150 x 16
  for (int shadow : {0, 5}) {
    const TVTRect r = TooltipHintRect(text, false, shadow);
    EXPECT_EQ(r.Left, -1);
    EXPECT_EQ(r.Top, -1);
    // Placed at the text's top-left, the window less its shadow is the text grown by one pixel.
    EXPECT_EQ(r.Width() - shadow, text.Width() + 2);
    EXPECT_EQ(r.Height() - shadow, text.Height() + 2);
  }
  EXPECT_EQ(TooltipHintRect(text, true, 0).Height(), text.Height() + 3);
}

TEST(HintRect, AMeasuredTextGetsMarginsAndTheShadow) {
  const TVTRect measured{0, 0, 80, 13};
  EXPECT_EQ(MeasuredHintRect(measured, 4, 0), (TVTRect{0, 0, 80 + 10, 13 + 6}));
  EXPECT_EQ(MeasuredHintRect(measured, 4, 5), (TVTRect{0, 0, 80 + 15, 13 + 11}));
  EXPECT_EQ(HintShadowSize(true), 5);
  EXPECT_EQ(HintShadowSize(false), 0);
}

TEST(ClampRectToDesktop, EachEdgeMovesTheWholeRectangleBackOnTheDesktop) {
  const TVTRect desktop{0, 0, 800, 600};
  struct Case {
    TVTRect in, out;
  } cases[] = {
      {{700, 100, 900, 120}, {600, 100, 800, 120}},  // past the right edge
      {{-30, 100, 70, 120}, {0, 100, 100, 120}},     // past the left edge
      {{10, 590, 110, 610}, {10, 580, 110, 600}},    // past the bottom
      {{10, -5, 110, 15}, {10, 0, 110, 20}},         // above the top
      {{10, 10, 110, 30}, {10, 10, 110, 30}},        // inside
  };
  for (const Case& c : cases) EXPECT_EQ(ClampRectToDesktop(c.in, desktop), c.out) << c.in.Left << "," << c.in.Top;
  // A work area that does not start at 0.
  EXPECT_EQ(ClampRectToDesktop({-10, 0, 90, 20}, {100, 40, 900, 640}), (TVTRect{100, 40, 200, 60}));
}

TEST(HintShadowPasses, FiveShrinkingPassesPerStripAtTheListedAlphas) {
  const int w = 100, h = 40, s = 5;
  const std::vector<TVTShadowPass> passes = HintShadowPasses(w, h, s);
  ASSERT_EQ(passes.size(), 10u);
  const int alphas[] = {5, 10, 20, 35, 50};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(passes[std::size_t(i)].Alpha, alphas[i]);
    EXPECT_EQ(passes[std::size_t(i)].Rect, (TVTRect{s + i, h - s, w - i, h - i})) << "bottom pass " << i;
    EXPECT_EQ(passes[std::size_t(5 + i)].Alpha, alphas[i]);
    EXPECT_EQ(passes[std::size_t(5 + i)].Rect, (TVTRect{w - s, s + i, w - i, h - s})) << "right pass " << i;
  }
  EXPECT_TRUE(HintShadowPasses(w, h, 0).empty());
  EXPECT_EQ(HintFadeAlpha(0), 0);
  EXPECT_EQ(HintFadeAlpha(255), 256);
}

TEST(DragImageAlpha, FollowsTheExponentialAndTheColourKeyGivesZero) {
  // A 100 x 50 picture: r = distance / 100 from (50, 25).
  struct Case {
    int x, y;
    double r;
  } cases[] = {{50, 25, 0.0}, {100, 25, 0.5}, {0, 25, 0.5}, {50, 75, 0.5}};
  for (const Case& c : cases)
    EXPECT_EQ(DragImageAlpha(c.x, c.y, 100, 50), std::lround(255 * std::exp(-8 * c.r))) << c.x << "," << c.y;
  EXPECT_EQ(DragImageAlpha(50, 25, 100, 50), 255);
  EXPECT_EQ(DragImageAlpha(50, 125, 100, 50), 0);  // r = 1: 255 e^-8 is below a half
  EXPECT_EQ(DragImageAlpha(0, 0, 0, 0), 0);

  // A 4 x 2 picture whose pixel (1, 0) has the key colour RGB(0x10, 0x20, 0x30).
  const std::uint32_t key = 0x00302010;  // 0x00BBGGRR
  std::vector<std::uint32_t> source(8, 0x00FFFFFF), pixels(8, 0x00ABCDEF);
  source[1] = 0x00102030;  // read as 0xAARRGGBB
  BuildDragImageAlpha(pixels.data(), source.data(), 4, 2, key);
  EXPECT_EQ(pixels[1] >> 24, 0u);
  EXPECT_EQ(pixels[1] & 0xFFFFFF, 0xABCDEFu);
  EXPECT_EQ(pixels[2 + 4 * 1] >> 24, DragImageAlpha(2, 1, 4, 2));
  BuildDragImageAlpha(pixels.data(), source.data(), 4, 2, kDragColorKeyNone);
  EXPECT_EQ(pixels[1] >> 24, DragImageAlpha(1, 0, 4, 2));
}

TEST(TVTDragImageModel, StatesVisibilityAndTheMovePlans) {
  TVTDragImageModel image;
  EXPECT_FALSE(image.Visible());
  EXPECT_FALSE(image.Show());
  image.Prepare(40, 20, 100, 200, 110, 205);
  EXPECT_FALSE(image.Visible());  // prepared, still hidden
  EXPECT_TRUE(image.ScreenRect().IsEmpty());
  EXPECT_TRUE(image.Show());
  EXPECT_TRUE(image.Visible());
  EXPECT_EQ(image.ScreenRect(), (TVTRect{100, 200, 140, 220}));

  // A small move is incremental: the strips of a move by (+3, -2).
  TVTDragStep step = image.DragTo(113, 203, false);
  EXPECT_TRUE(step.Moved);
  EXPECT_TRUE(step.Redraw);
  EXPECT_FALSE(step.Full);
  EXPECT_EQ(step.NewLeft, 103);
  EXPECT_EQ(step.NewTop, 198);
  EXPECT_EQ(step.Rects.Uncovered[0], (TVTRect{0, 0, 3, 20}));
  // A move by the width or more restores and grabs everything.
  step = image.DragTo(153, 203, false);
  EXPECT_TRUE(step.Full);
  EXPECT_EQ(image.Left, 143);
  // No move: nothing to do, unless forced.
  EXPECT_FALSE(image.DragTo(153, 203, false).Moved);
  EXPECT_TRUE(image.DragTo(153, 203, true).Full);

  // Horizontal only: a vertical move alone does not move the picture.
  image.Restriction = kDragMoveHorizontal;
  EXPECT_FALSE(image.WillMove(153, 250));
  step = image.DragTo(153, 250, false);
  EXPECT_FALSE(step.Moved);
  EXPECT_EQ(image.Top, 198);
  EXPECT_TRUE(image.WillMove(150, 250));

  EXPECT_TRUE(image.Hide());
  EXPECT_FALSE(image.Hide());
  EXPECT_FALSE(image.WillMove(0, 0));
  EXPECT_TRUE(image.Show());
  image.Finish();
  EXPECT_FALSE(image.Visible());
  EXPECT_FALSE(image.Show());
  EXPECT_TRUE(image.ScreenRect().IsEmpty());

  // A picture the system draws is never visible here.
  TVTDragImageModel system;
  system.States = kDragImageSystemSupport;
  system.Prepare(10, 10, 0, 0, 0, 0);
  EXPECT_FALSE(system.Show());
  EXPECT_TRUE(system.ScreenRect().IsEmpty());
}

}  // namespace
