// The string tree under Wine: its core and options, the in-place editor
// (F2, typed UTF-16 characters, Enter, Esc, Tab, the text accepted when the
// editor's window goes), the text painting probed by pixels (static text,
// shortened text, spanning over empty cells) and the order of the paint
// events of one render.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Filer.h"
#include "Forms.h"
#include "ObjectConvert.h"
#include "PaintCanvas.h"
#include "Streams.h"
#include "UcxSysUtils.h"
#include "UcxSystem.h"
#include "VirtualStringTreesWin.h"
#include "VirtualTreeColumns.h"
#include "VirtualTreesWin.h"
#include "WidePlatform.h"
#include "Win32Platform.h"
#include "Win32WidePlatform.h"

namespace {

constexpr int kRowHeight = 18;

class StringTreeWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    savedPlatform_ = SetWidePlatform(&platform_);
    InitUcxSysUtils();
    InitUcxSystem();
    ASSERT_TRUE(IsUnicodePlatform);
    InitForms();
    InitVirtualTrees();
    form_ = New<TForm>(Application);
    form_->SetBounds(0, 0, 400, 400);
    tree_ = New<TCustomVirtualStringTree>(form_);
    tree_->SetParent(form_);
    tree_->SetBounds(0, 0, 320, 200);
    form_->Show();
    TVTHeader* header = tree_->GetHeader();
    for (int width : {100, 80, 60}) {
      auto* column = static_cast<TVirtualTreeColumn*>(header->GetColumns()->Add());
      column->SetWidth(width);
    }
    header->SetOptions(header->GetOptions() + TVTHeaderOptions{hoVisible});
    Core().OptionBits.Paint &= std::uint16_t(~(voPaintThemed | voShowTreeLines));
    SendMessageW(tree_->WindowHandle(), WM_THEMECHANGED, 0, 0);
    Core().OptionBits.Misc |= voEditable;
    tree_->OnGetText = decltype(tree_->OnGetText)::Bind<&StringTreeWinTest::GetText>(this);
    tree_->OnNewText = decltype(tree_->OnNewText)::Bind<&StringTreeWinTest::NewText>(this);
    tree_->SetRootNodeCount(3);
  }
  void TearDown() override {
    FreeAndNil(form_);
    DoneVirtualTrees();
    DoneUcxSystem();
    SetWidePlatform(savedPlatform_);
  }
  TVirtualTreeCore& Core() { return tree_->Tree(); }
  void GetText(TObject*, TVTNode* node, int column, int kind, std::u16string& text) {
    if (kind == ttStatic) {
      text = staticText_;
      return;
    }
    if (column <= 0) text = node->Index == 0 ? first_ : u"Node " + std::u16string(1, char16_t(u'0' + node->Index));
    if (column > 0) text = column == 1 ? secondColumn_ : u"";
  }
  void NewText(TObject*, TVTNode* node, int column, const std::u16string& text) {
    edits_.push_back({node, column, text});
  }
  // F2 on the first node; the editor's window.
  HWND StartEdit() {
    TVTNode* node = Core().FirstNode();
    Core().ChangeFocusedNode(node, false);
    tree_->SetFocusedColumn(0);
    SendMessageW(tree_->WindowHandle(), WM_KEYDOWN, VK_F2, 1);
    EXPECT_TRUE(Core().HasTreeState(tsEditing));
    link_ = std::dynamic_pointer_cast<TStringEditLink>(Core().EditLink());
    if (!link_ || !link_->Editor()) return nullptr;
    return link_->Editor()->WindowHandle();
  }
  // The tree's rows rendered into a white canvas.
  std::unique_ptr<Canvas> Render() {
    auto canvas = std::make_unique<Canvas>(320, 3 * kRowHeight);
    tree_->RenderTreeToCanvas(canvas->dc, RECT{0, 0, 320, 3 * kRowHeight}, 0x3F, POINT{0, 0});
    GdiFlush();
    return canvas;
  }
  // The first and last x with dark pixels in the first row between x0 and x1 (-1: none).
  static std::pair<int, int> Ink(const Canvas& c, int x0, int x1, int row = 0) {
    int first = -1, last = -1;
    for (int x = x0; x < x1; ++x) {
      for (int y = row * kRowHeight; y < (row + 1) * kRowHeight; ++y) {
        const COLORREF p = c.At(x, y);
        if (GetRValue(p) + GetGValue(p) + GetBValue(p) < 384) {
          if (first < 0) first = x;
          last = x;
          break;
        }
      }
    }
    return {first, last};
  }

  struct Edit {
    TVTNode* Node;
    int Column;
    std::u16string Text;
  };
  Win32WidePlatform platform_;
  WidePlatform* savedPlatform_ = nullptr;
  TForm* form_ = nullptr;
  TCustomVirtualStringTree* tree_ = nullptr;
  std::shared_ptr<TStringEditLink> link_;
  std::u16string first_ = u"Alpha";
  std::u16string secondColumn_ = u"x";
  std::u16string staticText_;
  std::vector<Edit> edits_;
};

