#include "VirtualTreeColumns.h"

#include "VirtualTreeDragImage.h"

#include <algorithm>

#include "Filer.h"
#include "Scope.h"
#include "VirtualTreeHeaderPaint.h"
#include "VirtualTreeOptions.h"
#include "VirtualTreesWin.h"

FW_BEGIN_CLASS(TVirtualTreeColumn)
  FW_PROP(Alignment, GetAlignment, SetAlignment)
  FW_PROP(BiDiMode, GetBiDiMode, SetBiDiMode)
  FW_STORED(IsBiDiModeStored)
  FW_PROP(Color, GetColor, SetColor)
  FW_STORED(IsColorStored)
  FW_PROP(ImageIndex, GetImageIndex, SetImageIndex)
  FW_PROP(Layout, GetLayout, SetLayout)
  FW_PROP(Margin, GetMargin, SetMargin)
  FW_DEFAULT(4)
  FW_PROP(MaxWidth, GetMaxWidth, SetMaxWidth)
  FW_DEFAULT(10000)
  FW_PROP(MinWidth, GetMinWidth, SetMinWidth)
  FW_DEFAULT(10)
  FW_PROP(Options, GetOptions, SetOptions)
  FW_DEFAULT(0xFF)
  FW_PROP(Position, GetPosition, SetPosition)
  FW_PROP(Spacing, GetSpacing, SetSpacing)
  FW_DEFAULT(4)
  FW_PROP(Style, GetStyle, SetStyle)
  FW_DEFAULT(vsText)
  FW_PROP(Tag, Tag, Tag)
  FW_DEFAULT(0)
  FW_PROP(Width, GetWidth, SetWidth)
FW_END_CLASS

FW_IMPLEMENT_CLASS(TVirtualTreeColumns)

FW_BEGIN_CLASS(TVTHeader)
  FW_PROP(AutoSizeIndex, GetAutoSizeIndex, SetAutoSizeIndex)
  FW_PROP(Background, GetBackground, SetBackground)
  FW_DEFAULT(clBtnFace)
  FW_PROP(Columns, GetColumns, SetColumns)
  FW_PROP(Font, GetFont, SetFont)
  FW_PROP(Height, GetHeight, SetHeight)
  FW_DEFAULT(17)
  FW_PROP(Images, GetImages, SetImages)
  FW_PROP(MainColumn, GetMainColumn, SetMainColumn)
  FW_DEFAULT(0)
  FW_PROP(Options, GetOptions, SetOptions)
  FW_DEFAULT(kHeaderOptionsStreamDefault)
  FW_PROP(PopupMenu, GetPopupMenu, SetPopupMenu)
  FW_PROP(SortColumn, GetSortColumn, SetSortColumn)
  FW_DEFAULT(-1)
  FW_PROP(SortDirection, GetSortDirection, SetSortDirection)
  FW_DEFAULT(vt::sdAscending)
  FW_PROP(Style, GetStyle, SetStyle)
FW_END_CLASS

// --- TVirtualTreeColumn -----------------------------------------------------------------------------

TVirtualTreeColumn::TVirtualTreeColumn(TCollection* collection) : TCollectionItem(collection) {
  if (collection) m_.Position = static_cast<std::uint32_t>(collection->Count() - 1);
  TakeParentBiDiMode();
  TakeParentColor();
}

TVirtualTreeColumns* TVirtualTreeColumn::Owner() const {
  return static_cast<TVirtualTreeColumns*>(Collection());
}

TBaseVirtualTree* TVirtualTreeColumn::Tree() const {
  TVirtualTreeColumns* columns = Owner();
  return columns && columns->Header() ? columns->Header()->Tree() : nullptr;
}

bool TVirtualTreeColumn::TreeLoading() const {
  TBaseVirtualTree* tree = Tree();
  return tree && tree->IsLoading();
}

void TVirtualTreeColumn::InvalidateTree() const {
  if (TBaseVirtualTree* tree = Tree(); tree && tree->HandleAllocated()) tree->Invalidate();
}

