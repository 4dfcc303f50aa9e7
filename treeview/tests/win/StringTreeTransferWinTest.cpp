// Two string tree windows of one process: a copy offers and renders the
// texts of the nodes besides the nodes themselves, and a paste brings the
// captions along through the node stream.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "TreeOnForm.h"
#include "VirtualStringTreesWin.h"
#include "VirtualTreeDragImage.h"
#include "VirtualTreeInput.h"
#include "VirtualTreeTransferWin.h"

// A string tree class of the program's own, for a format registered for it alone.
class TFormatsTestTree : public TCustomVirtualStringTree {
  FW_CLASS(TFormatsTestTree, TCustomVirtualStringTree)

 public:
  using TCustomVirtualStringTree::TCustomVirtualStringTree;
};
FW_IMPLEMENT_CLASS(TFormatsTestTree)

namespace {

class StringTreeTransferWinTest : public TreeOnFormTest<TCustomVirtualStringTree> {
 public:
  void SetUp() override {
    TreeOnFormTest<TCustomVirtualStringTree>::SetUp();
    other_ = New<TCustomVirtualStringTree>(form_);
    other_->SetParent(form_);
    other_->SetBounds(0, 200, 300, 200);
    for (TCustomVirtualStringTree* tree : {tree_, other_}) {
      tree->Tree().SetMultiSelect(true);
      tree->OnGetText = decltype(tree->OnGetText)::Bind<&StringTreeTransferWinTest::GetText>(this);
      tree->OnNewText = decltype(tree->OnNewText)::Bind<&StringTreeTransferWinTest::NewText>(this);
    }
  }
  void TearDown() override {
    OleSetClipboard(nullptr);
    TreeOnFormTest<TCustomVirtualStringTree>::TearDown();
  }
  void GetText(TObject*, TVTNode* node, int, int, std::u16string& text) {
    auto found = texts_.find(node);
    text = found == texts_.end() ? u"?" : found->second;
  }
  void NewText(TObject*, TVTNode* node, int, const std::u16string& text) { texts_[node] = text; }
  // Top-level nodes with the given captions, each with two children ("<caption>.1", "<caption>.2").
  void Fill(TCustomVirtualStringTree* tree, const std::vector<std::u16string>& captions) {
    TVirtualTreeCore& core = tree->Tree();
    for (const std::u16string& caption : captions) {
      TVTNode* node = core.AllocateNode();
      core.LinkNode(node, nullptr, 4);
      texts_[node] = caption;
      for (char16_t c : {u'1', u'2'}) {
        TVTNode* child = core.AllocateNode();
        core.LinkNode(child, node, 4);
        texts_[child] = caption + u"." + c;
      }
    }
    for (TVTNode* n = core.FirstNodeRaw(); n; n = core.NextNodeRaw(n)) core.InitializeNodeOnDemand(n);
  }
  // Every node as "<level>:<caption>", in tree order.
  std::vector<std::u16string> Outline(TCustomVirtualStringTree* tree) {
    std::vector<std::u16string> outline;
    TVirtualTreeCore& core = tree->Tree();
    for (TVTNode* n = core.FirstNodeRaw(); n; n = core.NextNodeRaw(n))
      outline.push_back(std::u16string(1, char16_t(u'0' + core.NodeLevel(n))) + u":" + tree->CellText(n, -1));
    return outline;
  }
  static std::u16string ClipboardUnicodeText() {
    std::u16string text;
    if (!OpenClipboard(nullptr)) return u"<clipboard not opened>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      if (const auto* p = static_cast<const char16_t*>(GlobalLock(data))) {
        text = p;
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    return text;
  }
  TCustomVirtualStringTree* other_ = nullptr;
  std::map<TVTNode*, std::u16string> texts_;
};

TEST_F(StringTreeTransferWinTest, CopyOffersTheTextFormatsAndRendersTheNodesText) {
  Fill(tree_, {u"Gr\u00fc\u00dfe \u20ac", u"Second"});
  TVirtualTreeCore& core = tree_->Tree();
  TVTNode* first = core.FirstNodeRaw();
  core.SetNodeSelected(first, true);
  core.SetNodeSelected(first->FirstChild->NextSibling, true);
  SendMessageW(tree_->WindowHandle(), WM_COPY, 0, 0);

  std::vector<UINT> expected = {CF_TEXT, CF_UNICODETEXT, RegisterClipboardFormatA("CSV"),
                                RegisterClipboardFormatA("Rich Text Format"), RegisterClipboardFormatA("HTML Format")};
  for (UINT format : expected) EXPECT_TRUE(IsClipboardFormatAvailable(format)) << format;
  // The nodes marked for the copy, each indented by its level.
  EXPECT_EQ(ClipboardUnicodeText(), u"Gr\u00fc\u00dfe \u20ac\r\n\tGr\u00fc\u00dfe \u20ac.2\r\n");
}

TEST_F(StringTreeTransferWinTest, ATreeOffersTheFormatsRegisteredForItsClassInTheirOrder) {
  const std::uint16_t own = RegisterCustomClipboardFormat("Pellory Test Outline", &TFormatsTestTree::StaticClass(), 82);
  ASSERT_NE(own, 0);
  TFormatsTestTree* derived = New<TFormatsTestTree>(form_);
  derived->SetParent(form_);
  const UINT treeData = RegisterClipboardFormatA("Virtual Tree Data");
  auto offered = [](TBaseVirtualTree* tree) {
    std::vector<UINT> formats;
    for (const FORMATETC& f : tree->Transfer().OfferedFormats()) formats.push_back(f.cfFormat);
    return formats;
  };
  const std::vector<UINT> plain = offered(tree_);
  const std::vector<UINT> expected = {treeData,
                                      RegisterClipboardFormatA("HTML Format"),
                                      RegisterClipboardFormatA("Rich Text Format Without Objects"),
                                      RegisterClipboardFormatA("Rich Text Format"),
                                      RegisterClipboardFormatA("CSV"),
                                      CF_UNICODETEXT,
                                      CF_TEXT};
  EXPECT_EQ(plain, expected);
  std::vector<UINT> withOwn = expected;
  withOwn.insert(withOwn.begin() + 2, own);  // priority 82: after HTML (80), before the RTF forms (84, 85)
  EXPECT_EQ(offered(derived), withOwn);
  // The tree's own format still offers both media.
  EXPECT_EQ(derived->Transfer().OfferedFormats().front().tymed, DWORD(TYMED_ISTREAM | TYMED_HGLOBAL));
  derived->Free();
}

TEST_F(StringTreeTransferWinTest, CopyAndCutCarryTheCaptionsToTheOtherTree) {
  Fill(tree_, {u"One", u"Two"});
  tree_->Tree().SetNodeSelected(tree_->Tree().FirstNodeRaw(), true);
  SendMessageW(tree_->WindowHandle(), WM_COPY, 0, 0);
  SendMessageW(other_->WindowHandle(), WM_PASTE, 0, 0);
  EXPECT_EQ(Outline(other_), (std::vector<std::u16string>{u"0:One", u"1:One.1", u"1:One.2"}));
  EXPECT_EQ(tree_->Tree().TotalNodeCount(), 6u);

  SendMessageW(tree_->WindowHandle(), WM_CUT, 0, 0);
  SendMessageW(other_->WindowHandle(), WM_PASTE, 0, 0);
  EXPECT_EQ(Outline(other_),
            (std::vector<std::u16string>{u"0:One", u"1:One.1", u"1:One.2", u"0:One", u"1:One.1", u"1:One.2"}));
  EXPECT_EQ(Outline(tree_), (std::vector<std::u16string>{u"0:Two", u"1:Two.1", u"1:Two.2"}));
}

// The node moves go through the window's stream events: asked on the
// source tree (here through its node-moving event), fired on the tree
// that receives the nodes (here an override).
class TMoveCountingTree : public TCustomVirtualStringTree {
 public:
  using TCustomVirtualStringTree::TCustomVirtualStringTree;
  void FireStreamEvent(TVTNode* node) override {
    received.push_back(node);
    TCustomVirtualStringTree::FireStreamEvent(node);
  }
  std::vector<TVTNode*> received;
};

TEST_F(StringTreeTransferWinTest, NodeMovesAskAndFireTheStreamEvents) {
  auto* counting = New<TMoveCountingTree>(form_);
  counting->SetParent(form_);
  counting->OnGetText = decltype(counting->OnGetText)::Bind<&StringTreeTransferWinTest::GetText>(this);
  counting->OnNewText = decltype(counting->OnNewText)::Bind<&StringTreeTransferWinTest::NewText>(this);
  Fill(tree_, {u"One", u"Two"});
  std::vector<std::u16string> asked;
  struct Refuse {
    StringTreeTransferWinTest* test;
    std::vector<std::u16string>* asked;
    TObject* expectedSender;
    void Moving(TObject* sender, TVTNode* node, TVTNode*, bool& allowed) {
      EXPECT_EQ(sender, expectedSender);
      asked->push_back(test->texts_[node]);
      allowed = test->texts_[node] != u"Two";
    }
  } refuse{this, &asked, tree_};
  tree_->Tree().OnNodeMoving = decltype(tree_->Tree().OnNodeMoving)::Bind<&Refuse::Moving>(&refuse);

  TVTNode* one = tree_->Tree().FirstNodeRaw();
  TVTNode* two = one->NextSibling;
  tree_->Tree().MoveNodesTo(two, &counting->Tree(), nullptr, 4, false);  // refused: nothing moves
  tree_->Tree().MoveNodesTo(one, &counting->Tree(), nullptr, 4, false);
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"Two", u"One"}));
  EXPECT_EQ(Outline(tree_), (std::vector<std::u16string>{u"0:Two", u"1:Two.1", u"1:Two.2"}));
  EXPECT_EQ(Outline(counting), (std::vector<std::u16string>{u"0:One", u"1:One.1", u"1:One.2"}));
  ASSERT_EQ(counting->received.size(), 1u);
  EXPECT_EQ(counting->received[0], counting->Tree().FirstNodeRaw());
}

