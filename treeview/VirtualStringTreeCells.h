// The string tree's rows as a cell source for the renderings: the nodes of a
// text source in tree order, their levels, heights and cell texts; the
// columns and looks come from the tree's column layout, completed by the
// window (captions, colours, fonts).
#pragma once

#include <vector>

#include "VirtualStringTreeCore.h"
#include "VirtualTreeRenderings.h"

// Which nodes are rendered.
enum TVSTTextSourceType { tstAll = 0, tstInitialized = 1, tstSelected = 2, tstCutCopySet = 3, tstVisible = 4 };

class TVTStringTreeCells : public TVTCellSource {
 public:
  // `looks.Columns` is filled from the tree's column layout when left empty
  // and the tree has columns (captions empty); MainColumn likewise.
  TVTStringTreeCells(TVirtualStringTreeCore& tree, TVSTTextSourceType source, TVTRenderLooks looks);
  const TVTRenderLooks& Looks() const override { return looks_; }
  std::size_t RowCount() const override { return rows_.size(); }
  int RowLevel(std::size_t row) const override;
  int RowHeight(std::size_t row) const override { return rows_[row]->NodeHeight; }
  std::u16string CellText(std::size_t row, int column) override { return tree_.CellText(rows_[row], column); }
  TVTNode* Node(std::size_t row) const { return rows_[row]; }

 private:
  TVirtualStringTreeCore& tree_;
  TVTRenderLooks looks_;
  std::vector<TVTNode*> rows_;
};