void TVirtualTreeColumn::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  alignment_ = value;
  m_.Alignment = static_cast<int>(value);
  Changed(false);
  InvalidateTree();
}

void TVirtualTreeColumn::SetBiDiMode(TBiDiMode value) {
  if (value == biDiMode_) return;
  biDiMode_ = value;
  m_.RightToLeft = IsRightToLeft();
  m_.Options &= static_cast<std::uint8_t>(~kColumnParentBidiMode);
  Changed(false);
  InvalidateTree();
}

void TVirtualTreeColumn::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  m_.Options &= static_cast<std::uint8_t>(~kColumnParentColor);
  Changed(false);
  InvalidateTree();
}

void TVirtualTreeColumn::SetImageIndex(int value) {
  if (value == imageIndex_) return;
  imageIndex_ = value;
  Changed(false);
}

void TVirtualTreeColumn::SetLayout(TVTHeaderColumnLayout value) {
  if (value == layout_) return;
  layout_ = value;
  Changed(false);
}

void TVirtualTreeColumn::SetSpacing(int value) {
  if (value == spacing_) return;
  spacing_ = value;
  Changed(false);
}

void TVirtualTreeColumn::SetStyle(TVirtualTreeColumnStyle value) {
  if (value == style_) return;
  style_ = value;
  Changed(false);
}

void TVirtualTreeColumn::SetText(const WideString& value) {
  if (value == text_) return;
  text_ = value;
  Changed(false);
}

void TVirtualTreeColumn::SetMargin(int value) {
  value = ClampMargin(value);
  if (value == margin_) return;
  margin_ = value;
  Changed(false);
}

void TVirtualTreeColumn::SetMaxWidth(int value) {
  value = ClampMaxWidth(value, m_.MinWidth);
  if (value == m_.MaxWidth) return;
  m_.MaxWidth = value;
  SetWidth(m_.Width);
}

void TVirtualTreeColumn::SetMinWidth(int value) {
  value = ClampMinWidth(value, m_.MaxWidth);
  if (value == m_.MinWidth) return;
  m_.MinWidth = value;
  SetWidth(m_.Width);
}

void TVirtualTreeColumn::SetWidth(int value) {
  value = ClampColumnWidth(m_, value);
  if (value == m_.Width) return;
  m_.LastWidth = m_.Width;
  TVirtualTreeColumns* columns = Owner();
  TVTHeader* header = columns ? columns->Header() : nullptr;
  const bool autoResize = header && header->HasOption(kHeaderAutoResize);
  // Under auto-resize the auto-size column is sized by the others only.
  if (!(autoResize && Index() == header->GetAutoSizeIndex())) {
    m_.Width = value;
    if (columns) columns->ComputeColumnEdges(false);
  }
  if (!columns || TreeLoading() || columns->UpdateCount() > 0) return;
  if (autoResize) columns->FitAutoSizeColumn(Index(), false);
  if (TBaseVirtualTree* tree = Tree()) tree->NotifyColumnResized(Index());
}

void TVirtualTreeColumn::SetOptions(TVTColumnOptions value) {
  const auto bits = static_cast<std::uint8_t>(value.Bits());
  if (bits == m_.Options) return;
  const auto newlySet = static_cast<std::uint8_t>(bits & ~m_.Options);
  const auto toggled = static_cast<std::uint8_t>(bits ^ m_.Options);
  m_.Options = bits;
  if (newlySet & kColumnParentBidiMode) TakeParentBiDiMode();
  if (newlySet & kColumnParentColor) TakeParentColor();
  Changed(false);
  if (TreeLoading()) return;
  TVirtualTreeColumns* columns = Owner();
  TBaseVirtualTree* tree = Tree();
  if (!columns || !tree) return;
  if (((toggled & kColumnVisible) || (newlySet & kColumnParentColor)) && columns->UpdateCount() == 0) InvalidateTree();
  if (toggled & kColumnVisible) tree->Tree().RefreshHorzScrollBar(false);
}