TEST_F(StringTreeWinTest, TheWindowTreeRunsOnTheStringCoreWithStringOptions) {
  auto* core = dynamic_cast<TVirtualStringTreeCore*>(&Core());
  ASSERT_NE(core, nullptr);
  ASSERT_NE(tree_->StringTreeOptions(), nullptr);
  EXPECT_EQ(tree_->StringTreeOptions()->StringOptions(), 5);
  EXPECT_EQ(tree_->GetDefaultText(), u"Node");
  EXPECT_EQ(tree_->CellText(Core().FirstNode(), 0), u"Alpha");
  // The main column's width is measured once and cached in the node.
  TVTNode* node = Core().FirstNode();
  const std::uint32_t width = core->MeasureNodeWidth(node, 0);
  EXPECT_GT(width, 8u);
  EXPECT_EQ(core->CachedTextWidth(node), width);
  SendMessageW(tree_->WindowHandle(), WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), 0);
  EXPECT_EQ(core->CachedTextWidth(node), 0u);
  EXPECT_GT(tree_->TextHeight(), 0);
  EXPECT_GT(tree_->EllipsisWidth(), 0);
}

TEST_F(StringTreeWinTest, TypedWideCharactersAndEnterGiveTheNewTextExactly) {
  HWND edit = StartEdit();
  ASSERT_NE(edit, nullptr);
  ASSERT_TRUE(IsWindowUnicode(edit));
  EXPECT_EQ(link_->Editor()->GetWideText(), u"Alpha");
  SendMessageW(edit, WM_CHAR, 0x03A9, 1);  // the text is selected: typing replaces it
  SendMessageW(edit, WM_CHAR, L'1', 1);
  SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
  ASSERT_EQ(edits_.size(), 1u);
  EXPECT_EQ(edits_[0].Text, u"\u03A91");
  EXPECT_EQ(edits_[0].Node, Core().FirstNode());
  EXPECT_EQ(edits_[0].Column, 0);
  EXPECT_FALSE(Core().HasTreeState(tsEditing));
}

TEST_F(StringTreeWinTest, TheEditorIsFilledWithCharactersOutsideTheCodePage) {
  first_ = u"\u0416\u4E2D\U0001F600";
  HWND edit = StartEdit();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(link_->Editor()->GetWideText(), first_);
  SendMessageW(edit, WM_CHAR, L'z', 1);
  SendMessageW(edit, WM_CHAR, 0x0436, 1);
  SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
  ASSERT_EQ(edits_.size(), 1u);
  EXPECT_EQ(edits_[0].Text, u"z\u0436");
}

TEST_F(StringTreeWinTest, EscAbandonsTheEditAndTabNeverReachesTheText) {
  HWND edit = StartEdit();
  ASSERT_NE(edit, nullptr);
  SendMessageW(edit, WM_CHAR, L'q', 1);
  SendMessageW(edit, WM_CHAR, VK_TAB, 1);
  SendMessageW(edit, WM_CHAR, VK_ESCAPE, 1);
  EXPECT_EQ(link_->Editor()->GetWideText(), u"q");
  EXPECT_NE(SendMessageW(edit, WM_GETDLGCODE, 0, 0) & DLGC_WANTTAB, 0);
  SendMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_FALSE(Core().HasTreeState(tsEditing));
  EXPECT_TRUE(link_->Stopping());
  EXPECT_TRUE(edits_.empty());
}

TEST_F(StringTreeWinTest, TheEditorWindowGoingAcceptsItsWideText) {
  HWND edit = StartEdit();
  ASSERT_NE(edit, nullptr);
  SendMessageW(edit, WM_CHAR, 0x03A9, 1);
  SendMessageW(edit, WM_CHAR, L'2', 1);
  link_->Editor()->Free();  // not stopping, string option bit 2 on, the text modified
  ASSERT_EQ(edits_.size(), 1u);
  EXPECT_EQ(edits_[0].Text, u"\u03A92");
  EXPECT_EQ(link_->Editor(), nullptr);
  Core().CancelEditNode();
}

