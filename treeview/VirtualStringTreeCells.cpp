#include "VirtualStringTreeCells.h"

TVTStringTreeCells::TVTStringTreeCells(TVirtualStringTreeCore& tree, TVSTTextSourceType source, TVTRenderLooks looks)
    : tree_(tree), looks_(std::move(looks)) {
  if (looks_.Columns.empty() && tree.ColumnLayout.HasColumns()) {
    for (const TVTColumnInfo& info : tree.ColumnLayout.Columns) {
      TVTRenderColumn column;
      column.Index = info.Index;
      column.Width = info.Width;
      column.Alignment = info.Alignment;
      column.RightToLeft = info.RightToLeft;
      column.ParentColor = true;
      looks_.Columns.push_back(column);
    }
    looks_.MainColumn = tree.ColumnLayout.MainColumn;
  }
  if (looks_.Indent == 0) looks_.Indent = tree.Indent;
  switch (source) {
    case tstAll:
      for (TVTNode* n = tree.FirstNode(); n; n = tree.NextNode(n)) rows_.push_back(n);
      break;
    case tstInitialized:
      for (TVTNode* n = tree.FirstInitializedNode(); n; n = tree.NextInitializedNode(n)) rows_.push_back(n);
      break;
    case tstSelected:
      for (TVTNode* n = tree.FirstSelectedNode(); n; n = tree.NextSelectedNode(n)) rows_.push_back(n);
      break;
    case tstCutCopySet:
      for (TVTNode* n = tree.FirstClipboardMarkedNode(); n; n = tree.NextClipboardMarkedNode(n)) rows_.push_back(n);
      break;
    case tstVisible:
      for (TVTNode* n = tree.FirstVisibleNode(); n; n = tree.NextVisibleNode(n)) rows_.push_back(n);
      break;
  }
}

int TVTStringTreeCells::RowLevel(std::size_t row) const {
  return tree_.NodeLevel(rows_[row]);
}