void TVirtualTreeColumn::SetPosition(std::uint32_t value) {
  TVirtualTreeColumns* columns = Owner();
  if (!columns || TreeLoading()) {
    m_.Position = value;  // checked when loading is done
    return;
  }
  const auto last = static_cast<std::uint32_t>(columns->Count() - 1);
  if (value > last) value = last;
  if (value == m_.Position) return;
  columns->AdjustPositionArray();
  if (columns->UpdateCount() > 0) return;
  columns->MovePositionEntry(Index(), static_cast<int>(value));
  columns->ComputeColumnEdges(false);
  if (TBaseVirtualTree* tree = Tree()) {
    tree->Tree().CancelEditingIfActive();
    columns->Header()->RedrawHeaderArea(Index(), false);
    InvalidateTree();
    tree->Tree().RefreshHorzScrollBar(false);
  }
}

void TVirtualTreeColumn::TakeParentBiDiMode() {
  TBaseVirtualTree* tree = Tree();
  if (!tree || !HasOption(kColumnParentBidiMode)) return;
  if (tree->GetBiDiMode() == biDiMode_) return;
  biDiMode_ = tree->GetBiDiMode();
  m_.RightToLeft = IsRightToLeft();
  Changed(false);
}

void TVirtualTreeColumn::TakeParentColor() {
  TBaseVirtualTree* tree = Tree();
  if (!tree || !HasOption(kColumnParentColor)) return;
  if (tree->GetColor() == color_) return;
  color_ = tree->GetColor();
  Changed(false);
}

int TVirtualTreeColumn::ScrolledLeft() const {
  TBaseVirtualTree* tree = Tree();
  return m_.Left + (tree ? tree->GetOffsetX() : 0);
}

void TVirtualTreeColumn::HorizontalBounds(int& left, int& right) const {
  left = m_.Left;
  right = m_.Left + m_.Width;
}

RECT TVirtualTreeColumn::HeaderRect() const {
  TBaseVirtualTree* tree = Tree();
  RECT r = tree ? tree->ComputeHeaderArea() : RECT{};
  r.left += m_.Left;
  r.right = r.left + m_.Width;
  return r;
}

void TVirtualTreeColumn::RestoreLastWidth() {
  if (TVirtualTreeColumns* columns = Owner()) columns->AnimatedResize(Index(), m_.LastWidth);
}

TVTHeaderLayout TVirtualTreeColumn::ComputeHeaderLayout(HDC dc, const RECT& cell, bool showSortGlyph,
                                                        bool showImage) const {
  TVTHeaderLayoutInput in;
  in.Width = cell.right - cell.left;
  in.Height = cell.bottom - cell.top;
  in.HasCaption = !text_.empty();
  if (in.HasCaption) {
    SIZE size{};
    GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text_.c_str()), static_cast<int>(text_.size()), &size);
    in.TextWidth = size.cx;
    in.TextHeight = size.cy;
  }
  TVirtualTreeColumns* columns = Owner();
  TCustomImageList* images = columns ? columns->Header()->GetImages() : nullptr;
  in.ShowImage = showImage && images;
  if (in.ShowImage) {
    in.ImageWidth = images->GetWidth();
    in.ImageHeight = images->GetHeight();
  }
  in.ShowGlyph = showSortGlyph && UtilityImages;
  if (in.ShowGlyph) {
    in.GlyphWidth = UtilityImages->GetWidth();
    in.GlyphHeight = UtilityImages->GetHeight();
  }
  in.Alignment = static_cast<int>(alignment_);
  in.Layout = static_cast<int>(layout_);
  in.Margin = margin_;
  in.Spacing = spacing_;
  in.RightToLeft = IsRightToLeft();
  return ::ComputeHeaderLayout(in, cell.left, cell.top);
}