TEST_F(StringTreeTransferWinTest, SimulatedButtonUpEndsThePressAndThePendingDrag) {
  Fill(tree_, {u"One"});
  TVirtualTreeCore& core = tree_->Tree();
  for (int button : {tsLeftButtonDown, tsMiddleButtonDown, tsRightButtonDown}) {
    core.SetTreeState(button, true);
    core.SetTreeState(tsOLEDragPending, true);
    tree_->SimulateMouseButtonUp();
    EXPECT_FALSE(core.HasTreeState(button)) << button;
    EXPECT_FALSE(core.HasTreeState(tsOLEDragPending)) << button;
  }
}

// A drop source that ends the drag at once, noting how the source tree's
// picture of its nodes stands meanwhile.
class TCancellingDragManager : public TVTDragManager {
 public:
  TCancellingDragManager(TBaseVirtualTree& tree)
      : TVTDragManager(&tree.Transfer(), &tree.DropHandler(), nullptr), tree_(tree) {}
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL, DWORD) override {
    TVTDragImage* image = tree_.NodeDragImage();
    imageShown = image->Visible() || (image->States() & kDragImageSystemSupport);
    return DRAGDROP_S_CANCEL;
  }
  bool imageShown = false;

 private:
  TBaseVirtualTree& tree_;
};

