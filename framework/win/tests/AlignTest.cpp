// Align: docked controls stack along the sides of their parent's client area
// in the order top, bottom, left, right, then client; the layout follows the
// parent's size, the controls' visibility and their positions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"

namespace {

struct Box {
  int left, top, width, height;
  bool operator==(const Box&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Box& b) {
  return os << "{" << b.left << "," << b.top << "," << b.width << "," << b.height << "}";
}
Box BoxOf(TControl* c) {
  return {c->GetLeft(), c->GetTop(), c->GetWidth(), c->GetHeight()};
}

class AlignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    form = TCustomForm::CreateNew<TForm>(Application);
    form->SetBorderStyle(bsNone);  // no frame: client = bounds
    form->SetBounds(0, 0, 200, 100);
    panel = New<TPanel>(form);
    panel->SetBevelOuter(bvNone);
    panel->SetBounds(0, 0, 200, 100);
    panel->SetParent(form);
  }
  void TearDown() override { form->Free(); }
  TLabel* Add(TAlign align, Box b, bool visible = true) {
    auto* c = New<TLabel>(form);
    c->SetAutoSize(false);
    c->SetBounds(b.left, b.top, b.width, b.height);
    c->SetVisible(visible);
    c->SetParent(panel);
    c->SetAlign(align);
    return c;
  }
  TForm* form = nullptr;
  TPanel* panel = nullptr;
};