void TVirtualTreeColumn::Assign(TPersistent* source) {
  auto* other = source && source->Is<TVirtualTreeColumn>() ? static_cast<TVirtualTreeColumn*>(source) : nullptr;
  if (!other) {
    inherited::Assign(source);
    return;
  }
  SetBiDiMode(other->biDiMode_);
  SetImageIndex(other->imageIndex_);
  SetLayout(other->layout_);
  SetMargin(other->margin_);
  SetMaxWidth(other->m_.MaxWidth);
  SetMinWidth(other->m_.MinWidth);
  SetPosition(other->m_.Position);
  SetSpacing(other->spacing_);
  SetStyle(other->style_);
  SetText(other->text_);
  hint_ = other->hint_;
  SetWidth(other->m_.Width);
  SetOptions(other->GetOptions());
  SetAlignment(other->alignment_);
  SetColor(other->color_);
  Changed(false);
}

std::string TVirtualTreeColumn::DisplayName() const {
  return ColumnDisplayName(text_, Index());
}

void TVirtualTreeColumn::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  // 8-bit string values are widened on reading; the writer always writes wide strings.
  filer.DefineProperty(
      "WideText", [this](TReader& reader) { SetText(reader.ReadWideString()); },
      [this](TWriter& writer) { writer.WriteWideString(text_); }, !text_.empty());
  filer.DefineProperty(
      "WideHint", [this](TReader& reader) { hint_ = reader.ReadWideString(); },
      [this](TWriter& writer) { writer.WriteWideString(hint_); }, !hint_.empty());
}

// --- TVirtualTreeColumns ----------------------------------------------------------------------------

TVirtualTreeColumns::TVirtualTreeColumns(TVTHeader* header, const ClassInfo& itemClass)
    : TOwnedCollection(header, itemClass), header_(header) {}

void TVirtualTreeColumns::Destroy() {
  CloseHeaderTheme();
  if (bitmapDC_) {
    SelectObject(bitmapDC_, oldBitmap_);
    DeleteDC(bitmapDC_);
    bitmapDC_ = nullptr;
  }
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = nullptr;
  inherited::Destroy();
}

void TVirtualTreeColumns::Assign(TPersistent* source) {
  inherited::Assign(source);
  if (auto* other = source && source->Is<TVirtualTreeColumns>() ? static_cast<TVirtualTreeColumns*>(source) : nullptr;
      other && other != this) {
    map_.Entries = other->map_.Entries;
    map_.Entries.resize(static_cast<std::size_t>(Count()));
    ComputeColumnEdges(true);
    AdjustPositionArray();
    ComputeColumnEdges(true);
  }
}

TVirtualTreeColumn* TVirtualTreeColumns::ColumnAt(int index) const {
  return IsValidColumnIndex(index) ? static_cast<TVirtualTreeColumn*>(Items(index)) : nullptr;
}

std::vector<TVTColumnMetrics*> TVirtualTreeColumns::Span() const {
  std::vector<TVTColumnMetrics*> out;
  out.reserve(static_cast<std::size_t>(Count()));
  for (int i = 0; i < Count(); ++i) out.push_back(&ColumnAt(i)->Metrics());
  return out;
}

int TVirtualTreeColumns::FirstVisibleColumn() const {
  return ::FirstVisibleColumn(map_, Span());
}
int TVirtualTreeColumns::LastVisibleColumn() const {
  return ::LastVisibleColumn(map_, Span());
}
int TVirtualTreeColumns::NextColumn(int column) const {
  return ::NextColumn(map_, Span(), column);
}
int TVirtualTreeColumns::PreviousColumn(int column) const {
  return ::PreviousColumn(map_, Span(), column);
}
int TVirtualTreeColumns::NextVisibleColumn(int column) const {
  return ::NextVisibleColumn(map_, Span(), column);
}
int TVirtualTreeColumns::PreviousVisibleColumn(int column) const {
  return ::PreviousVisibleColumn(map_, Span(), column);
}
int TVirtualTreeColumns::TotalVisibleWidth() const {
  return ::TotalVisibleWidth(map_, Span());
}

