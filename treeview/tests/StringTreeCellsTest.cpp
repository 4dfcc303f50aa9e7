// A string tree's nodes as rows for the renderings, per text source.
#include <gtest/gtest.h>

#include "TreeTestSupport.h"
#include "VirtualStringTreeCells.h"

namespace {

class TextTree : public TVirtualStringTreeCore {
 public:
  TextTree() : TVirtualStringTreeCore(nullptr, &host) {}
  ~TextTree() override { Shutdown(); }
  RecordingHost host;

 protected:
  void DoGetText(TVTNode* node, int column, int, std::u16string& text) override {
    text =
        u"n" + std::u16string(1, char16_t(u'0' + node->Index)) + u"c" + std::u16string(1, char16_t(u'0' + column + 1));
  }
};

TEST(StringTreeCells, SourcesGiveTheirNodesWithLevelsAndTexts) {
  TextTree tree;
  tree.SetMultiSelect(true);
  TVTNode* a = tree.AllocateNode();
  tree.LinkNode(a, nullptr, 4);
  TVTNode* b = tree.AllocateNode();
  tree.LinkNode(b, a, 4);
  TVTNode* c = tree.AllocateNode();
  tree.LinkNode(c, nullptr, 4);
  tree.SetNodeSelected(c, true);
  tree.SetNodeSelected(b, true);
  c->States |= vsCutOrCopy;
  tree.SetTreeState(tsCopyPending, true);
  TVTStringTreeCells all(tree, tstAll, TVTRenderLooks());
  ASSERT_EQ(all.RowCount(), 3u);
  EXPECT_EQ(all.RowLevel(1), 1);
  EXPECT_EQ(all.CellText(0, NoColumn), u"n0c0");
  EXPECT_EQ(WideTextOfRows(all, u"\t"), u"n0c0\r\n\tn0c0\r\nn1c0\r\n");
  TVTStringTreeCells selected(tree, tstSelected, TVTRenderLooks());
  ASSERT_EQ(selected.RowCount(), 2u);
  EXPECT_EQ(selected.Node(0), b) << "tree order";
  TVTStringTreeCells marked(tree, tstCutCopySet, TVTRenderLooks());
  ASSERT_EQ(marked.RowCount(), 1u);
  EXPECT_EQ(marked.Node(0), c);
  // The columns come from the layout when none are given.
  tree.ColumnLayout.Columns = {{1, 0, 40, kAlignRight, false}, {0, 40, 60, kAlignLeft, false}};
  tree.ColumnLayout.MainColumn = 0;
  TVTStringTreeCells columns(tree, tstAll, TVTRenderLooks());
  ASSERT_EQ(columns.Looks().Columns.size(), 2u);
  EXPECT_EQ(columns.Looks().Columns[0].Index, 1);
  EXPECT_EQ(columns.Looks().MainColumn, 0);
  EXPECT_EQ(WideTextOfRows(columns, u","), u",,\r\nn0c2,n0c1,\r\nn0c2,,n0c1\r\nn1c2,n1c1,\r\n");
}

}  // namespace