TEST_F(StringTreeTransferWinTest, AnOleDragShowsTheSourcePictureUntilItEnds) {
  // The drag manager is asked for when the window is made.
  auto* source = New<TCustomVirtualStringTree>(form_);
  TCancellingDragManager* manager = nullptr;
  struct Make {
    TCancellingDragManager** made;
    void Create(TObject* sender, TVTDragManager*& result) {
      *made = new TCancellingDragManager(*static_cast<TBaseVirtualTree*>(sender));
      result = *made;
    }
  } make{&manager};
  source->OnCreateDragManager = decltype(source->OnCreateDragManager)::Bind<&Make::Create>(&make);
  source->OnGetText = decltype(source->OnGetText)::Bind<&StringTreeTransferWinTest::GetText>(this);
  source->SetParent(form_);
  source->SetBounds(0, 0, 300, 200);
  tree_->SetVisible(false);
  Fill(source, {u"One", u"Two"});
  source->Tree().SetNodeSelected(source->Tree().FirstNodeRaw(), true);
  POINT p{20, 5};
  ClientToScreen(source->WindowHandle(), &p);
  SetCursorPos(p.x, p.y);
  source->StartOleDrag();
  ASSERT_NE(manager, nullptr);
  EXPECT_TRUE(manager->imageShown);
  EXPECT_FALSE(source->NodeDragImage()->Visible());
  EXPECT_EQ(source->Tree().TotalNodeCount(), 6u);  // a cancelled drag moves nothing
}

}  // namespace