std::vector<TVirtualTreeColumn*> TVirtualTreeColumns::VisibleColumnsInOrder() const {
  std::vector<TVirtualTreeColumn*> out;
  for (int index : map_.Entries) {
    TVirtualTreeColumn* c = ColumnAt(index);
    if (c && c->HasOption(kColumnVisible)) out.push_back(c);
  }
  return out;
}

void TVirtualTreeColumns::ColumnExtent(int column, int& left, int& right) const {
  TBaseVirtualTree* tree = header_->Tree();
  if (column == NoColumn || !IsValidColumnIndex(column)) {
    left = 0;
    right = tree->Tree().ClientWidth();
    return;
  }
  left = ColumnAt(column)->ScrolledLeft();
  right = left + ColumnAt(column)->GetWidth();
}

int TVirtualTreeColumns::ColumnAtPoint(POINT point, bool scrolled) const {
  TVTColumnLayout layout;
  FillColumnLayout(map_, Span(), layout);
  layout.HeaderHeight = static_cast<int>(header_->GetHeight());
  return layout.ColumnAtPoint(point.x, point.y, scrolled, header_->Tree()->GetOffsetX());
}

int TVirtualTreeColumns::ColumnAndBoundsAtX(int x, bool scrolled, int& left, int& right) const {
  TVTColumnLayout layout;
  FillColumnLayout(map_, Span(), layout);
  return layout.ColumnAndBoundsAtX(x, scrolled, header_->Tree()->GetOffsetX(), left, right);
}

void TVirtualTreeColumns::ComputeColumnEdges(bool force) {
  if (!force && UpdateCount() > 0) return;
  const auto span = Span();
  map_.ComputeEdges(span);
  PublishLayout();
}

void TVirtualTreeColumns::RebuildPositionIndex() {
  map_.Rebuild(Span());
  PublishLayout();
}

void TVirtualTreeColumns::AdjustPositionArray() {
  map_.Adjust(Span());
}

void TVirtualTreeColumns::MovePositionEntry(int column, int position) {
  map_.MoveEntry(Span(), column, position);
}

// The tree's hit tests and cell rectangles read the visible columns from
// its core.
void TVirtualTreeColumns::PublishLayout() {
  TBaseVirtualTree* tree = header_->Tree();
  if (!tree) return;
  TVTColumnLayout& layout = tree->Tree().ColumnLayout;
  FillColumnLayout(map_, Span(), layout);
  layout.MainColumn = header_->GetMainColumn();
  layout.HeaderHeight = header_->HasOption(kHeaderVisible) ? static_cast<int>(header_->GetHeight()) : 0;
}

void TVirtualTreeColumns::FitAutoSizeColumn(int column, bool force) {
  if (Count() == 0) return;
  const auto span = Span();
  const int target = AutoSizeTarget(map_, span, header_->GetAutoSizeIndex(), column);
  if (target < 0) return;
  TBaseVirtualTree* tree = header_->Tree();
  const int room = tree->HandleAllocated() ? tree->Tree().ClientWidth() : tree->GetWidth();
  const int width = AutoSizeWidth(span, target, room);
  TVTColumnMetrics& m = ColumnAt(target)->Metrics();
  if (force || width != m.Width) {
    m.Width = width;  // directly: the last width stays
    ComputeColumnEdges(false);
    tree->NotifyColumnResized(target);
  }
}