TEST_F(StringTreeWinTest, TheEditorIsPlacedOnTheCellAtLeast30PixelsWideWithinTheClient) {
  first_ = u"";
  HWND edit = StartEdit();
  ASSERT_NE(edit, nullptr);
  const TVTRect bounds = link_->EditorBounds();
  EXPECT_GE(bounds.Width(), 30);
  EXPECT_LE(bounds.Right, tree_->ClientWidth());
  EXPECT_GE(bounds.Left, 0);
  Core().CancelEditNode();
}

TEST_F(StringTreeWinTest, TheEditorGrowsWithItsTextUpToTheClientWidth) {
  HWND edit = StartEdit();
  ASSERT_NE(edit, nullptr);
  const int before = link_->EditorBounds().Width();
  for (int i = 0; i < 12; ++i) SendMessageW(edit, WM_CHAR, L'W', 1);
  const int grown = link_->EditorBounds().Width();
  EXPECT_GT(grown, before);
  for (int i = 0; i < 60; ++i) SendMessageW(edit, WM_CHAR, L'W', 1);
  EXPECT_LE(link_->EditorBounds().Right, tree_->ClientWidth());
  Core().CancelEditNode();
}

TEST_F(StringTreeWinTest, StaticTextIsDrawnBesideTheNormalText) {
  staticText_ = u"Static";
  const int before = Ink(*Render(), 0, 100).second;
  ASSERT_GT(before, 0);
  tree_->StringTreeOptions()->SetStringOptions(kDefaultStringOptions | toShowStaticText);
  const std::pair<int, int> after = Ink(*Render(), 0, 100);
  EXPECT_GT(after.second, before + tree_->TextMargin);
}

TEST_F(StringTreeWinTest, ALongTextIsShortenedToTheCellWithAnEllipsis) {
  first_ = u"A caption far too long for its narrow column";
  const auto canvas = Render();
  const std::pair<int, int> ink = Ink(*canvas, 0, 100);
  ASSERT_GE(ink.first, 0);
  EXPECT_LT(ink.second, 100 - tree_->TextMargin);
  // The drawn text is what ShortenWideText gives for the text rectangle: its ink is as wide.
  Canvas reference(320, kRowHeight);
  const RECT all{0, 0, 320, kRowHeight};
  FillRect(reference.dc, &all, HBRUSH(GetStockObject(WHITE_BRUSH)));
  HGDIOBJ old = SelectObject(reference.dc, tree_->GetFont()->Handle());
  const int textWidth = 100 - (ink.first - 1) - tree_->TextMargin;
  std::u16string expected;
  for (int w = textWidth + 2; w >= textWidth - 2 && expected.empty(); --w) {
    const std::u16string s = ShortenWideText(reference.dc, first_, w, tree_->EllipsisWidth(), false);
    if (s.size() >= 3 && s.substr(s.size() - 3) == u"...") expected = s;
  }
  ASSERT_FALSE(expected.empty());
  RECT r{0, 0, 320, kRowHeight};
  SetBkMode(reference.dc, TRANSPARENT);
  DrawWideTextLines(reference.dc, expected, false, DT_SINGLELINE | DT_VCENTER, r);
  SelectObject(reference.dc, old);
  GdiFlush();
  const std::pair<int, int> referenceInk = Ink(reference, 0, 320);
  EXPECT_NEAR(ink.second - ink.first, referenceInk.second - referenceInk.first, 6);
}

TEST_F(StringTreeWinTest, WithoutColumnsTheTextIsNeverShortened) {
  tree_->GetHeader()->GetColumns()->Clear();
  first_ = u"A caption far too long for its narrow column, but there are no columns";
  const std::pair<int, int> ink = Ink(*Render(), 0, 320);
  EXPECT_GT(ink.second, 200);
}

TEST_F(StringTreeWinTest, TextSpansOverEmptyCellsWithAutoSpan) {
  first_ = u"A caption that runs over the next cell";
  secondColumn_ = u"";
  const int clipped = Ink(*Render(), 0, 320).second;
  EXPECT_LT(clipped, 100);
  Core().OptionBits.Auto |= std::uint16_t(1u << 5);
  const int spanned = Ink(*Render(), 0, 320).second;
  EXPECT_GT(spanned, 110);
  // A cell with text stops the span.
  secondColumn_ = u"x";
  EXPECT_LT(Ink(*Render(), 0, 100).second, 100);
}

