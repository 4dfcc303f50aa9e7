// The report list view: an owner-drawn report-style list view with
// collapsible group rows (the detailed report dialog's list pages), and the
// transparent bitmap drawing the report windows share.
#pragma once

#include <windows.h>
// The common-control headers need the types of windows.h first.
#include <commctrl.h>

#include <string>
#include <vector>

#include "EListView.h"

// Draws `bitmap` (w x h) at (x, y) with its top-left pixel's colour transparent.
void PaintMaskedBitmap(HDC dc, int x, int y, int w, int h, HBITMAP bitmap);

class TListViewItems {
 public:
  // Loads the pictures, builds the image list and the brushes.
  explicit TListViewItems(HWND listView);
  ~TListViewItems();
  TListViewItems(const TListViewItems&) = delete;
  TListViewItems& operator=(const TListViewItems&) = delete;

  // Appends a row and inserts it at the end of the list view.
  void AddRow(const std::vector<std::string>& columnTexts, const std::string& title, bool isGroup, int kind, int image);
  // Opens or closes the group of list item `item`; with `onSignOnly` only when
  // `point` (client co-ordinates) lies on its sign. True when it toggled.
  bool ToggleGroup(int item, POINT point, bool onSignOnly);
  // Paints one row (WM_DRAWITEM); always true.
  bool HandleDrawItem(const DRAWITEMSTRUCT& item);
  // The row of a list item (null when none).
  TListViewRow* RowOfItem(int item) const;
  TListViewRowList& Rows() { return rows_; }
  void Clear();

 private:
  void InsertItem(int position, TListViewRow& row);
  void FirstRow();

  HWND list_;
  HDC dc_;
  HBITMAP bitmaps_[6] = {};
  HIMAGELIST images_ = nullptr;
  HBRUSH selected_, unselected_, focusFrame_, frame_, groupLine_, rowLine_;
  HFONT bold_ = nullptr;
  int step_ = 14;
  std::string blanks_;
  std::vector<int> alignments_;  // DT_LEFT, DT_RIGHT or DT_CENTER per column
  bool started_ = false;
  bool paintReady_ = false;
  TListViewRowList rows_;
};