void TVirtualTreeColumns::AnimatedResize(int column, int width) {
  TVirtualTreeColumn* c = ColumnAt(column);
  if (!c || width == c->GetWidth()) return;
  TBaseVirtualTree* tree = header_->Tree();
  if (tree->HandleAllocated() && IsWindowVisible(tree->WindowHandle())) {
    const int step = AnimatedResizeStep(c->GetWidth(), width);
    HWND window = tree->WindowHandle();
    // Window coordinates of the client area.
    RECT frame, client;
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -frame.left, -frame.top);
    const RECT header = tree->ComputeHeaderArea();
    const int x = (header.right > header.left ? header.left : client.left) + c->Left() + c->GetWidth();
    RECT headerStrip{x, header.top, client.right, header.bottom};
    RECT rowsStrip{x, client.top, client.right, client.bottom};
    HDC dc = GetWindowDC(window);
    struct Release {
      HWND w;
      HDC d;
      ~Release() { ReleaseDC(w, d); }
    } release{window, dc};
    if (step > 0) {
      RECT gap{rowsStrip.left, rowsStrip.top, rowsStrip.left + step, rowsStrip.bottom};
      FillRectColor(dc, gap, tree->GetColor());
    } else {
      headerStrip.left += step;
      rowsStrip.left += step;
    }
    for (int i = 0; i < kAnimatedResizeSteps && step != 0; ++i) {
      if (headerStrip.right > headerStrip.left && headerStrip.bottom > headerStrip.top) {
        ScrollDC(dc, step, 0, &headerStrip, &headerStrip, nullptr, nullptr);
        headerStrip.left += step;
      }
      ScrollDC(dc, step, 0, &rowsStrip, &rowsStrip, nullptr, nullptr);
      rowsStrip.left += step;
      Sleep(1);
    }
  }
  c->SetWidth(width);
}

void TVirtualTreeColumns::Update(TCollectionItem* item) {
  AdjustPositionArray();
  TBaseVirtualTree* tree = header_->Tree();
  const bool loading = tree && tree->IsLoading();
  if (!loading) ComputeColumnEdges(false);
  header_->SetMainColumnAfterChange();
  if (!tree || loading) return;
  if (header_->HasOption(kHeaderAutoResize)) FitAutoSizeColumn(-2, false);
  if (item) {
    header_->RedrawHeaderArea(item->Index(), false);
  } else if (tree->HandleAllocated()) {
    tree->Tree().RefreshHorzScrollBar(false);
    header_->RedrawHeaderArea(-1, false);
    tree->Invalidate();
  }
}

void TVirtualTreeColumns::PaintHeader(HDC dc, const RECT& target, int shift) {
  PaintHeaderBand(*this, dc, target, shift);
}

void TVirtualTreeColumns::OpenHeaderTheme(HWND window) {
  CloseHeaderTheme();
  TBaseVirtualTree* tree = header_->Tree();
  if (tree && tree->Tree().HasTreeState(tsUseThemes) && window) theme_ = Themes::OpenThemeData(window, L"header");
}

void TVirtualTreeColumns::CloseHeaderTheme() {
  if (theme_) Themes::CloseThemeData(theme_);
  theme_ = nullptr;
}

HDC TVirtualTreeColumns::HeaderBitmapDC(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (!bitmapDC_) bitmapDC_ = CreateCompatibleDC(nullptr);
  if (width > bitmapWidth_ || height > bitmapHeight_ || !bitmap_) {
    HDC screen = GetDC(nullptr);
    HBITMAP made = CreateCompatibleBitmap(screen, std::max(width, bitmapWidth_), std::max(height, bitmapHeight_));
    ReleaseDC(nullptr, screen);
    if (!made) return nullptr;
    HGDIOBJ old = SelectObject(bitmapDC_, made);
    if (!oldBitmap_) oldBitmap_ = static_cast<HBITMAP>(old);
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = made;
    bitmapWidth_ = std::max(width, bitmapWidth_);
    bitmapHeight_ = std::max(height, bitmapHeight_);
  }
  return bitmapDC_;
}

// --- TVTHeader --------------------------------------------------------------------------------------

TVTHeader::TVTHeader(TBaseVirtualTree* owner) : tree_(owner) {
  columns_ = New<TVirtualTreeColumns>(this, owner ? owner->ColumnClass() : TVirtualTreeColumn::StaticClass());
  columns_->PropName = "Columns";
  font_ = New<TFont>();
  font_->OnChange = TNotifyEvent::Bind<&TVTHeader::FontChanged>(this);
  imageLink_ = New<TChangeLink>();
  imageLink_->OnChange = TNotifyEvent::Bind<&TVTHeader::ImageListChanged>(this);
}