// The paint events of one render, in order.
struct PaintLog {
  std::vector<std::string> Events;
  void BeforePaint(TObject*, HDC) { Events.push_back("BeforeTreePaint"); }
  void AfterPaint(TObject*, HDC) { Events.push_back("AfterTreePaint"); }
  void BeforeItemErase(TObject*, HDC, TVTNode*, RECT, TColor&, bool&) { Events.push_back("BeforeItemErase"); }
  void AfterItemErase(TObject*, HDC, TVTNode*, RECT) { Events.push_back("AfterItemErase"); }
  void BeforeRow(TObject*, HDC, TVTNode*, RECT, bool&) { Events.push_back("BeforeRowPaint"); }
  void AfterRow(TObject*, HDC, TVTNode*, RECT) { Events.push_back("AfterRowPaint"); }
  void BeforeCell(TObject*, HDC, TVTNode*, int, RECT) { Events.push_back("BeforeCellPaint"); }
  void AfterCell(TObject*, HDC, TVTNode*, int, RECT) { Events.push_back("AfterCellPaint"); }
  void PaintText(TObject*, TCanvas*, TVTNode*, int, int kind) {
    Events.push_back(kind == ttStatic ? "PaintStaticText" : "PaintText");
  }
  void Background(TObject*, HDC, RECT, bool&) { Events.push_back("PaintBackground"); }
};

TEST_F(StringTreeWinTest, ThePaintEventsFireInOrderForOneRender) {
  tree_->GetHeader()->GetColumns()->Clear();
  tree_->SetRootNodeCount(1);
  staticText_ = u"s";
  tree_->StringTreeOptions()->SetStringOptions(kDefaultStringOptions | toShowStaticText);
  PaintLog log;
  tree_->OnBeforePaint = decltype(tree_->OnBeforePaint)::Bind<&PaintLog::BeforePaint>(&log);
  tree_->OnAfterPaint = decltype(tree_->OnAfterPaint)::Bind<&PaintLog::AfterPaint>(&log);
  tree_->OnBeforeItemErase = decltype(tree_->OnBeforeItemErase)::Bind<&PaintLog::BeforeItemErase>(&log);
  tree_->OnAfterItemErase = decltype(tree_->OnAfterItemErase)::Bind<&PaintLog::AfterItemErase>(&log);
  tree_->OnBeforeItemPaint = decltype(tree_->OnBeforeItemPaint)::Bind<&PaintLog::BeforeRow>(&log);
  tree_->OnAfterItemPaint = decltype(tree_->OnAfterItemPaint)::Bind<&PaintLog::AfterRow>(&log);
  tree_->OnBeforeCellPaint = decltype(tree_->OnBeforeCellPaint)::Bind<&PaintLog::BeforeCell>(&log);
  tree_->OnAfterCellPaint = decltype(tree_->OnAfterCellPaint)::Bind<&PaintLog::AfterCell>(&log);
  tree_->OnPaintText = decltype(tree_->OnPaintText)::Bind<&PaintLog::PaintText>(&log);
  tree_->OnPaintBackground = decltype(tree_->OnPaintBackground)::Bind<&PaintLog::Background>(&log);
  Render();
  const std::vector<std::string> expected{"BeforeTreePaint", "BeforeRowPaint",  "BeforeItemErase", "AfterItemErase",
                                          "BeforeCellPaint", "PaintText",       "PaintStaticText", "AfterCellPaint",
                                          "AfterRowPaint",   "PaintBackground", "AfterTreePaint"};
  EXPECT_EQ(log.Events, expected);
}

TEST_F(StringTreeWinTest, TheEraseEventMayFillTheRowWithItsColour) {
  struct Eraser {
    void Before(TObject*, HDC, TVTNode*, RECT, TColor& color, bool& defaultErase) {
      color = TColor(RGB(0, 0, 255));
      defaultErase = false;
    }
  } eraser;
  first_ = u"";
  tree_->OnBeforeItemErase = decltype(tree_->OnBeforeItemErase)::Bind<&Eraser::Before>(&eraser);
  const auto canvas = Render();
  EXPECT_EQ(canvas->At(250, 5), RGB(0, 0, 255));
}

TEST_F(StringTreeWinTest, ACustomLineStyleAsksForItsPattern) {
  struct Pattern {
    int Calls = 0;
    std::uint16_t First = 0;
    void Get(TObject*, std::uint16_t* pattern) {
      ++Calls;
      First = pattern[0];
      std::fill(pattern, pattern + 8, std::uint16_t(0));
    }
  } pattern;
  tree_->OnGetLineStyle = decltype(tree_->OnGetLineStyle)::Bind<&Pattern::Get>(&pattern);
  tree_->RebuildPaintResources(false, true);
  EXPECT_EQ(pattern.Calls, 0);  // dotted: no question
  tree_->LineStyle = 3;
  tree_->RebuildPaintResources(false, true);
  EXPECT_EQ(pattern.Calls, 1);
  EXPECT_EQ(pattern.First, 0x55);
}

