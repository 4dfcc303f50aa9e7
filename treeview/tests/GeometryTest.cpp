// Node ownership, rectangles, pointer sorting, drag-image moves and blending.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "VirtualTrees.h"

namespace {

TEST(OwnerTreeOfNode, ClimbsToTheRootAndAnswersItsParent) {
  TObject tree;
  struct {
    TVTRootPrefix prefix;
    TVTNode node;
  } rootBlock{{&tree, nullptr}, {}};
  TVTNode& root = rootBlock.node;
  TVTNode top{}, child{}, grandchild{};
  root.NextSibling = root.PrevSibling = &root;
  top.Parent = &root;
  child.Parent = &top;
  grandchild.Parent = &child;
  for (const TVTNode* n : {&root, &top, &child, &grandchild}) EXPECT_EQ(OwnerTreeOfNode(n), &tree);
  EXPECT_EQ(OwnerTreeOfNode(nullptr), nullptr);
}

TEST(NormalizeRect, SwapsEachAxisOnItsOwn) {
  struct Case {
    TVTRect in, out;
  } cases[] = {
      {{1, 2, 3, 4}, {1, 2, 3, 4}}, {{3, 2, 1, 4}, {1, 2, 3, 4}},     {{1, 4, 3, 2}, {1, 2, 3, 4}},
      {{3, 4, 1, 2}, {1, 2, 3, 4}}, {{-5, 0, -9, 0}, {-9, 0, -5, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeRect(c.in), c.out);
}

TEST(QuickSortPointers, SortsByAddressIncludingDuplicatesAndHighAddresses) {
  std::mt19937 random(7);
  for (std::size_t n : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{17}, std::size_t{1000}}) {
    std::vector<void*> items(n);
    for (void*& p : items) {
      std::uintptr_t v = random() % 50;                   // many duplicates
      if (random() % 3 == 0) v = ~std::uintptr_t{0} - v;  // above the sign bit
      p = reinterpret_cast<void*>(v);
    }
    std::vector<void*> expected = items;
    std::sort(expected.begin(), expected.end(), [](void* a, void* b) {
      return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
    });
    QuickSortPointers(items.data(), 0, static_cast<std::ptrdiff_t>(n) - 1);
    EXPECT_EQ(items, expected) << n;
  }
  // A part of the array only.
  std::vector<void*> part = {reinterpret_cast<void*>(9), reinterpret_cast<void*>(3), reinterpret_cast<void*>(2),
                             reinterpret_cast<void*>(1)};
  QuickSortPointers(part.data(), 1, 2);
  EXPECT_EQ(part[0], reinterpret_cast<void*>(9));
  EXPECT_EQ(part[1], reinterpret_cast<void*>(2));
  EXPECT_EQ(part[2], reinterpret_cast<void*>(3));
  EXPECT_EQ(part[3], reinterpret_cast<void*>(1));
}

TEST(ComputeDragMoveRects, TheScrolledPartAndTheStripsCoverBothAreasExactlyOnce) {
  const int width = 20, height = 12;
  for (int dx : {-7, 0, 5}) {
    for (int dy : {-3, 0, 9}) {
      SCOPED_TRACE(testing::Message() << "dx " << dx << " dy " << dy);
      const TDragMoveRects m = ComputeDragMoveRects(width, height, dx, dy);
      EXPECT_EQ(m.Whole, (TVTRect{0, 0, width, height}));
      EXPECT_EQ(m.Uncovered[0].IsEmpty(), dx == 0);
      EXPECT_EQ(m.Covered[0].IsEmpty(), dx == 0);
      EXPECT_EQ(m.Uncovered[1].IsEmpty(), dy == 0);
      EXPECT_EQ(m.Covered[1].IsEmpty(), dy == 0);
      const TVTRect oldArea{0, 0, width, height}, newArea{dx, dy, width + dx, height + dy};
      const TVTRect* oldPieces[] = {&m.Scroll, &m.Uncovered[0], &m.Uncovered[1]};
      const TVTRect* newPieces[] = {&m.Scroll, &m.Covered[0], &m.Covered[1]};
      for (int y = -15; y < 30; ++y) {
        for (int x = -15; x < 30; ++x) {
          int inOld = 0, inNew = 0;
          for (const TVTRect* r : oldPieces) inOld += r->Contains(x, y);
          for (const TVTRect* r : newPieces) inNew += r->Contains(x, y);
          ASSERT_EQ(inOld, oldArea.Contains(x, y) ? 1 : 0) << "old area at " << x << "," << y;
          ASSERT_EQ(inNew, newArea.Contains(x, y) ? 1 : 0) << "new area at " << x << "," << y;
        }
      }
      // The strips are as wide and as high as the move.
      if (dx) {
        EXPECT_EQ(m.Uncovered[0].Width(), std::abs(dx));
      }
      if (dy) {
        EXPECT_EQ(m.Uncovered[1].Height(), std::abs(dy));
      }
    }
  }
}

// The Part's formulas, one channel at a time.
int Channel(std::uint32_t p, int i) {
  return static_cast<int>((p >> (8 * i)) & 0xFF);
}
std::uint32_t Expected(int mode, std::uint32_t s, std::uint32_t d, int alpha, int bias) {
  std::uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const int sc = Channel(s, i), dc = Channel(d, i);
    int v = 0;
    if (mode == 3) {
      const int colour[4] = {(bias >> 16) & 0xFF, (bias >> 8) & 0xFF, bias & 0xFF, 0};  // B, G, R, A
      v = (colour[i] * alpha + dc * (256 - alpha)) / 256;
    } else {
      int a = alpha;
      if (mode == 1) a = Channel(s, 3);
      if (mode == 2) a = Channel(s, 3) * alpha / 256;
      const int product = (sc - dc) * a;
      const int shifted = product >= 0 ? product / 256 : -((-product + 255) / 256);  // floor, as a shift
      v = std::clamp(dc + shifted + bias, 0, 255);
    }
    out |= static_cast<std::uint32_t>(v) << (8 * i);
  }
  return out;
}

TEST(AlphaBlendLine, TheFourModesFollowTheirFormulasOnRandomPixels) {
  std::mt19937 random(42);
  for (int mode = 0; mode < 4; ++mode) {
    for (int round = 0; round < 200; ++round) {
      const int count = 1 + static_cast<int>(random() % 9);
      const int alpha = static_cast<int>(random() % 257);
      const int bias = mode == 3 ? static_cast<int>(random() & 0xFFFFFF) : static_cast<int>(random() % 81) - 40;
      std::vector<std::uint32_t> src(count), dst(count);
      for (auto& p : src) p = static_cast<std::uint32_t>(random());
      for (auto& p : dst) p = static_cast<std::uint32_t>(random());
      std::vector<std::uint32_t> want(count);
      for (int i = 0; i < count; ++i) want[i] = Expected(mode, src[i], dst[i], alpha, bias);
      AlphaBlendLine(src.data(), dst.data(), count, mode, alpha, bias);
      ASSERT_EQ(dst, want) << "mode " << mode << " alpha " << alpha << " bias " << bias;
    }
  }
}

TEST(AlphaBlendLine, SaturationColourOrderAndUnknownModes) {
  struct Case {
    int mode;
    std::uint32_t s, d;
    int alpha, bias;
    std::uint32_t expected;
  } cases[] = {
      {0, 0xFFFFFFFF, 0xF0F0F0F0, 255, 40, 0xFFFFFFFF},   // bias pushes above 255: saturated
      {0, 0x00000000, 0x10101010, 255, -40, 0x00000000},  // and below 0
      {0, 0x00FF0080, 0x00000000, 128, 0, 0x007F0040},
      {1, 0x80FF0000, 0x00000000, 0, 0, 0x407F0000},    // the source's own alpha
      {2, 0xFFFF0000, 0x00000000, 128, 0, 0x7E7E0000},  // alpha (255 * 128) >> 8 = 127, then 255 * 127 >> 8
      {3, 0, 0x00000000, 256, 0x00112233, 0x00332211},  // COLORREF 0x00BBGGRR to B, G, R bytes
      {3, 0, 0xFF000000, 128, 0x000000FF, 0x7F7F0000},  // red; the alpha byte blends too
      {7, 0x12345678, 0x9ABCDEF0, 100, 0, 0x9ABCDEF0},
  };
  for (const Case& c : cases) {
    std::uint32_t d = c.d;
    AlphaBlendLine(&c.s, &d, 1, c.mode, c.alpha, c.bias);
    EXPECT_EQ(d, c.expected) << std::hex << "mode " << c.mode << " d " << c.d;
  }
  std::uint32_t untouched = 0x55;
  AlphaBlendLine(nullptr, &untouched, 0, 3, 128, 0xFFFFFF);
  EXPECT_EQ(untouched, 0x55u) << "an empty row does nothing";
}

TEST(MMXAvailable, SetOnX86_64) {
#if defined(__x86_64__)
  EXPECT_TRUE(MMXAvailable());
#else
  EXPECT_EQ(MMXAvailable(), MMXAvailable());
#endif
}

}  // namespace
