#include "EListView.h"

#include "SysUtils.h"

TListViewRow& TListViewRowList::Add(std::vector<std::string> texts, const std::string& title, bool isGroup, int kind,
                                    int image, const std::string& indentBlanks) {
  auto row = std::make_unique<TListViewRow>();
  row->Texts = std::move(texts);
  row->Title = title;
  row->IsGroup = isGroup;
  row->Kind = kind;
  row->Image = image;
  bool blank = !isGroup;
  for (const std::string& t : row->Texts)
    if (!Trim(t).empty()) blank = false;
  row->IsSeparator = blank;
  if (isGroup) ++level_;
  if (row->IsSeparator) level_ = 0;
  if (!row->IsSeparator && level_ >= 2) {
    row->Indent = 1;
    if (!row->Texts.empty()) row->Texts[0] = indentBlanks + row->Texts[0];
  }
  row->Parent = row->IsSeparator ? nullptr : lastGroup_;
  if (isGroup) lastGroup_ = row.get();
  if (row->IsSeparator) lastGroup_ = nullptr;
  rows_.push_back(std::move(row));
  return *rows_.back();
}

int TListViewRowList::IndexOf(const TListViewRow* row) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].get() == row) return static_cast<int>(i);
  return -1;
}

int TListViewRowList::ListPosition(int index) const {
  int position = 0;
  for (int i = 0; i < index && i < Count(); ++i)
    if (rows_[static_cast<std::size_t>(i)]->Visible) ++position;
  return position;
}

bool TListViewRowList::IsOnSign(const TListViewRow& row, int x, int y, int step) {
  if (!row.IsGroup) return false;
  const int left = row.Parent ? step + 2 : 2;
  return x >= left && x <= left + 10 && y >= 2 && y <= 12;
}

std::vector<TListViewChange> TListViewRowList::Toggle(int index) {
  std::vector<TListViewChange> changes;
  if (index < 0 || index >= Count() || !Row(index).IsGroup) return changes;
  TListViewRow& group = Row(index);
  group.Expanded = !group.Expanded;
  int position = ListPosition(index) + 1;
  for (int i = index + 1; i < Count(); ++i) {
    TListViewRow& row = Row(i);
    if (row.IsSeparator) break;
    if (group.Expanded) {
      if (!row.Visible) {
        row.Visible = true;
        changes.push_back({true, position, i});
      }
      ++position;
      if (row.IsGroup && !row.Expanded) break;  // its own rows stay closed
    } else {
      if (row.Visible) changes.push_back({false, position, i});
      row.Visible = false;
    }
  }
  return changes;
}

void TListViewRowList::Clear() {
  rows_.clear();
  level_ = 0;
  lastGroup_ = nullptr;
}
