// The tree's header: its columns (a framework collection) and the header
// object the tree owns, with their published properties, writers and
// streaming. The arithmetic lives in VirtualTreeHeader.h; the band is
// painted by VirtualTreeHeaderPaint.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Collection.h"
#include "Controls.h"
#include "Graphics.h"
#include "ImgList.h"
#include "Menus.h"
#include "StdCtrls.h"
#include "Themes.h"
#include "VirtualTreeHeader.h"

class TBaseVirtualTree;
class TVTDragImage;
class TVTHeader;
class TVirtualTreeColumns;

FW_ENUM(TVTColumnOption, coAllowClick, coDraggable, coEnabled, coParentBidiMode, coParentColor, coResizable,
        coShowDropMark, coVisible);
using TVTColumnOptions = Set<TVTColumnOption>;
FW_ENUM(TVTHeaderColumnLayout, blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom);
FW_ENUM(TVirtualTreeColumnStyle, vsText, vsOwnerDraw);
FW_ENUM(TVTHeaderOption, hoAutoResize, hoColumnResize, hoDblClickResize, hoDrag, hoHotTrack, hoOwnerDraw,
        hoRestrictDrag, hoShowHint, hoShowImages, hoShowSortGlyphs, hoVisible);
using TVTHeaderOptions = Set<TVTHeaderOption>;
FW_ENUM(TVTHeaderStyle, hsThickButtons, hsFlatButtons, hsPlates, hsXPStyle);
// The tree's core names the directions as plain numbers; the published
// enumeration lives apart.
namespace vt {
FW_ENUM(TSortDirection, sdAscending, sdDescending);
}
using TSortDirection = vt::TSortDirection;

// One column.
class TVirtualTreeColumn : public TCollectionItem {
  FW_CLASS(TVirtualTreeColumn, TCollectionItem)
 public:
  // Width 50, MinWidth 10, MaxWidth 10000, Margin and Spacing 4, all
  // options, no image, last position; the tree's reading order and colour.
  explicit TVirtualTreeColumn(TCollection* collection);
  // From another column: every property, then one change report.
  void Assign(TPersistent* source) override;
  std::string DisplayName() const override;
  // "WideText" and "WideHint".
  void DefineProperties(TFiler& filer) override;

  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  TBiDiMode GetBiDiMode() const { return biDiMode_; }
  void SetBiDiMode(TBiDiMode value);
  TColor GetColor() const { return color_; }
  void SetColor(TColor value);
  const WideString& GetHint() const { return hint_; }
  void SetHint(const WideString& value) { hint_ = value; }
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  TVTHeaderColumnLayout GetLayout() const { return layout_; }
  void SetLayout(TVTHeaderColumnLayout value);
  int GetMargin() const { return margin_; }
  void SetMargin(int value);
  int GetMaxWidth() const { return m_.MaxWidth; }
  void SetMaxWidth(int value);
  int GetMinWidth() const { return m_.MinWidth; }
  void SetMinWidth(int value);
  TVTColumnOptions GetOptions() const { return TVTColumnOptions::FromBits(m_.Options); }
  void SetOptions(TVTColumnOptions value);
  std::uint32_t GetPosition() const { return m_.Position; }
  void SetPosition(std::uint32_t value);
  int GetSpacing() const { return spacing_; }
  void SetSpacing(int value);
  TVirtualTreeColumnStyle GetStyle() const { return style_; }
  void SetStyle(TVirtualTreeColumnStyle value);
  int Tag = 0;
  const WideString& GetText() const { return text_; }
  void SetText(const WideString& value);
  int GetWidth() const { return m_.Width; }
  void SetWidth(int value);

  bool HasOption(std::uint8_t bit) const { return (m_.Options & bit) != 0; }
  int Left() const { return m_.Left; }
  int LastWidth() const { return m_.LastWidth; }
  int ScrolledLeft() const;
  void HorizontalBounds(int& left, int& right) const;
  // The cell in the header rectangle (window coordinates), not scrolled.
  RECT HeaderRect() const;
  void TakeParentBiDiMode();
  void TakeParentColor();
  void RestoreLastWidth();
  bool IsRightToLeft() const { return biDiMode_ != bdLeftToRight; }
  // Image, sort glyph and caption in `cell`, the caption measured in the DC's font.
  TVTHeaderLayout ComputeHeaderLayout(HDC dc, const RECT& cell, bool showSortGlyph, bool showImage) const;

  TVirtualTreeColumns* Owner() const;
  TVTColumnMetrics& Metrics() { return m_; }