TEST_F(AlignTest, DockedControlsShareTheClientAreaInOrder) {
  struct Case {
    const char* name;
    std::vector<std::pair<TAlign, Box>> controls;
    std::vector<Box> expected;
  };
  const Case cases[] = {
      {"one of each",
       {{alClient, {5, 5, 5, 5}},
        {alRight, {0, 0, 30, 5}},
        {alLeft, {0, 0, 20, 5}},
        {alBottom, {0, 0, 5, 10}},
        {alTop, {0, 0, 5, 15}}},
       {{20, 15, 150, 75}, {170, 15, 30, 75}, {0, 15, 20, 75}, {0, 90, 200, 10}, {0, 0, 200, 15}}},
      // Each joins the stack at its own position; the one joining wins a tie.
      {"tops stack by their positions",
       {{alTop, {0, 50, 5, 10}}, {alTop, {0, 0, 5, 20}}, {alTop, {0, 30, 5, 5}}},
       {{0, 20, 200, 10}, {0, 0, 200, 20}, {0, 30, 200, 5}}},
      {"bottoms stack from the bottom up",
       {{alBottom, {0, 90, 5, 10}}, {alBottom, {0, 50, 5, 20}}},
       {{0, 90, 200, 10}, {0, 70, 200, 20}}},
      {"lefts and rights",
       {{alLeft, {40, 0, 10, 5}}, {alLeft, {0, 0, 15, 5}}, {alRight, {0, 0, 25, 5}}},
       {{15, 0, 10, 100}, {0, 0, 15, 100}, {175, 0, 25, 100}}},
      {"too little room leaves no negative sizes",
       {{alTop, {0, 0, 5, 80}}, {alTop, {0, 90, 5, 80}}, {alClient, {0, 0, 5, 5}}},
       {{0, 0, 200, 80}, {0, 80, 200, 80}, {0, 100, 200, 0}}},
      {"alNone keeps its bounds",
       {{alNone, {7, 8, 9, 10}}, {alClient, {0, 0, 1, 1}}},
       {{7, 8, 9, 10}, {0, 0, 200, 100}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TLabel*> made;
    for (const auto& [align, box] : c.controls) made.push_back(Add(align, box));
    for (std::size_t i = 0; i < made.size(); ++i) EXPECT_EQ(BoxOf(made[i]), c.expected[i]) << "control " << i;
    for (TLabel* l : made) l->Free();
  }
}

TEST_F(AlignTest, TheLayoutFollowsSizeVisibilityAndAlignChanges) {
  TLabel* top = Add(alTop, {0, 0, 5, 20});
  TLabel* client = Add(alClient, {0, 0, 5, 5});
  EXPECT_EQ(BoxOf(client), (Box{0, 20, 200, 80}));

  panel->SetBounds(0, 0, 300, 150);  // the parent grows
  EXPECT_EQ(BoxOf(top), (Box{0, 0, 300, 20}));
  EXPECT_EQ(BoxOf(client), (Box{0, 20, 300, 130}));

  top->SetVisible(false);  // a hidden control gives its room back
  EXPECT_EQ(BoxOf(client), (Box{0, 0, 300, 150}));
  top->SetVisible(true);
  top->SetHeight(40);  // a docked control's own size still counts
  EXPECT_EQ(BoxOf(client), (Box{0, 40, 300, 110}));

  top->SetAlign(alNone);  // no longer docked: it keeps where it is
  EXPECT_EQ(BoxOf(top), (Box{0, 0, 300, 40}));
  EXPECT_EQ(BoxOf(client), (Box{0, 0, 300, 150}));

  top->SetParent(nullptr);
  top->SetAlign(alBottom);
  top->SetParent(panel);  // joining a parent docks it there
  EXPECT_EQ(BoxOf(top), (Box{0, 110, 300, 40}));
  EXPECT_EQ(BoxOf(client), (Box{0, 0, 300, 110}));
  top->Free();  // leaving it gives the room back
  EXPECT_EQ(BoxOf(client), (Box{0, 0, 300, 150}));
}

TEST_F(AlignTest, BevelsAndGroupBoxFramesAreLeftOut) {
  panel->SetBevelOuter(bvLowered);
  panel->SetBevelInner(bvRaised);
  TLabel* inPanel = Add(alClient, {0, 0, 1, 1});
  EXPECT_EQ(BoxOf(inPanel), (Box{2, 2, 196, 96}));

  auto* group = New<TGroupBox>(form);
  group->SetBounds(0, 0, 100, 80);
  group->SetParent(form);
  auto* inGroup = New<TLabel>(form);
  inGroup->SetAutoSize(false);
  inGroup->SetParent(group);
  inGroup->SetAlign(alClient);
  EXPECT_GT(inGroup->GetTop(), 2) << "below the caption";
  EXPECT_EQ(inGroup->GetLeft(), 2);
  EXPECT_EQ(inGroup->GetWidth(), 96);
  EXPECT_EQ(inGroup->GetTop() + inGroup->GetHeight(), 78);
}

TEST_F(AlignTest, AResizedWindowRealignsItsChildren) {
  TLabel* client = Add(alClient, {0, 0, 1, 1});
  panel->SetAlign(alClient);
  form->SetBorderStyle(bsSizeable);
  form->Show();
  RECT r;
  GetClientRect(form->WindowHandle(), &r);
  EXPECT_EQ(BoxOf(panel), (Box{0, 0, r.right, r.bottom}));
  // The user drags the frame: the window's new size reaches the layout.
  SetWindowPos(form->WindowHandle(), nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  GetClientRect(form->WindowHandle(), &r);
  EXPECT_EQ(form->GetWidth(), 400);
  EXPECT_EQ(BoxOf(panel), (Box{0, 0, r.right, r.bottom}));
  EXPECT_EQ(BoxOf(client), (Box{0, 0, r.right, r.bottom}));
}

TEST_F(AlignTest, AlignmentWaitsWhileDisabled) {
  TLabel* top = Add(alTop, {0, 50, 5, 20});
  panel->DisableAlign();
  top->SetTop(60);
  panel->SetBounds(0, 0, 120, 100);
  EXPECT_EQ(BoxOf(top), (Box{0, 60, 200, 20}));  // untouched while disabled
  panel->EnableAlign();
  EXPECT_EQ(BoxOf(top), (Box{0, 0, 120, 20}));
}

}  // namespace