namespace {

TEST_F(StringTreeTransferWinTest, DropsAwayFromTheScreenOriginLandOnTheRowUnderThePointer) {
  // The form away from the screen's origin; OLE gives the drag's points in screen coordinates.
  form_->SetBounds(300, 200, 400, 400);
  Fill(tree_, {u"New"});
  Fill(other_, {u"A", u"B", u"C", u"D"});                // collapsed: rows A, B, C, D, 18 pixels each
  other_->Tree().OptionBits.Auto &= std::uint16_t(~1u);  // no expansion under the drag
  ASSERT_TRUE(other_->DropTargetRegistered());
  TVirtualTreeCore& core = other_->Tree();
  TVTNode* third = core.FirstNodeRaw()->NextSibling->NextSibling;
  const int rowHeight = third->NodeHeight;
  POINT origin{0, 0};
  ClientToScreen(other_->WindowHandle(), &origin);
  ASSERT_GT(origin.x, 0);
  ASSERT_GT(origin.y, 0);
  IDropTarget* target = other_->ObtainDragManager();
  ASSERT_NE(target, nullptr);
  // Over the third row, right of its text: its upper half drops above it, its lower half below.
  struct Place {
    int dy, mode;
  };
  for (const Place& c : {Place{2, 1}, Place{rowHeight - 3, 3}}) {
    SCOPED_TRACE(c.dy);
    TVTDataObject* data = tree_->Transfer().CreateDataObject(false);
    const POINTL at{origin.x + 250, origin.y + 2 * rowHeight + c.dy};
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(target->DragEnter(data, MK_LBUTTON, at, &effect), S_OK);
    effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(target->DragOver(MK_LBUTTON, at, &effect), S_OK);
    EXPECT_EQ(core.DropTargetNode, third);
    EXPECT_EQ(other_->DropHandler().DropMode(), c.mode);
    target->DragLeave();
    data->Release();
  }
  // A drop with the pointer on the third row's upper half puts the copy above it.
  tree_->Tree().SetNodeSelected(tree_->Tree().FirstNodeRaw(), true);
  tree_->Tree().CopyToClipboard();
  TVTDataObject* data = tree_->Transfer().CreateDataObject(false);
  const POINTL at{origin.x + 250, origin.y + 2 * rowHeight + 2};
  DWORD effect = DROPEFFECT_COPY;
  ASSERT_EQ(target->DragEnter(data, MK_LBUTTON, at, &effect), S_OK);
  effect = DROPEFFECT_COPY;
  ASSERT_EQ(target->DragOver(MK_LBUTTON, at, &effect), S_OK);
  effect = DROPEFFECT_COPY;
  ASSERT_EQ(target->Drop(data, 0, at, &effect), S_OK);
  data->Release();
  std::vector<std::u16string> tops;
  for (TVTNode* n = core.FirstNodeRaw(); n; n = n->NextSibling) tops.push_back(other_->CellText(n, -1));
  EXPECT_EQ(tops, (std::vector<std::u16string>{u"A", u"B", u"New", u"C", u"D"}));
}

}  // namespace