 private:
  bool IsBiDiModeStored() const { return !HasOption(kColumnParentBidiMode); }
  bool IsColorStored() const { return !HasOption(kColumnParentColor); }
  TBaseVirtualTree* Tree() const;
  bool TreeLoading() const;
  void InvalidateTree() const;

  TVTColumnMetrics m_;
  TAlignment alignment_ = taLeftJustify;
  TBiDiMode biDiMode_ = bdLeftToRight;
  TColor color_ = clWindow;
  WideString hint_, text_;
  int imageIndex_ = -1;
  TVTHeaderColumnLayout layout_ = blGlyphLeft;
  int margin_ = 4, spacing_ = 4;
  TVirtualTreeColumnStyle style_ = vsText;
};

// The columns, their display order and the painting of the band.
class TVirtualTreeColumns : public TOwnedCollection {
  FW_CLASS(TVirtualTreeColumns, TOwnedCollection)
 public:
  TVirtualTreeColumns(TVTHeader* header, const ClassInfo& itemClass);
  void Destroy() override;
  // The items, then from other columns the whole display order.
  void Assign(TPersistent* source) override;

  TVTHeader* Header() const { return header_; }
  TVirtualTreeColumn* ColumnAt(int index) const;  // null outside
  bool IsValidColumnIndex(int index) const { return index >= 0 && index < Count(); }
  int FirstVisibleColumn() const;
  int LastVisibleColumn() const;
  int NextColumn(int column) const;
  int PreviousColumn(int column) const;
  int NextVisibleColumn(int column) const;
  int PreviousVisibleColumn(int column) const;
  std::vector<TVirtualTreeColumn*> VisibleColumnsInOrder() const;
  int TotalVisibleWidth() const;
  // Scrolled edges; column -1 spans the client width.
  void ColumnExtent(int column, int& left, int& right) const;
  // Header coordinates (the band runs from y = 0 to the header's height).
  int ColumnAtPoint(POINT point, bool scrolled) const;
  int ColumnAndBoundsAtX(int x, bool scrolled, int& left, int& right) const;

  void FitAutoSizeColumn(int column, bool force);
  // Moves what lies right of the column in 32 steps, then sets the width.
  void AnimatedResize(int column, int width);
  void ComputeColumnEdges(bool force);
  void RebuildPositionIndex();
  void AdjustPositionArray();
  void MovePositionEntry(int column, int position);
  const std::vector<int>& PositionToIndex() const { return map_.Entries; }
  // Hands the visible columns, the main column and the band's height to
  // the tree's core (its hit tests and cell rectangles read them there).
  void PublishLayout();

  // Paints the band's part in `target` (coordinates of `dc`); the cells
  // start at target.left + shift.
  void PaintHeader(HDC dc, const RECT& target, int shift);
  void OpenHeaderTheme(HWND window);
  void CloseHeaderTheme();
  HTHEME HeaderTheme() const { return theme_; }
  // The off-screen bitmap the band is drawn into, at least w x h.
  HDC HeaderBitmapDC(int width, int height);

  int HoverColumn = -1, DownColumn = -1, ResizeColumn = -1, ClickedColumn = -1;
  int DragColumn = -1, DropTarget = -1;
  bool DropBefore = false;

  // --- The mouse (header coordinates, scrolled) ---
  // Makes the column under the point the hover column; true when it changed.
  bool DetermineHoverColumn(POINT point);
  // Makes the column under the point the down column when it can be clicked; the column found.
  int DetermineDownColumn(POINT point);
  // A click on the column under the point: counts for a clickable column
  // that is the down column, or any clickable column with `force`.
  void HandleClick(POINT point, TMouseButton button, bool force, bool dblClick);

 protected:
  void Update(TCollectionItem* item) override;

 private:
  friend class TVirtualTreeColumn;
  std::vector<TVTColumnMetrics*> Span() const;

  TVTHeader* header_;
  TVTColumnPositions map_;
  HTHEME theme_ = nullptr;
  HDC bitmapDC_ = nullptr;
  HBITMAP bitmap_ = nullptr, oldBitmap_ = nullptr;
  int bitmapWidth_ = 0, bitmapHeight_ = 0;
};

// The header the tree owns.
class TVTHeader : public TPersistent {
  FW_CLASS(TVTHeader, TPersistent)
 public:
  explicit TVTHeader(TBaseVirtualTree* owner);
  void Destroy() override;
  void Assign(TPersistent* source) override;
  TPersistent* GetOwner() override;
  TBaseVirtualTree* Tree() const { return tree_; }