void TVTHeader::Destroy() {
  FreeAndNil(dragImage_);
  if (images_) images_->UnRegisterChanges(imageLink_);
  FreeAndNil(imageLink_);
  FreeAndNil(font_);
  FreeAndNil(columns_);
  inherited::Destroy();
}

TPersistent* TVTHeader::GetOwner() {
  return tree_;
}

bool TVTHeader::TreeLoading() const {
  return tree_ && tree_->IsLoading();
}

void TVTHeader::Assign(TPersistent* source) {
  auto* other = source && source->Is<TVTHeader>() ? static_cast<TVTHeader*>(source) : nullptr;
  if (!other) {
    inherited::Assign(source);
    return;
  }
  SetAutoSizeIndex(other->autoSizeIndex_);
  SetBackground(other->background_);
  SetColumns(other->columns_);
  SetFont(other->font_);
  SetHeight(other->height_);
  SetOptions(other->GetOptions());
  SetPopupMenu(other->popupMenu_);
  SetStyle(other->style_);
}

void TVTHeader::SetAutoSizeIndex(int value) {
  if (value == autoSizeIndex_) return;
  autoSizeIndex_ = value;
  if (HasOption(kHeaderAutoResize)) columns_->FitAutoSizeColumn(-2, false);
}

void TVTHeader::SetBackground(TColor value) {
  if (value == background_) return;
  background_ = value;
  Redraw();
}

void TVTHeader::SetStyle(TVTHeaderStyle value) {
  if (value == style_) return;
  style_ = value;
  if (!TreeLoading()) Redraw();
}

void TVTHeader::SetFont(TFont* value) {
  if (value) font_->Assign(value);
  Redraw();
}

void TVTHeader::FontChanged(TObject*) {
  Redraw();
}

void TVTHeader::SetHeight(std::uint32_t value) {
  if (value == height_) return;
  height_ = value;
  columns_->PublishLayout();
  if (!TreeLoading()) RecalculateFrame();
}

void TVTHeader::SetImages(TCustomImageList* value) {
  if (value == images_) return;
  if (images_) images_->UnRegisterChanges(imageLink_);
  images_ = value;
  if (images_) {
    images_->RegisterChanges(imageLink_);
    if (tree_) images_->FreeNotification(tree_);
  }
  if (!TreeLoading()) Redraw();
}

void TVTHeader::SetPopupMenu(TPopupMenu* value) {
  popupMenu_ = value;
  if (popupMenu_ && tree_) popupMenu_->FreeNotification(tree_);
}

void TVTHeader::ComponentRemoved(TComponent* component) {
  if (component && component == images_) {
    images_->UnRegisterChanges(imageLink_);
    images_ = nullptr;
    Redraw();
  }
  if (component && component == popupMenu_) popupMenu_ = nullptr;
}

void TVTHeader::ImageListChanged(TObject*) {
  if (tree_ && !tree_->IsDestroying()) Redraw();
}

int TVTHeader::GetMainColumn() const {
  return columns_->Count() > 0 ? mainColumn_ : NoColumn;
}

void TVTHeader::SetMainColumnAfterChange() {
  const int count = columns_->Count();
  // A main column that went with its column falls back to the last one.
  if (count > 0 && (mainColumn_ < 0 || mainColumn_ >= count)) mainColumn_ = mainColumn_ < 0 ? 0 : count - 1;
  columns_->PublishLayout();
}

void TVTHeader::SetMainColumn(int value) {
  const int count = columns_->Count();
  value = count == 0 ? NoColumn : std::clamp(value, 0, count - 1);
  if (value == mainColumn_) return;
  mainColumn_ = value;
  columns_->PublishLayout();
  if (TreeLoading() || !tree_) return;
  tree_->Tree().ResetNodeCaches();
  if (!(tree_->Tree().OptionBits.Selection & voExtendedFocus)) tree_->SetFocusedColumn(mainColumn_);
  if (tree_->HandleAllocated()) tree_->Invalidate();
}

