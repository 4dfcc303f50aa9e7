// Two tree windows of one process: copy, cut and paste through the window
// messages and the OLE clipboard, and a tree that goes while its object is
// on the clipboard.
#include <gtest/gtest.h>

#include <windows.h>

#include "TreeOnForm.h"
#include "VirtualTreeTransferWin.h"

namespace {

class TreeTransferWindowTest : public TreeOnFormTest<TBaseVirtualTree> {
 protected:
  void SetUp() override {
    TreeOnFormTest<TBaseVirtualTree>::SetUp();
    other_ = New<TBaseVirtualTree>(form_);
    other_->SetParent(form_);
    other_->SetBounds(0, 200, 300, 200);
    for (TBaseVirtualTree* tree : {tree_, other_}) tree->Tree().SetMultiSelect(true);
  }
  void TearDown() override {
    OleSetClipboard(nullptr);
    TreeOnFormTest<TBaseVirtualTree>::TearDown();
  }
  // Top-level nodes, each with `children` children.
  static void Fill(TBaseVirtualTree* tree, int count, int children) {
    TVirtualTreeCore& core = tree->Tree();
    for (int i = 0; i < count; ++i) {
      TVTNode* node = core.AllocateNode();
      core.LinkNode(node, nullptr, 4);
      for (int j = 0; j < children; ++j) core.LinkNode(core.AllocateNode(), node, 4);
    }
  }
  static std::vector<int> Levels(TBaseVirtualTree* tree) {
    std::vector<int> levels;
    TVirtualTreeCore& core = tree->Tree();
    for (TVTNode* n = core.FirstNodeRaw(); n; n = core.NextNodeRaw(n)) levels.push_back(core.NodeLevel(n));
    return levels;
  }
  TBaseVirtualTree* other_ = nullptr;
};

TEST_F(TreeTransferWindowTest, CopyAndCutThroughTheWindowMessages) {
  Fill(tree_, 2, 2);
  tree_->Tree().SetNodeSelected(tree_->Tree().FirstNodeRaw(), true);
  SendMessageW(tree_->WindowHandle(), WM_COPY, 0, 0);
  SendMessageW(other_->WindowHandle(), WM_PASTE, 0, 0);
  EXPECT_EQ(Levels(other_), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(tree_->Tree().TotalNodeCount(), 6u);

  SendMessageW(tree_->WindowHandle(), WM_CUT, 0, 0);
  SendMessageW(other_->WindowHandle(), WM_PASTE, 0, 0);
  EXPECT_EQ(Levels(other_), (std::vector<int>{0, 1, 1, 0, 1, 1}));
  EXPECT_EQ(Levels(tree_), (std::vector<int>{0, 1, 1}));
}

TEST_F(TreeTransferWindowTest, ATreeGoingEmptiesTheClipboardOfItsObject) {
  Fill(tree_, 1, 1);
  tree_->Tree().SetNodeSelected(tree_->Tree().FirstNodeRaw(), true);
  SendMessageW(tree_->WindowHandle(), WM_COPY, 0, 0);
  IDataObject* data = nullptr;
  ASSERT_EQ(OleGetClipboard(&data), S_OK);
  EXPECT_NE(TVTTransferTree::FindSourceTreeOfDataObject(data), nullptr);
  data->Release();
  FreeAndNil(tree_);
  data = nullptr;
  if (OleGetClipboard(&data) == S_OK && data) {
    EXPECT_EQ(TVTTransferTree::FindSourceTreeOfDataObject(data), nullptr);
    data->Release();
  }
  SendMessageW(other_->WindowHandle(), WM_PASTE, 0, 0);  // reads nothing of the freed tree
  EXPECT_EQ(other_->Tree().TotalNodeCount(), 0u);
}

TEST_F(TreeTransferWindowTest, TheWindowTakesDropsThroughItsDragManager) {
  Fill(other_, 1, 0);
  TVTDragManager* manager = tree_->ObtainDragManager();
  EXPECT_EQ(manager, tree_->ObtainDragManager());
  IDataObject* data = other_->Transfer().CreateDataObject(false);
  int overs = 0, drops = 0;
  struct Log {
    int& overs;
    int& drops;
    void Over(TObject*, TObject*, std::uint8_t, int, POINT, int, DWORD&, bool& accept) {
      ++overs;
      accept = true;
    }
    void Drop(TObject*, TObject* source, IDataObject*, const std::vector<CLIPFORMAT>&, std::uint8_t, POINT, DWORD&,
              int mode) {
      ++drops;
      EXPECT_NE(source, nullptr);
      EXPECT_EQ(mode, 0);
    }
  } log{overs, drops};
  using OverEvent = Method<void(TObject*, TObject*, std::uint8_t, int, POINT, int, DWORD&, bool&)>;
  using DropEvent =
      Method<void(TObject*, TObject*, IDataObject*, const std::vector<CLIPFORMAT>&, std::uint8_t, POINT, DWORD&, int)>;
  tree_->OnOleDragOver = OverEvent::Bind<&Log::Over>(&log);
  tree_->OnOleDragDrop = DropEvent::Bind<&Log::Drop>(&log);
  POINT screen{10, 150};
  ClientToScreen(tree_->WindowHandle(), &screen);
  DWORD effect = DROPEFFECT_COPY;
  EXPECT_EQ(manager->DragEnter(data, MK_LBUTTON, POINTL{screen.x, screen.y}, &effect), S_OK);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(manager->Drop(data, 0, POINTL{screen.x, screen.y}, &effect), S_OK);
  EXPECT_GE(overs, 2);
  EXPECT_EQ(drops, 1);
  data->Release();
}

}  // namespace
