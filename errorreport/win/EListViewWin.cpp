#include "EListViewWin.h"

#include <commctrl.h>

#include "ECoreWin.h"

namespace {
const char kBitmapNames[6][9] = {"VL_DLL", "VL_BPL", "VL_VCL", "VL_PAS", "VL_PLUS", "VL_MINUS"};
HINSTANCE ResourceModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ResourceModule), &module);
  return module;
}
}  // namespace

void PaintMaskedBitmap(HDC dc, int x, int y, int w, int h, HBITMAP bitmap) {
  if (!dc || !bitmap || w <= 0 || h <= 0) return;
  HDC source = CreateCompatibleDC(dc);
  HDC mask = CreateCompatibleDC(dc);
  HDC work = CreateCompatibleDC(dc);
  HDC saved = CreateCompatibleDC(dc);
  HBITMAP maskBitmap = CreateBitmap(w, h, 1, 1, nullptr);
  HBITMAP workBitmap = CreateCompatibleBitmap(dc, w, h);
  HBITMAP savedBitmap = CreateCompatibleBitmap(dc, w, h);
  HGDIOBJ oldSource = SelectObject(source, bitmap);
  HGDIOBJ oldMask = SelectObject(mask, maskBitmap);
  HGDIOBJ oldWork = SelectObject(work, workBitmap);
  HGDIOBJ oldSaved = SelectObject(saved, savedBitmap);
  BitBlt(saved, 0, 0, w, h, source, 0, 0, SRCCOPY);  // the picture, kept to restore it
  const COLORREF transparent = GetPixel(source, 0, 0);
  const COLORREF oldBack = SetBkColor(source, transparent);
  BitBlt(mask, 0, 0, w, h, source, 0, 0, SRCCOPY);  // 1 where transparent
  SetBkColor(source, oldBack);
  BitBlt(work, 0, 0, w, h, dc, x, y, SRCCOPY);  // the destination area
  BitBlt(work, 0, 0, w, h, mask, 0, 0, SRCAND);
  BitBlt(source, 0, 0, w, h, mask, 0, 0, 0x00220326);  // picture AND NOT mask
  BitBlt(work, 0, 0, w, h, source, 0, 0, SRCPAINT);
  BitBlt(dc, x, y, w, h, work, 0, 0, SRCCOPY);
  BitBlt(source, 0, 0, w, h, saved, 0, 0, SRCCOPY);
  SelectObject(source, oldSource);
  SelectObject(mask, oldMask);
  SelectObject(work, oldWork);
  SelectObject(saved, oldSaved);
  DeleteObject(maskBitmap);
  DeleteObject(workBitmap);
  DeleteObject(savedBitmap);
  DeleteDC(source);
  DeleteDC(mask);
  DeleteDC(work);
  DeleteDC(saved);
}

TListViewItems::TListViewItems(HWND listView) : list_(listView), dc_(GetDC(listView)) {
  HINSTANCE module = ResourceModule();
  for (int i = 0; i < 6; ++i)
    bitmaps_[i] = static_cast<HBITMAP>(LoadImageA(module, kBitmapNames[i], IMAGE_BITMAP, 0, 0, 0));
  images_ = ImageList_Create(16, 16, 254, 4, 4);
  for (int i = 0; i < 4; ++i) ImageList_Add(images_, bitmaps_[i], nullptr);
  ListView_SetImageList(list_, images_, LVSIL_SMALL);
  selected_ = CreateSolidBrush(RGB(204, 218, 241));
  unselected_ = CreateSolidBrush(RGB(255, 255, 255));
  focusFrame_ = CreateSolidBrush(RGB(49, 106, 197));
  frame_ = CreateSolidBrush(RGB(152, 181, 226));
  groupLine_ = CreateSolidBrush(RGB(123, 164, 224));
  rowLine_ = CreateSolidBrush(RGB(206, 203, 194));
}

TListViewItems::~TListViewItems() {
  Clear();
  for (HBRUSH b : {selected_, unselected_, focusFrame_, frame_, groupLine_, rowLine_}) DeleteObject(b);
  if (images_) ImageList_Destroy(images_);
  for (HBITMAP b : bitmaps_)
    if (b) DeleteObject(b);
  if (dc_) ReleaseDC(list_, dc_);
}

void TListViewItems::Clear() {
  rows_.Clear();
  if (bold_) DeleteObject(bold_);
  bold_ = nullptr;
  started_ = false;
}

void TListViewItems::FirstRow() {
  started_ = true;
  HWND header = ListView_GetHeader(list_);
  const int columns = header ? Header_GetItemCount(header) : 1;
  alignments_.clear();
  for (int i = 0; i < columns; ++i) {
    LVCOLUMNA column{};
    column.mask = LVCF_FMT;
    ListView_GetColumn(list_, i, &column);
    const int format = column.fmt & LVCFMT_JUSTIFYMASK;
    alignments_.push_back(format == LVCFMT_RIGHT ? DT_RIGHT : format == LVCFMT_CENTER ? DT_CENTER : DT_LEFT);
  }
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(list_, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc_, font ? font : GetStockObject(DEFAULT_GUI_FONT));
  blanks_.clear();
  SIZE size{};
  do {
    blanks_ += ' ';
    GetTextExtentPoint32A(dc_, blanks_.data(), static_cast<int>(blanks_.size()), &size);
  } while (size.cx < 14 && blanks_.size() < 64);
  step_ = size.cx;
  SelectObject(dc_, old);
  LOGFONTA log{};
  GetObjectA(font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT), sizeof log, &log);
  log.lfWeight = FW_BOLD;
  bold_ = CreateFontIndirectA(&log);
}

