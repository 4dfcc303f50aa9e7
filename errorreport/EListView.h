// The report list view's rows: every row of an owner-drawn list view, shown
// or not, with collapsible group rows, separators and one level of indent.
// The rows decide which list-view items a group's toggle inserts or deletes;
// win/EListViewWin drives the list view itself (TListViewItems).
#pragma once

#include <memory>
#include <string>
#include <vector>

struct TListViewRow {
  std::vector<std::string> Texts;  // one text per column
  int Image = -1;
  int Indent = 0;  // 1 for rows nested two levels deep
  int Kind = 0;    // group rows: the title colour
  bool IsGroup = false;
  bool Expanded = true;
  bool IsSeparator = false;  // a non-group row whose texts are all blank
  bool Visible = true;
  std::string Title;
  TListViewRow* Parent = nullptr;  // the last group row before it; none after a separator
  void* Tag = nullptr;             // the owner's link to the row's record
};

// One change of the list view: insert row `Row` at `Position`, or delete the item at `Position`.
struct TListViewChange {
  bool Insert = false;
  int Position = 0;
  int Row = 0;
};

class TListViewRowList {
 public:
  // Appends a row; a row nested two levels deep gets `indentBlanks` in front of its first text.
  TListViewRow& Add(std::vector<std::string> texts, const std::string& title, bool isGroup, int kind, int image,
                    const std::string& indentBlanks);
  int Count() const { return static_cast<int>(rows_.size()); }
  TListViewRow& Row(int index) { return *rows_[static_cast<std::size_t>(index)]; }
  int IndexOf(const TListViewRow* row) const;
  // The list-view position of a visible row (the visible rows before it).
  int ListPosition(int index) const;
  // Whether (x, y), relative to the row's item rectangle, lies on a group row's sign.
  static bool IsOnSign(const TListViewRow& row, int x, int y, int step);
  // Opens or closes the group row `index`: the list-view changes, in order.
  // Nothing for a row that is not a group.
  std::vector<TListViewChange> Toggle(int index);
  void Clear();

 private:
  std::vector<std::unique_ptr<TListViewRow>> rows_;
  int level_ = 0;
  TListViewRow* lastGroup_ = nullptr;
};