void TVTHeader::SetOptions(TVTHeaderOptions value) {
  const auto bits = static_cast<std::uint16_t>(value.Bits());
  const std::uint16_t old = options_;
  if (bits == old) return;
  options_ = bits;
  columns_->PublishLayout();
  if (!tree_) return;
  if (((old ^ bits) & kHeaderAutoResize) && HasColumns()) {
    columns_->FitAutoSizeColumn(-2, false);
    if (tree_->HandleAllocated()) {
      tree_->Tree().RefreshHorzScrollBar(false);
      if (bits & kHeaderAutoResize) tree_->Invalidate();
    }
  }
  if (tree_->HandleAllocated() && !TreeLoading()) {
    if ((old ^ bits) & kHeaderVisible) RecalculateFrame();
    Redraw();
    tree_->Invalidate();
  }
}

void TVTHeader::SetSortColumn(int value) {
  value = std::clamp(value, -1, columns_->Count() - 1);
  if (value == sortColumn_) return;
  if (sortColumn_ >= 0) RedrawHeaderArea(sortColumn_, false);
  sortColumn_ = value;
  if (sortColumn_ >= 0) RedrawHeaderArea(sortColumn_, false);
  if (tree_ && (tree_->Tree().OptionBits.Auto & voAutoSort) && tree_->Tree().UpdateCount() == 0)
    tree_->Tree().SortAllLevels(sortColumn_, sortDirection_, true);
}

void TVTHeader::SetSortDirection(TSortDirection value) {
  if (value == sortDirection_) return;
  sortDirection_ = value;
  Redraw();
  if (tree_ && (tree_->Tree().OptionBits.Auto & voAutoSort) && tree_->Tree().UpdateCount() == 0)
    tree_->Tree().SortAllLevels(sortColumn_, sortDirection_, true);
}

void TVTHeader::RedrawHeaderArea(int column, bool toEnd) {
  if (!HasOption(kHeaderVisible) || !tree_ || !tree_->HandleAllocated()) return;
  HWND window = tree_->WindowHandle();
  RECT area = tree_->ComputeHeaderArea();
  if (TVirtualTreeColumn* c = columns_->ColumnAt(column)) {
    const int right = area.right;
    area = c->HeaderRect();
    OffsetRect(&area, tree_->GetOffsetX(), 0);
    if (toEnd) area.right = right;
  }
  RECT frame;
  GetWindowRect(window, &frame);
  OffsetRect(&area, frame.left, frame.top);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
  RedrawWindow(window, &area, nullptr, RDW_FRAME | RDW_NOCHILDREN | RDW_NOERASE | RDW_INVALIDATE);
}

void TVTHeader::RecalculateFrame() {
  if (!tree_ || !tree_->HandleAllocated()) return;
  tree_->ComputeHeaderArea();
  SetWindowPos(tree_->WindowHandle(), nullptr, 0, 0, 0, 0, 0x0637);
}

void TVTHeader::AutoFitColumns() {
  if (!tree_) return;
  for (int index : std::vector<int>(columns_->PositionToIndex())) {
    TVirtualTreeColumn* c = columns_->ColumnAt(index);
    if (c && c->HasOption(kColumnVisible) && c->HasOption(kColumnResizable))
      columns_->AnimatedResize(index, tree_->Tree().MeasureColumnContentWidth(index));
  }
}

void TVTHeader::RestoreColumnWidths() {
  const std::vector<int> order = columns_->PositionToIndex();
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    TVirtualTreeColumn* c = columns_->ColumnAt(*it);
    if (c && c->HasOption(kColumnVisible) && c->HasOption(kColumnResizable)) c->RestoreLastWidth();
  }
}

std::uint8_t TVTHeader::CurrentShiftState() {
  std::uint8_t state = 0;
  if (GetKeyState(VK_SHIFT) < 0) state |= 1;
  if (GetKeyState(VK_MENU) < 0) state |= 2;
  if (GetKeyState(VK_CONTROL) < 0) state |= 4;
  return state;
}