void TListViewItems::InsertItem(int position, TListViewRow& row) {
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = position;
  std::string first = row.Texts.empty() ? std::string() : row.Texts[0];
  item.pszText = first.data();
  item.iImage = row.Image;
  item.lParam = reinterpret_cast<LPARAM>(&row);
  const int at = ListView_InsertItem(list_, &item);
  for (std::size_t i = 1; i < row.Texts.size(); ++i) {
    std::string text = row.Texts[i];
    ListView_SetItemText(list_, at, static_cast<int>(i), text.data());
  }
}

void TListViewItems::AddRow(const std::vector<std::string>& columnTexts, const std::string& title, bool isGroup,
                            int kind, int image) {
  if (!started_) FirstRow();
  TListViewRow& row = rows_.Add(columnTexts, title, isGroup, kind, image, blanks_);
  InsertItem(ListView_GetItemCount(list_), row);
}

TListViewRow* TListViewItems::RowOfItem(int item) const {
  LVITEMA it{};
  it.mask = LVIF_PARAM;
  it.iItem = item;
  if (!ListView_GetItem(list_, &it)) return nullptr;
  return reinterpret_cast<TListViewRow*>(it.lParam);
}

bool TListViewItems::ToggleGroup(int item, POINT point, bool onSignOnly) {
  RECT r{};
  if (!ListView_GetItemRect(list_, item, &r, LVIR_BOUNDS)) return false;
  TListViewRow* row = RowOfItem(item);
  if (!row || !row->IsGroup) return false;
  if (onSignOnly && !TListViewRowList::IsOnSign(*row, point.x - r.left, point.y - r.top, step_)) return false;
  const int index = rows_.IndexOf(row);
  SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
  for (const TListViewChange& c : rows_.Toggle(index)) {
    if (c.Insert)
      InsertItem(c.Position, rows_.Row(c.Row));
    else
      ListView_DeleteItem(list_, c.Position);
  }
  SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
  const int at = rows_.ListPosition(index);
  ListView_RedrawItems(list_, at, at);
  InvalidateRect(list_, nullptr, FALSE);
  return true;
}

bool TListViewItems::HandleDrawItem(const DRAWITEMSTRUCT& item) {
  TListViewRow* row = reinterpret_cast<TListViewRow*>(item.itemData);
  if (!row) row = RowOfItem(static_cast<int>(item.itemID));
  if (!row) return true;
  HDC dc = item.hDC;  // the draw record's context carries the list's font and palette
  if (!paintReady_) paintReady_ = true;
  SetBkMode(dc, TRANSPARENT);
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  RECT r = item.rcItem;
  r.left += row->Indent * step_ + 2;
  FillRect(dc, &r, selected ? selected_ : unselected_);
  if (row->IsGroup) {
    COLORREF colour = RGB(96, 96, 96);
    if (row->Kind == 1) colour = RGB(0, 0, 128);
    if (row->Kind == 3) colour = RGB(128, 0, 0);
    if (row->Kind == 0) r.left += step_;
    RECT line{r.left, r.bottom - 2, r.right, r.bottom};
    FillRect(dc, &line, groupLine_);
    RECT text{r.left + 15, r.top - 1, r.right, r.bottom - 1};
    HGDIOBJ old = SelectObject(dc, bold_ ? static_cast<HGDIOBJ>(bold_) : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(dc, colour);
    DrawTextA(dc, row->Title.c_str(), static_cast<int>(row->Title.size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old);
    PaintMaskedBitmap(dc, r.left + 1, r.top + 1, 13, 13, bitmaps_[row->Expanded ? 5 : 4]);
  } else {
    if (row->Image >= 0 && row->Image < 4)
      PaintMaskedBitmap(dc, item.rcItem.left + row->Indent * step_ + 2, r.top + (r.bottom - r.top - 16) / 2, 16, 16,
                        bitmaps_[row->Image]);
    SetTextColor(dc, RGB(0, 0, 0));
    HWND header = ListView_GetHeader(list_);
    for (std::size_t i = 0; i < row->Texts.size() && i < alignments_.size(); ++i) {
      RECT cell{};
      if (!header || !Header_GetItemRect(header, static_cast<int>(i), &cell)) continue;
      RECT text{item.rcItem.left + cell.left + (i == 0 ? 20 : 6), item.rcItem.top,
                item.rcItem.left + cell.right - 6 + (i == 0 ? 4 : 0), item.rcItem.bottom};
      DrawTextA(dc, row->Texts[i].c_str(), static_cast<int>(row->Texts[i].size()), &text,
                alignments_[i] | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if (!row->IsSeparator) {
      RECT line{r.left, r.bottom - 1, r.right, r.bottom};
      FillRect(dc, &line, rowLine_);
    }
  }
  if (item.itemState & ODS_FOCUS) FrameRect(dc, &r, selected && GetFocus() == list_ ? focusFrame_ : frame_);
  return true;
}