TEST_F(StringTreeWinTest, TheLegacyStringOptionsAndTheWideDefaultTextStream) {
  RegisterClasses({&TCustomVirtualStringTree::StaticClass()});
  const std::string text =
      "object Host: TForm\r\n"
      "  object Tree: TCustomVirtualStringTree\r\n"
      "    Width = 300\r\n"
      "    Height = 200\r\n"
      "    StringOptions = [soShowStaticText]\r\n"
      "    WideDefaultText = 'Leaf '#1046\r\n"
      "  end\r\n"
      "end\r\n";
  TOwned<TForm> form(TCustomForm::CreateNew<TForm>(nullptr));
  const std::string data = ObjectTextToBinary(text);
  ReadComponentData(data.data(), data.size(), form.get());
  auto* tree = dynamic_cast<TCustomVirtualStringTree*>(form->FindComponent("Tree"));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->StringTreeOptions()->StringOptions(), toShowStaticText);
  EXPECT_EQ(tree->GetDefaultText(), u"Leaf \u0416");

  TStringStream binary;
  TWriter writer(binary);
  writer.WriteRootComponent(form.get());
  const std::string written = ObjectBinaryToText(binary.DataString());
  EXPECT_NE(written.find("WideDefaultText = 'Leaf '#1046\r\n"), std::string::npos) << written;
  EXPECT_EQ(written.find("StringOptions"), std::string::npos) << written;
}

// What reaches the application's handling from a window procedure.
std::vector<std::exception_ptr> handled;
void RecordCallbackException(std::exception_ptr error) {
  handled.push_back(error);
}

TEST_F(StringTreeWinTest, AFailingNewTextHandlerStaysInsideTheEditorsWindowProcedure) {
  struct Failing {
    void NewText(TObject*, TVTNode*, int, const std::u16string&) { throw std::runtime_error("refused"); }
  } failing;
  tree_->OnNewText = decltype(tree_->OnNewText)::Bind<&Failing::NewText>(&failing);
  handled.clear();
  auto saved = SetCallbackExceptionHandler(&RecordCallbackException);
  HWND edit = StartEdit();
  ASSERT_NE(edit, nullptr);
  SendMessageW(edit, WM_CHAR, L'k', 1);
  SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
  SetCallbackExceptionHandler(saved);
  EXPECT_EQ(handled.size(), 1u);
  // The edit did not end: the link may finish it again.
  EXPECT_TRUE(Core().HasTreeState(tsEditing));
  EXPECT_FALSE(link_->Stopping());
  Core().CancelEditNode();
}

// The owner-draw tree: the draw-node event paints each cell, the node-width event sizes it.
TEST(DrawTreeWinTest, TheDrawEventPaintsTheCellAndTheWidthEventSizesIt) {
  InitWin32Platform();
  InitForms();
  InitVirtualTrees();
  TForm* form = New<TForm>(Application);
  form->SetBounds(0, 0, 400, 300);
  auto* tree = New<TCustomVirtualDrawTree>(form);
  tree->SetParent(form);
  tree->SetBounds(0, 0, 300, 200);
  form->Show();
  struct Drawer {
    int Drawn = 0;
    void Draw(TObject*, const TCustomVirtualDrawTree::TVTPaintInfo& info) {
      ++Drawn;
      HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
      RECT r = info.ContentRect;
      r.right = r.left + 20;
      FillRect(info.DC, &r, red);
      DeleteObject(red);
    }
    void Width(TObject*, HDC, TVTNode*, int, int& width) { width += 20; }
  } drawer;
  tree->OnDrawNode = decltype(tree->OnDrawNode)::Bind<&Drawer::Draw>(&drawer);
  tree->OnGetNodeWidth = decltype(tree->OnGetNodeWidth)::Bind<&Drawer::Width>(&drawer);
  tree->SetRootNodeCount(2);
  Canvas canvas(300, 2 * kRowHeight);
  tree->RenderTreeToCanvas(canvas.dc, RECT{0, 0, 300, 2 * kRowHeight}, 0x3F, POINT{0, 0});
  GdiFlush();
  EXPECT_EQ(drawer.Drawn, 2);
  int red = 0;
  for (int x = 0; x < 300; ++x) red += canvas.At(x, kRowHeight + kRowHeight / 2) == RGB(255, 0, 0);
  EXPECT_EQ(red, 20);
  EXPECT_EQ(tree->Tree().ComputeNodeCellRect(tree->Tree().FirstNode(), NoColumn, true, false).Width(),
            2 * tree->TextMargin + 20);
  FreeAndNil(form);
  DoneVirtualTrees();
}

}  // namespace