  int GetAutoSizeIndex() const { return autoSizeIndex_; }
  void SetAutoSizeIndex(int value);
  TColor GetBackground() const { return background_; }
  void SetBackground(TColor value);
  TVirtualTreeColumns* GetColumns() const { return columns_; }
  void SetColumns(TVirtualTreeColumns* value) { columns_->Assign(value); }
  TFont* GetFont() const { return font_; }
  void SetFont(TFont* value);
  std::uint32_t GetHeight() const { return height_; }
  void SetHeight(std::uint32_t value);
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* value);
  // -1 while there are no columns.
  int GetMainColumn() const;
  void SetMainColumn(int value);
  TVTHeaderOptions GetOptions() const { return TVTHeaderOptions::FromBits(options_); }
  void SetOptions(TVTHeaderOptions value);
  TPopupMenu* GetPopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* value);
  int GetSortColumn() const { return sortColumn_; }
  void SetSortColumn(int value);
  TSortDirection GetSortDirection() const { return sortDirection_; }
  void SetSortDirection(TSortDirection value);
  TVTHeaderStyle GetStyle() const { return style_; }
  void SetStyle(TVTHeaderStyle value);

  std::uint16_t OptionBits() const { return options_; }
  bool HasOption(std::uint16_t bit) const { return (options_ & bit) != 0; }
  bool HasColumns() const { return columns_->Count() > 0; }
  int EffectiveMainColumn() const { return GetMainColumn(); }
  // After the columns changed: a negative main column becomes 0, one past
  // the last column the last one.
  void SetMainColumnAfterChange();
  // Redraws a column's cell (to the band's end with `toEnd`), or the whole band for -1.
  void RedrawHeaderArea(int column, bool toEnd);
  // Asks the system for the non-client size again.
  void RecalculateFrame();
  void AutoFitColumns();
  void RestoreColumnWidths();
  // The tree tells of a component that goes: the header forgets its images
  // or popup menu (the tree is told of both as they are set).
  void ComponentRemoved(TComponent* component);
  // Bit 0 Shift, bit 1 Alt, bit 2 Ctrl.
  static std::uint8_t CurrentShiftState();

  // The states the mouse handling sets (kHeaderDragging ...).
  std::uint8_t States = 0;
  int TrackStart = 0;
  POINT LeftTrackPoint{};
  POINT DragStart{};

  // --- The mouse ---
  // The header's turn at one of the tree's window messages, before the
  // tree's own handling; true when the header consumed it.
  bool HandleHeaderMessage(TMessage& msg);
  // WM_MOUSEMOVE while a track or a drag is pending or running.
  bool HandleMouseMove(TMessage& msg);
  // Whether a client x lies in a resizable column's edge zone (the resize column then).
  bool InResizeZone(int clientX);
  // Whether a client point lies in the band (whose y is negative in client coordinates).
  bool IsPointInHeader(POINT clientPoint) const;
  void StartColumnDrag(POINT screenPoint, POINT dragStart);
  // The drop target under the point and the picture moved there; true when it moved.
  bool DragOverColumn(POINT screenPoint);
  // Ends a pending or running track or drag without a change (the width
  // tracked so far goes back), releasing the capture; true when one ran.
  bool CancelMouseAction();
  // The picture of a dragged column (made on first use).
  TVTDragImage* DragImage();

 private:
  void FontChanged(TObject* sender);
  void ImageListChanged(TObject* sender);
  bool TreeLoading() const;
  void Redraw() { RedrawHeaderArea(-1, false); }

  TBaseVirtualTree* tree_;
  TVirtualTreeColumns* columns_ = nullptr;
  TFont* font_ = nullptr;
  TChangeLink* imageLink_ = nullptr;
  TCustomImageList* images_ = nullptr;
  TPopupMenu* popupMenu_ = nullptr;
  int autoSizeIndex_ = 0;
  TColor background_ = clBtnFace;
  std::uint32_t height_ = 17;
  int mainColumn_ = -1;
  std::uint16_t options_ = kHeaderOptionsOnCreate;
  int sortColumn_ = -1;
  TSortDirection sortDirection_ = vt::sdAscending;
  TVTHeaderStyle style_ = hsThickButtons;
  // The mouse.
  void CompleteColumnDrop(POINT screenPoint);
  TVTDragImage* dragImage_ = nullptr;
  int trackedWidth_ = 0;  // the resize column's width when tracking began
};
