#include "VirtualTreesWin.h"

#include <ole2.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "MappedBitmaps.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"
#include "Themes.h"
#include "Thread.h"
#include "VirtualTreeColumns.h"
#include "VirtualTreeDragImage.h"
#include "VirtualTreeHintWindow.h"
#include "VirtualTreeWindowCore.h"

FW_BEGIN_CLASS(TBaseVirtualTree)
  FW_PROP(BevelEdges, BevelEdges, BevelEdges)
  FW_STORED(IsBevelEdgesStored)
  FW_PROP(BevelInner, BevelInner, BevelInner)
  FW_DEFAULT(bvRaised)
  FW_PROP(BevelKind, BevelKind, BevelKind)
  FW_DEFAULT(bkNone)
  FW_PROP(BevelOuter, BevelOuter, BevelOuter)
  FW_DEFAULT(bvLowered)
  FW_PROP(BevelWidth, BevelWidth, BevelWidth)
  FW_DEFAULT(1)
  FW_PROP(BorderStyle, GetBorderStyle, SetBorderStyle)
  FW_DEFAULT(bsSingle)
  FW_PROP(CheckImageKind, GetCheckImageKind, SetCheckImageKind)
  FW_DEFAULT(0)
  FW_PROP_RO(Colors, Colors)
  FW_PROP(CustomCheckImages, GetCustomCheckImages, SetCustomCheckImages)
  FW_PROP(DefaultNodeHeight, GetDefaultNodeHeight, SetDefaultNodeHeight)
  FW_DEFAULT(18)
  FW_PROP(Header, GetHeader, SetHeader)
  FW_PROP(HotCursor, HotCursor, HotCursor)
  FW_DEFAULT(0)
  FW_PROP(Images, GetImages, SetImages)
  FW_PROP(Indent, GetIndent, SetIndent)
  FW_DEFAULT(18)
  FW_PROP(Margin, GetMargin, SetMargin)
  FW_DEFAULT(4)
  FW_PROP(NodeAlignment, GetNodeAlignment, SetNodeAlignment)
  FW_DEFAULT(2)
  FW_PROP(RootNodeCount, GetRootNodeCount, SetRootNodeCount)
  FW_DEFAULT(0)
  FW_PROP_RO(ScrollBarOptions, ScrollBarOptions)
  FW_PROP(SelectionCornerRadius, GetSelectionCornerRadius, SetSelectionCornerRadius)
  FW_DEFAULT(0)
  FW_PROP(StateImages, GetStateImages, SetStateImages)
FW_END_CLASS

FW_BEGIN_CLASS(TScrollBarOptions)
  FW_PROP(AlwaysVisible, GetAlwaysVisible, SetAlwaysVisible)
  FW_DEFAULT(0)
  FW_PROP(HorizontalIncrement, HorizontalIncrement, HorizontalIncrement)
  FW_DEFAULT(20)
  FW_PROP(ScrollBars, GetScrollBars, SetScrollBars)
  FW_DEFAULT(ssBoth)
  FW_PROP(ScrollBarStyle, ScrollBarStyle, ScrollBarStyle)
  FW_DEFAULT(sbmRegular)
  FW_PROP(VerticalIncrement, VerticalIncrement, VerticalIncrement)
  FW_DEFAULT(20)
FW_END_CLASS

FW_BEGIN_CLASS(TVTColors)
  FW_PROP(BorderColor, Get<7>, Set<7>)
  FW_PROP(DisabledColor, Get<0>, Set<0>)
  FW_PROP(DropMarkColor, Get<1>, Set<1>)
  FW_PROP(DropTargetColor, Get<2>, Set<2>)
  FW_PROP(DropTargetBorderColor, Get<11>, Set<11>)
  FW_PROP(FocusedSelectionColor, Get<3>, Set<3>)
  FW_PROP(FocusedSelectionBorderColor, Get<9>, Set<9>)
  FW_PROP(GridLineColor, Get<4>, Set<4>)
  FW_PROP(HotColor, Get<8>, Set<8>)
  FW_PROP(SelectionRectangleBlendColor, Get<12>, Set<12>)
  FW_PROP(SelectionRectangleBorderColor, Get<13>, Set<13>)
  FW_PROP(TreeLineColor, Get<5>, Set<5>)
  FW_PROP(UnfocusedSelectionColor, Get<6>, Set<6>)
  FW_PROP(UnfocusedSelectionBorderColor, Get<10>, Set<10>)
FW_END_CLASS

const TColor TVTColors::kDefaults[TVTColors::kCount] = {
    clBtnShadow, clHighlight,  clHighlight, clHighlight, clBtnFace,   clBtnShadow, clBtnFace,
    clBtnFace,   clWindowText, clHighlight, clBtnFace,   clHighlight, clHighlight, clHighlight};

TVTColors::TVTColors(TBaseVirtualTree* owner) : owner_(owner) {
  for (int i = 0; i < kCount; ++i) colors_[i] = kDefaults[i];
}

void TVTColors::SetColorAt(int index, TColor color) {
  if (index < 0 || index >= kCount || colors_[index] == color) return;
  colors_[index] = color;
  if (!owner_ || owner_->IsLoading() || !owner_->HandleAllocated()) return;
  owner_->Invalidate();
  if (index == BorderColor)
    RedrawWindow(owner_->WindowHandle(), nullptr, nullptr, RDW_FRAME | RDW_NOCHILDREN | RDW_NOERASE | RDW_INVALIDATE);
}

void TVTColors::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TVTColors*>(source)) {
    for (int i = 0; i < kCount; ++i) colors_[i] = other->colors_[i];
    if (owner_ && owner_->Tree().UpdateCount() == 0 && owner_->HandleAllocated()) owner_->Invalidate();
    return;
  }
  inherited::Assign(source);
}

void TScrollBarOptions::Rebuild() {
  if (!owner_) return;
  owner_->Tree().ScrollBars = int(scrollBars_);
  owner_->Tree().ScrollBarsAlwaysVisible = alwaysVisible_;
  if (!owner_->IsLoading() && owner_->HandleAllocated()) {
    owner_->RecreateWnd();
    owner_->Tree().RefreshScrollBars(true);
  }
}

void TScrollBarOptions::SetAlwaysVisible(bool value) {
  if (value == alwaysVisible_) return;
  alwaysVisible_ = value;
  Rebuild();
}

void TScrollBarOptions::SetScrollBars(TScrollStyle value) {
  if (value == scrollBars_) return;
  scrollBars_ = value;
  Rebuild();
}

TPersistent* TScrollBarOptions::GetOwner() {
  return owner_;
}

void TScrollBarOptions::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TScrollBarOptions*>(source)) {
    SetAlwaysVisible(other->alwaysVisible_);
    HorizontalIncrement = other->HorizontalIncrement;
    SetScrollBars(other->scrollBars_);
    ScrollBarStyle = other->ScrollBarStyle;
    VerticalIncrement = other->VerticalIncrement;
    return;
  }
  inherited::Assign(source);
}

// The key decisions with the header: Ctrl with plus or minus fits the
// header's columns to their content or restores their widths.
class TBaseVirtualTree::Keys : public TVTKeyboardController {
 public:
  explicit Keys(TBaseVirtualTree& tree) : TVTKeyboardController(tree.Tree()), tree_(tree) {}

 protected:
  void FitColumns() override {
    if (TVTHeader* header = tree_.GetHeader()) header->AutoFitColumns();
  }
  void RestoreColumns() override {
    if (TVTHeader* header = tree_.GetHeader()) header->RestoreColumnWidths();
  }

 private:
  TBaseVirtualTree& tree_;
};

// The mouse decisions with the window's focus, repaints and popup menu.
class TBaseVirtualTree::Mouse : public TVTMouseController {
 public:
  explicit Mouse(TBaseVirtualTree& tree) : TVTMouseController(tree.Tree()), tree_(tree) {
    LabelExtent = [this](TVTNode* node) { return tree_.LabelExtentOf(node); };
    DragThresholdX = GetSystemMetrics(SM_CXDRAG);
    DragThresholdY = GetSystemMetrics(SM_CYDRAG);
  }

 protected:
  void TakeFocus() override {
    if (!tree_.Focused() && tree_.CanFocus()) tree_.SetFocus();
  }
  void RepaintRect(const TVTRect& rect) override {
    if (!tree_.HandleAllocated()) return;
    const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
    ::InvalidateRect(tree_.WindowHandle(), &r, FALSE);
  }
  bool PopupApplies(TVTNode* node, int column, int x, int y) override {
    return tree_.PopupApplies(node, column, POINT{x, y});
  }
  void EndWheelPanning() override { tree_.EndWheelPanning(); }
  void UpdatePanningCursor(int x, int y) override { tree_.UpdatePanningCursor(x, y); }
  bool AskDragAllowed(TVTNode* node, int column) override {
    bool allowed = false;
    if (tree_.OnDragAllowed) tree_.OnDragAllowed(&tree_, node, column, allowed);
    return allowed;
  }
  bool Focused() const override { return tree_.Focused(); }
  void ColumnClick(int column) override {
    if (tree_.OnColumnClick) tree_.OnColumnClick(&tree_, column, KeyModifiers());
  }
  void ColumnDblClick(int column) override {
    if (tree_.OnColumnDblClick) tree_.OnColumnDblClick(&tree_, column, KeyModifiers());
  }

 private:
  static std::uint8_t KeyModifiers() {
    std::uint8_t shift = 0;
    if (GetKeyState(VK_SHIFT) < 0) shift |= kKeyShift;
    if (GetKeyState(VK_CONTROL) < 0) shift |= kKeyCtrl;
    if (GetKeyState(VK_MENU) < 0) shift |= kKeyAlt;
    return shift;
  }
  TBaseVirtualTree& tree_;
};

// The incremental search: the event answers, a miss beeps.
class TBaseVirtualTree::Searcher : public TVTIncrementalSearch {
 public:
  explicit Searcher(TBaseVirtualTree& tree) : TVTIncrementalSearch(tree.Tree()), tree_(tree) {}

 protected:
  int FireIncrementalSearch(TVTNode* node, const std::u16string& text) override {
    int result = 0;
    if (tree_.OnIncrementalSearch) tree_.OnIncrementalSearch(&tree_, node, text, result);
    return result;
  }
  void Beep() override { MessageBeep(0); }

 private:
  TBaseVirtualTree& tree_;
};

TBaseVirtualTree::TBaseVirtualTree(TComponent* owner)
    : TBaseVirtualTree(owner, [](TBaseVirtualTree& tree, TVirtualTreeHost* host) -> std::unique_ptr<TVirtualTreeCore> {
        return std::make_unique<Core>(tree, host);
      }) {}

TBaseVirtualTree::TBaseVirtualTree(TComponent* owner, CoreFactory makeCore) : TCustomControl(owner) {
  ControlStyle.Include(csCaptureMouse);
  ControlStyle.Include(csOpaque);
  ControlStyle.Include(csReplicatable);
  ControlStyle.Include(csDisplayDragImage);
  ControlStyle.Include(csReflector);
  ControlStyle.Exclude(csSetCaption);
  SetBounds(GetLeft(), GetTop(), 200, 100);
  SetTabStop(true);
  SetParentColor(false);
  scrollBarOptions_ = New<TScrollBarOptions>(this);
  colors_ = New<TVTColors>(this);
  imageLink_ = New<TChangeLink>();
  stateImageLink_ = New<TChangeLink>();
  customCheckLink_ = New<TChangeLink>();
  for (TChangeLink* link : {imageLink_, stateImageLink_, customCheckLink_})
    link->OnChange = TNotifyEvent::Bind<&TBaseVirtualTree::ImageListChange>(this);
  background_ = New<TPicture>();
  clipboardFormats_ = New<TClipboardFormats>(&ClassType());
  // Last: the core allocates the root and joins the worker thread.
  core_ = makeCore(*this, &host_);
  keys_ = std::make_unique<Keys>(*this);
  mouse_ = std::make_unique<Mouse>(*this);
  search_ = std::make_unique<Searcher>(*this);
  panning_ = std::make_unique<TVTPanningWindow>();
}

TCustomVirtualTreeOptions* TBaseVirtualTree::CreateOptions() {
  return New<TCustomVirtualTreeOptions>(core_.get());
}

void TBaseVirtualTree::AfterConstruction() {
  inherited::AfterConstruction();
  if (!options_) options_ = CreateOptions();
  if (!header_) header_ = CreateHeader();
}

void TBaseVirtualTree::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineProperty(
      "Options",
      [this](TReader& reader) {
        if (options_) ReadLegacyOptions(reader, *options_);
      },
      nullptr, false);
}

TBaseVirtualTree::~TBaseVirtualTree() {
  for (HGDIOBJ object : {HGDIOBJ(dottedBrush_), HGDIOBJ(plusBitmap_), HGDIOBJ(minusBitmap_)}) {
    if (object) DeleteObject(object);
  }
}

void TBaseVirtualTree::Destroy() {
  TVirtualTreeHintWindow::TreeGoing(this);
  FreeAndNil(nodeDragImage_);
  EndWheelPanning();
  if (core_) {
    core_->StopBackgroundValidation();
    core_->CancelEditingIfActive();
  }
  ReleaseTransfer();
  FreeAndNil(header_);
  FreeAndNil(options_);
  FreeAndNil(clipboardFormats_);
  if (core_) {
    try {
      core_->Shutdown();  // clears the nodes and leaves the worker
    } catch (...) {
      // A failing free-node handler: the nodes are gone all the same; destruction goes on.
    }
  }
  FreeAndNil(colors_);
  FreeAndNil(background_);
  // A registered link leaves its list as it goes.
  FreeAndNil(imageLink_);
  FreeAndNil(stateImageLink_);
  FreeAndNil(customCheckLink_);
  FreeAndNil(scrollBarOptions_);
  inherited::Destroy();
}

// --- Image lists and the writers -------------------------------------------------------------------

void TBaseVirtualTree::ImageListChange(TObject*) {
  if (!IsDestroying()) Invalidate();
}

void TBaseVirtualTree::LinkImages(TCustomImageList*& field, TChangeLink* link, TCustomImageList* list) {
  if (field) {
    field->UnRegisterChanges(link);
    field->RemoveFreeNotification(this);
  }
  field = list;
  if (list) {
    list->RegisterChanges(link);
    list->FreeNotification(this);
  }
}

TCustomImageList* TBaseVirtualTree::CheckImages() const {
  if (CheckImageKind >= 0 && CheckImageKind <= 5) return TreeImageList(CheckImageKind);
  return customCheckImages_;
}

void TBaseVirtualTree::SetCheckImageKind(int kind) {
  if (kind == CheckImageKind) return;
  CheckImageKind = kind;
  if (HandleAllocated() && core_->UpdateCount() == 0 && !IsLoading()) InvalidateRect(WindowHandle(), nullptr, FALSE);
}

void TBaseVirtualTree::SetImages(TCustomImageList* list) {
  if (list == images_) return;
  LinkImages(images_, imageLink_, list);
  if (!IsLoading()) Invalidate();
}

void TBaseVirtualTree::SetStateImages(TCustomImageList* list) {
  if (list == stateImages_) return;
  LinkImages(stateImages_, stateImageLink_, list);
  if (HandleAllocated() && !IsLoading()) Invalidate();
}

void TBaseVirtualTree::SetCustomCheckImages(TCustomImageList* list) {
  if (list == customCheckImages_) return;
  LinkImages(customCheckImages_, customCheckLink_, list);
  if (HandleAllocated() && !IsLoading()) Invalidate();
}

void TBaseVirtualTree::SetMargin(int margin) {
  if (margin == Margin) return;
  Margin = margin;
  core_->Margin = margin;
  if (HandleAllocated() && !IsLoading()) Invalidate();
}

void TBaseVirtualTree::SetSelectionCornerRadius(int radius) {
  if (radius == selectionCornerRadius_) return;
  selectionCornerRadius_ = radius;
  if (HandleAllocated() && !IsLoading()) Invalidate();
}

void TBaseVirtualTree::SetNodeAlignment(int mode) {
  if (mode == NodeAlignment) return;
  NodeAlignment = mode;
  if (HandleAllocated() && !ComponentState().Contains(csReading)) Invalidate();
}

void TBaseVirtualTree::SetBorderStyle(TBorderStyle style) {
  if (style == borderStyle_) return;
  borderStyle_ = style;
  RecreateWnd();
}

void TBaseVirtualTree::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  switch (scrollBarOptions_ ? scrollBarOptions_->GetScrollBars() : ssBoth) {
    case ssHorizontal:
      params.Style |= WS_HSCROLL;
      break;
    case ssVertical:
      params.Style |= WS_VSCROLL;
      break;
    case ssBoth:
      params.Style |= WS_HSCROLL | WS_VSCROLL;
      break;
    default:
      break;
  }
  if (core_->OptionBits.Misc & voFullRepaintOnResize)
    params.WindowClass.style |= CS_HREDRAW | CS_VREDRAW;
  else
    params.WindowClass.style &= ~UINT(CS_HREDRAW | CS_VREDRAW);
  if (borderStyle_ != bsSingle) {
    params.Style &= ~DWORD(WS_BORDER);
  } else if (GetCtl3D()) {
    params.Style &= ~DWORD(WS_BORDER);
    params.ExStyle |= WS_EX_CLIENTEDGE;
  } else {
    params.Style |= WS_BORDER;
  }
  if (GetBiDiMode() != bdLeftToRight) params.ExStyle |= WS_EX_LAYOUTRTL | WS_EX_LEFTSCROLLBAR | WS_EX_RTLREADING;
}

void TBaseVirtualTree::CreateWnd() {
  core_->SetTreeState(tsWindowCreating, true);
  try {
    inherited::CreateWnd();
  } catch (...) {
    core_->SetTreeState(tsWindowCreating, false);
    throw;
  }
  core_->SetTreeState(tsWindowCreating, false);
  OpenThemes();
  RebuildPaintResources(true, true);
  if (!ComponentState().Contains(csDesigning) && (core_->OptionBits.Misc & voAcceptOLEDrop)) RegisterDropTarget(true);
  core_->RefreshScrollBars(false);
}

void TBaseVirtualTree::RegisterDropTarget(bool on) {
  if (!HandleAllocated() || on == dropTargetRegistered_) return;
  if (!on) {
    RevokeDragDrop(WindowHandle());
    dropTargetRegistered_ = false;
    AttachDropTargetWindow(nullptr);
    return;
  }
  if (ComponentState().Contains(csDesigning)) return;
  if (IDropTarget* target = ObtainDropTarget()) {
    // OLE hands the drag's points over in screen coordinates: the handler
    // takes them to this window's client.
    AttachDropTargetWindow(WindowHandle());
    dropTargetRegistered_ = RegisterDragDrop(WindowHandle(), target) == S_OK;
  }
}

void TBaseVirtualTree::CloseThemes() {
  if (header_) header_->GetColumns()->CloseHeaderTheme();
  if (treeTheme_) Themes::CloseThemeData(treeTheme_);
  if (buttonTheme_) Themes::CloseThemeData(buttonTheme_);
  treeTheme_ = buttonTheme_ = nullptr;
}

void TBaseVirtualTree::OpenThemes() {
  CloseThemes();
  const bool themed = UseThemes() && (core_->OptionBits.Paint & voPaintThemed);
  core_->SetTreeState(tsUseThemes, themed);
  if (themed && HandleAllocated()) {
    treeTheme_ = Themes::OpenThemeData(WindowHandle(), L"treeview");
    buttonTheme_ = Themes::OpenThemeData(WindowHandle(), L"button");
  }
  if (header_ && HandleAllocated()) header_->GetColumns()->OpenHeaderTheme(WindowHandle());
}

void TBaseVirtualTree::SetBackgroundPicture(TPicture* picture) {
  background_->Assign(picture);
  if (HandleAllocated() && !IsLoading()) Invalidate();
}

void TBaseVirtualTree::LockWindowRedraw(bool lock) {
  if (GetVisible() && HandleAllocated()) SendMessageA(WindowHandle(), WM_SETREDRAW, lock ? 0 : 1, 0);
}

void TBaseVirtualTree::KillTreeTimer(int id) {
  if (HandleAllocated()) KillTimer(WindowHandle(), UINT_PTR(id));
}

bool TBaseVirtualTree::PopupApplies(TVTNode* node, int column, POINT point) {
  if (PopupMenu) return true;
  if (!OnGetPopupMenu) return false;
  bool askParent = true;
  TComponent* menu = nullptr;
  OnGetPopupMenu(this, node, column, point, askParent, menu);
  return menu != nullptr;
}

RECT TBaseVirtualTree::ComputeHeaderArea() const {
  RECT r{0, 0, 0, 0};
  if (!HeaderVisible()) return r;
  r = RECT{0, 0, GetWidth(), GetHeight()};
  if (HandleAllocated()) {
    RECT w;
    GetWindowRect(WindowHandle(), &w);
    r = RECT{0, 0, w.right - w.left, w.bottom - w.top};
    const LONG style = GetWindowLongA(WindowHandle(), GWL_STYLE);
    const LONG exStyle = GetWindowLongA(WindowHandle(), GWL_EXSTYLE);
    int frame = 0;
    if (style & WS_BORDER) frame += 1;
    if (style & WS_THICKFRAME) frame += 3;
    if (exStyle & WS_EX_CLIENTEDGE) frame += 2;
    InflateRect(&r, -frame, -frame);
  }
  InflateRect(&r, -GetBorderWidth(), -GetBorderWidth());
  if (BevelKind != bkNone) {
    const int bevel = (BevelInner != bvNone ? BevelWidth : 0) + (BevelOuter != bvNone ? BevelWidth : 0);
    if (BevelEdges.Contains(beLeft)) r.left += bevel;
    if (BevelEdges.Contains(beTop)) r.top += bevel;
    if (BevelEdges.Contains(beRight)) r.right -= bevel;
  }
  r.bottom = r.top + HeaderHeight();
  return r;
}

void TBaseVirtualTree::SetBiDiMode(TBiDiMode mode) {
  inherited::SetBiDiMode(mode);
  if (HandleAllocated()) RecreateWnd();
}

void TBaseVirtualTree::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != opRemove) return;
  bool forgot = false;
  if (component == images_) {
    images_->UnRegisterChanges(imageLink_);
    images_ = nullptr;
    forgot = true;
  }
  if (component == stateImages_) {
    stateImages_->UnRegisterChanges(stateImageLink_);
    stateImages_ = nullptr;
    forgot = true;
  }
  if (component == customCheckImages_) {
    customCheckImages_->UnRegisterChanges(customCheckLink_);
    customCheckImages_ = nullptr;
    forgot = true;
  }
  if (component == PopupMenu) PopupMenu = nullptr;
  // The header's images and popup menu are forgotten by the header.
  if (header_) header_->ComponentRemoved(component);
  if (forgot && !IsDestroying()) Invalidate();
}

void TBaseVirtualTree::WndProc(TMessage& msg) {
  if (HeaderHandlesMessage(msg, true)) return;
  const bool designing = ComponentState().Contains(csDesigning);
  // The tree starts automatic drags itself in its mouse handling: a left
  // press with automatic drag mode skips the framework's automatic start.
  if (!designing && (msg.Msg == WM_LBUTTONDOWN || msg.Msg == WM_LBUTTONDBLCLK) && GetDragMode() == dmAutomatic &&
      GetDragKind() == dkDrag) {
    if (!HeaderHandlesMessage(msg, false)) Dispatch(msg);
    return;
  }
  if (!HeaderHandlesMessage(msg, false)) {
    if (!designing && (msg.Msg == WM_NCLBUTTONDOWN || msg.Msg == WM_NCRBUTTONDOWN || msg.Msg == WM_NCMBUTTONDOWN)) {
      if (!Focused() && CanFocus()) SetFocus();
    }
    inherited::WndProc(msg);
  }
}

bool TBaseVirtualTree::ExecuteAction(TBasicAction* action) {
  return inherited::ExecuteAction(action) || core_->ExecuteEditAction(action);
}

bool TBaseVirtualTree::UpdateAction(TBasicAction* action) {
  return inherited::UpdateAction(action) || core_->UpdateEditAction(action);
}

void TBaseVirtualTree::Loaded() {
  inherited::Loaded();
  core_->ApplyLoadedRootCount();
  if (header_) {
    header_->GetColumns()->RebuildPositionIndex();
    header_->RecalculateFrame();
    if (header_->HasOption(kHeaderAutoResize)) header_->GetColumns()->FitAutoSizeColumn(-2, true);
  }
}

void TBaseVirtualTree::SetIndent(int indent) {
  if (indent == indent_) return;
  indent_ = indent;
  core_->Indent = indent;
  if (!IsLoading() && core_->UpdateCount() == 0 && HandleAllocated()) {
    core_->RefreshScrollBars(true);
    Invalidate();
  }
}

unsigned TBaseVirtualTree::GetAutoScrollDelay() const {
  return core_->AutoScrollDelay;
}

void TBaseVirtualTree::SetAutoScrollDelay(unsigned ms) {
  core_->AutoScrollDelay = ms;
}

unsigned TBaseVirtualTree::GetAutoScrollInterval() const {
  return core_->AutoScrollInterval;
}

void TBaseVirtualTree::SetAutoScrollInterval(unsigned ms) {
  core_->AutoScrollInterval = ms;
}

unsigned TBaseVirtualTree::GetEditDelay() const {
  return mouse_->EditDelay;
}

void TBaseVirtualTree::SetEditDelay(unsigned ms) {
  mouse_->EditDelay = ms;
}

unsigned TBaseVirtualTree::GetAnimationDuration() const {
  return core_->AnimationDuration;
}

void TBaseVirtualTree::SetAnimationDuration(unsigned ms) {
  core_->AnimationDuration = ms;
}

void TBaseVirtualTree::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TBaseVirtualTree*>(source);
  if (!other) {
    inherited::Assign(source);
    return;
  }
  SetAlign(other->GetAlign());
  SetAnchors(other->GetAnchors());
  SetAutoExpandDelay(other->GetAutoExpandDelay());
  SetAutoScrollDelay(other->GetAutoScrollDelay());
  SetAutoScrollInterval(other->GetAutoScrollInterval());
  SetEditDelay(other->GetEditDelay());
  SetAnimationDuration(other->GetAnimationDuration());
  SetAutoSize(other->GetAutoSize());
  SetBackgroundPicture(other->GetBackgroundPicture());
  BevelEdges = other->BevelEdges;
  BevelInner = other->BevelInner;
  BevelKind = other->BevelKind;
  BevelOuter = other->BevelOuter;
  BevelWidth = other->BevelWidth;
  if (!other->GetParentBiDiMode()) SetBiDiMode(other->GetBiDiMode());
  SetBorderStyle(other->GetBorderStyle());
  SetBorderWidth(other->GetBorderWidth());
  core_->SetChangeDelay(other->core_->ChangeDelay());
  SetCheckImageKind(other->GetCheckImageKind());
  SetColor(other->GetColor());
  colors_->Assign(other->colors_);
  SetConstraints(other->GetConstraints());
  if (!other->GetParentCtl3D()) SetCtl3D(other->GetCtl3D());
  SetDefaultNodeHeight(other->GetDefaultNodeHeight());
  ClipboardPasteMode = other->ClipboardPasteMode;
  SetDragCursor(other->GetDragCursor());
  DragImageKind = other->DragImageKind;
  SetDragKind(other->GetDragKind());
  SetDragMode(other->GetDragMode());
  SetEnabled(other->GetEnabled());
  SetFont(other->GetFont());
  HotCursor = other->HotCursor;
  SetImages(other->GetImages());
  SetIndent(other->GetIndent());
  SetMargin(other->GetMargin());
  SetNodeAlignment(other->GetNodeAlignment());
  core_->SetNodeDataSize(other->core_->NodeDataSize());
  if (options_ && other->options_) options_->Assign(other->options_);
  SetParentBiDiMode(other->GetParentBiDiMode());
  SetParentColor(other->GetParentColor());
  SetParentCtl3D(other->GetParentCtl3D());
  SetParentFont(other->GetParentFont());
  SetParentShowHint(other->GetParentShowHint());
  PopupMenu = other->PopupMenu;
  SetRootNodeCount(other->GetRootNodeCount());
  scrollBarOptions_->Assign(other->scrollBarOptions_);
  SetShowHint(other->GetShowHint());
  SetStateImages(other->GetStateImages());
  SetTabOrder(other->GetTabOrder());
  SetTabStop(other->GetTabStop());
  SetVisible(other->GetVisible());
  SetSelectionCornerRadius(other->GetSelectionCornerRadius());
}

// --- The host: scroll bars and repaints ------------------------------------------------------------

int TBaseVirtualTree::Host::ClientWidth() const {
  if (!tree_.HandleAllocated()) return tree_.ClientRect().right;
  RECT r;
  GetClientRect(tree_.WindowHandle(), &r);
  return r.right - r.left;
}

int TBaseVirtualTree::Host::ClientHeight() const {
  if (!tree_.HandleAllocated()) return tree_.ClientRect().bottom;
  RECT r;
  GetClientRect(tree_.WindowHandle(), &r);
  return r.bottom - r.top;
}

int TBaseVirtualTree::Host::SetScrollBar(bool horizontal, bool show, const TVTScrollBarInfo& info, bool redraw) {
  if (!tree_.HandleAllocated()) return show ? info.Position : 0;
  HWND window = tree_.WindowHandle();
  const int bar = horizontal ? SB_HORZ : SB_VERT;
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;  // 0x17
  GetScrollInfo(window, bar, &si);
  if (!show) {
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;
    si.nMin = si.nMax = 0;
    si.nPage = 0;
    si.nPos = 0;
    SetScrollInfo(window, bar, &si, FALSE);
    ShowScrollBar(window, bar, FALSE);
    return 0;
  }
  ShowScrollBar(window, bar, TRUE);
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS | (info.DisableNoScroll ? SIF_DISABLENOSCROLL : 0);
  si.nMin = info.Min;
  si.nMax = info.Max;
  si.nPage = UINT(info.Page);
  si.nPos = info.Position;
  SetScrollInfo(window, bar, &si, redraw ? TRUE : FALSE);
  si.fMask = SIF_POS;
  GetScrollInfo(window, bar, &si);
  return si.nPos;
}

void TBaseVirtualTree::Host::InvalidateRect(const TVTRect& rect) {
  if (!tree_.HandleAllocated() || tree_.IsDestroying()) return;
  const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  ::InvalidateRect(tree_.WindowHandle(), &r, FALSE);
}

void TBaseVirtualTree::Host::RedrawRect(const TVTRect& rect) {
  if (!tree_.HandleAllocated() || tree_.IsDestroying()) return;
  const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  RedrawWindow(tree_.WindowHandle(), &r, nullptr, 0x169);
}

void TBaseVirtualTree::Host::UpdateWindow() {
  if (tree_.HandleAllocated()) ::UpdateWindow(tree_.WindowHandle());
}

// Moves the rows below `top` in steps over the duration, each step one
// ScrollDC of the client area beneath the toggled row.
void TBaseVirtualTree::Host::AnimateToggle(int top, int pixels, bool expanding, unsigned duration) {
  if (!tree_.HandleAllocated() || pixels <= 0) return;
  HWND window = tree_.WindowHandle();
  RECT client;
  GetClientRect(window, &client);
  RECT area{client.left, top, client.right, client.bottom};
  if (IsRectEmpty(&area)) return;
  const int steps = std::max(1, std::min(pixels, 16));
  const DWORD pause = steps > 0 ? DWORD(duration / unsigned(steps)) : 0;
  HDC dc = GetDC(window);
  if (!dc) return;
  int moved = 0;
  for (int i = 1; i <= steps; ++i) {
    const int target = pixels * i / steps;
    const int dy = target - moved;
    moved = target;
    tree_.ToggleAnimationStep(dc, area, expanding, dy);
    if (pause) Sleep(pause);
  }
  ReleaseDC(window, dc);
}

bool TBaseVirtualTree::Host::CursorPos(int& x, int& y) const {
  POINT p;
  if (!tree_.HandleAllocated() || !GetCursorPos(&p) || !::ScreenToClient(tree_.WindowHandle(), &p)) return false;
  x = p.x;
  y = p.y;
  return true;
}

int TBaseVirtualTree::Host::ScrollIncrement(bool horizontal) const {
  const TScrollBarOptions* options = tree_.ScrollBarOptions();
  if (!options) return 20;
  return horizontal ? options->HorizontalIncrement : options->VerticalIncrement;
}

bool TBaseVirtualTree::Host::SetClipboard(bool empty) {
  if (empty) return OleSetClipboard(nullptr) == S_OK;
  IDataObject* data = tree_.CreateClipboardDataObject();
  if (!data) return false;
  const HRESULT result = OleSetClipboard(data);
  data->Release();
  return result == S_OK;
}

TImageList* TBaseVirtualTree::LightCheckImages() {
  return ::LightCheckImages;
}

namespace {
std::uint8_t KeyModifiers() {
  std::uint8_t shift = 0;
  if (GetKeyState(VK_SHIFT) < 0) shift |= kKeyShift;
  if (GetKeyState(VK_CONTROL) < 0) shift |= kKeyCtrl;
  if (GetKeyState(VK_MENU) < 0) shift |= kKeyAlt;
  return shift;
}
constexpr int kHeaderTimer = 3;
// Posted by the tree to itself when an edit ends or is cancelled.
constexpr UINT kReleaseEditLinkMessage = 0x801F;

std::uint8_t MouseShift(WPARAM keys) {
  std::uint8_t shift = 0;
  if (keys & MK_SHIFT) shift |= kKeyShift;
  if (keys & MK_CONTROL) shift |= kKeyCtrl;
  return shift;
}

void RedrawFrame(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOERASE | RDW_NOCHILDREN);
}
}  // namespace

TVTHitInfo TBaseVirtualTree::HitAt(LPARAM point) {
  return core_->HitTestPoint(short(LOWORD(point)), short(HIWORD(point)), true);
}

TVTLabelExtent TBaseVirtualTree::LabelExtentOf(TVTNode* node) {
  TVirtualTreeCore& t = *core_;
  const int showRoot = (t.OptionBits.Paint & voShowRoot) ? 1 : 0;
  int left = Margin + (t.NodeLevel(node) + showRoot) * t.Indent;
  bool ghosted = false;
  if ((t.OptionBits.Misc & voCheckSupport) && node->CheckType != ctNone)
    if (TCustomImageList* checks = CheckImages()) left += checks->GetWidth() + 2;
  if (stateImages_ && QueryImageIndex(node, 2, NoColumn, ghosted) >= 0) left += stateImages_->GetWidth() + 2;
  if (images_ && QueryImageIndex(node, (node->States & vsSelected) ? 1 : 0, NoColumn, ghosted) >= 0)
    left += images_->GetWidth() + 2;
  const int cell = std::max(host_.ClientWidth(), t.RangeX());
  const int right = left + MeasureNodeWidth(node, NoColumn);
  // A label wider than the cell takes the whole cell.
  if (right > cell) return {0, cell};
  return {left, right};
}

// The mouse buttons: the button-down bits follow the physical buttons, the
// press and release go to the mouse decisions after a hit test. Right and
// middle presses select only with their selection options.
bool TBaseVirtualTree::MouseMessage(TMessage& msg) {
  TVirtualTreeCore& t = *core_;
  const int x = short(LOWORD(msg.LParam)), y = short(HIWORD(msg.LParam));
  const std::uint8_t shift = MouseShift(msg.WParam);
  const std::uint16_t selection = t.OptionBits.Selection;
  switch (msg.Msg) {
    case WM_LBUTTONDOWN:
      t.SetTreeState(tsLeftButtonDown, true);
      t.DragType = DragType;
      mouse_->AutomaticDrag = GetDragMode() == dmAutomatic && GetDragKind() == dkDrag;
      inherited::Dispatch(msg);
      SetMouseCapture(true);
      mouse_->ButtonDown(kMouseLeft, HitAt(msg.LParam), x, y, shift);
      return true;
    case WM_LBUTTONUP:
      t.SetTreeState(tsLeftButtonDown, false);
      SetMouseCapture(false);
      mouse_->ButtonUp(kMouseLeft, HitAt(msg.LParam));
      inherited::Dispatch(msg);
      return true;
    case WM_LBUTTONDBLCLK:
      inherited::Dispatch(msg);
      mouse_->DoubleClick(kMouseLeft, HitAt(msg.LParam));
      return true;
    case WM_RBUTTONDOWN:
      t.SetTreeState(tsRightButtonDown, true);
      if (HeaderBusy()) return true;
      inherited::Dispatch(msg);
      if (selection & voRightClickSelect) mouse_->ButtonDown(kMouseRight, HitAt(msg.LParam), x, y, shift);
      return true;
    case WM_RBUTTONUP:
      t.SetTreeState(tsRightButtonDown, false);
      if (HeaderBusy()) return true;
      if (Application) Application->CancelHint();
      if (PopupMenu && mouse_->BandShown()) {
        t.SetTreeState(tsDrawSelPending, false);
        t.SetTreeState(tsDrawSelecting, false);
        Invalidate();
      }
      inherited::Dispatch(msg);
      if (selection & voRightClickSelect) mouse_->ButtonUp(kMouseRight, HitAt(msg.LParam));
      return true;
    case WM_RBUTTONDBLCLK:
      inherited::Dispatch(msg);
      if (selection & voRightClickSelect) mouse_->DoubleClick(kMouseRight, HitAt(msg.LParam));
      return true;
    case WM_MBUTTONDOWN: {
      t.SetTreeState(tsMiddleButtonDown, true);
      if (HeaderBusy()) return true;
      inherited::Dispatch(msg);
      const bool panning = t.HasTreeState(tsWheelPanning) || t.HasTreeState(tsWheelScrolling);
      const bool canScroll = host_.ClientWidth() < t.RangeX() || host_.ClientHeight() < t.RangeY();
      if ((t.OptionBits.Misc & voWheelPanning) && !panning && canScroll) {
        BeginWheelPanning(POINT{x, y});
        return true;
      }
      EndWheelPanning();
      if (selection & voMiddleClickSelect) mouse_->ButtonDown(kMouseMiddle, HitAt(msg.LParam), x, y, shift);
      return true;
    }
    case WM_MBUTTONUP:
      t.SetTreeState(tsMiddleButtonDown, false);
      if (t.HasTreeState(tsWheelPanning) || t.HasTreeState(tsWheelScrolling)) {
        // A pan that moved goes on until the next press; one that did not ends here.
        if (t.HasTreeState(tsWheelScrolling))
          t.SetTreeState(tsWheelPanning, false);
        else
          EndWheelPanning();
        return true;
      }
      if (HeaderBusy()) return true;
      inherited::Dispatch(msg);
      if (selection & voMiddleClickSelect) mouse_->ButtonUp(kMouseMiddle, HitAt(msg.LParam));
      return true;
    case WM_MBUTTONDBLCLK:
      inherited::Dispatch(msg);
      if (selection & voMiddleClickSelect) mouse_->DoubleClick(kMouseMiddle, HitAt(msg.LParam));
      return true;
    case WM_MOUSEMOVE:
      if (t.CanAutoScroll()) t.UpdateAutoScroll(x, y);
      mouse_->Move(HitAt(msg.LParam), x, y);
      inherited::Dispatch(msg);
      return true;
    case WM_CAPTURECHANGED:
      // Another window took the mouse: a band in progress ends where it is.
      if (reinterpret_cast<HWND>(msg.LParam) != WindowHandle() && mouse_->BandShown())
        mouse_->ButtonUp(kMouseLeft, TVTHitInfo{});
      inherited::Dispatch(msg);
      return true;
    default:
      return false;
  }
}

std::u16string TBaseVirtualTree::GetNodeHint(TVTNode* node, int column, bool /*text*/) {
  std::u16string hint;
  if (OnGetHint) OnGetHint(this, node, column, hint);
  return hint;
}

void TBaseVirtualTree::HintShow(TMessage& msg) {
  auto* info = reinterpret_cast<THintInfo*>(msg.LParam);
  if (!info) {
    inherited::Dispatch(msg);
    return;
  }
  if (HeaderHintShow(msg, *info)) return;
  TVTHintQuestion question;
  question.FocusNearby = GetFocus() != nullptr || core_->HasTreeState(tsEditing);
  question.MouseCaptured = GetCapture() != nullptr;
  question.ShowHint = GetShowHint();
  question.HeaderBusy = HeaderBusy();
  question.HintMode = HintMode;
  question.Hit = core_->HitTestPoint(info->CursorPos.x, info->CursorPos.y, true);
  TVTNode* node = question.Hit.HitNode;
  const int column = question.Hit.HitColumn;
  if (HintMode == 3 && node) {
    const TVTRect text = core_->ComputeNodeCellRect(node, column, true, true);
    const TVTRect cell = core_->ComputeNodeCellRect(node, column, false, false);
    question.TextTruncated = text.Left < cell.Left || text.Right > cell.Right;
  }
  const TVTHintShow show = DecideHint(*core_, question);
  if (show == TVTHintShow::Refused) {
    msg.Result = 1;
    return;
  }
  // The node's hint travels in full in the hint data; the hint string only
  // tells the application that there is one.
  std::u16string nodeHint;
  if (show != TVTHintShow::ControlHint) {
    nodeHint = GetNodeHint(node, column, show == TVTHintShow::NodeText);
    info->HintStr = WideToAnsi(nodeHint);
  }
  hintData_ = TVTHintData{this, node, column, nodeHint};
  info->HintData = &hintData_;
  info->HintWindowClass = &TVirtualTreeHintWindow::StaticClass();
  if (show == TVTHintShow::NodeText && node) {
    // The full text goes where the cell shows it.
    const TVTRect text = core_->ComputeNodeCellRect(node, column, true, true);
    POINT at{text.Left, text.Top};
    ::ClientToScreen(WindowHandle(), &at);
    info->HintPos = at;
  }
  if (info->HintStr.empty()) {
    core_->SetTreeState(tsHint, false);
    core_->SetTreeState(tsHintPreparing, false);
  }
  msg.Result = 0;
}

void TBaseVirtualTree::DoEndDrag(TObject* target, int x, int y) {
  const bool cancelled = !target && !core_->HasTreeState(tsOLEDragging);
  core_->SetTreeState(tsFrameworkDragging, false);
  core_->SetTreeState(tsFrameworkDragOver, false);
  inherited::DoEndDrag(target, x, y);
  // A framework drag that dropped nowhere ended without a button release here.
  if (cancelled) SimulateMouseButtonUp();
}

// CM_DRAG while a framework drag is over the tree: the drop target follows
// the mouse and is repainted; the framework's handling asks the drag-over
// and drag-drop events.
void TBaseVirtualTree::FrameworkDrag(TMessage& msg) {
  auto* rec = reinterpret_cast<TDragRec*>(msg.LParam);
  if (!rec || rec->Docking) {
    inherited::Dispatch(msg);
    return;
  }
  TVirtualTreeCore& t = *core_;
  TVTNode* old = t.DropTargetNode;
  switch (msg.WParam) {
    case dmDragEnter:
    case dmDragLeave:
    case dmDragMove: {
      t.SetTreeState(tsFrameworkDragOver, msg.WParam != dmDragLeave);
      inherited::Dispatch(msg);
      TVTNode* target = nullptr;
      if (msg.WParam != dmDragLeave) {
        const POINT p = ScreenToClient(rec->Pos);
        target = t.HitTestPoint(p.x, p.y, true).HitNode;
      }
      if (target != old) {
        if (old) t.InvalidateNodeArea(old);
        t.DropTargetNode = target;
        if (target) t.InvalidateNodeArea(target);
      }
      return;
    }
    case dmDragDrop:
    case dmDragCancel:
      inherited::Dispatch(msg);
      t.SetTreeState(tsFrameworkDragOver, false);
      t.DropTargetNode = nullptr;
      if (old) t.InvalidateNodeArea(old);
      return;
    case dmFindTarget:
      inherited::Dispatch(msg);
      if (t.HasTreeState(tsFrameworkDragging)) {
        t.SetTreeState(tsFrameworkDragging, false);
        t.SetTreeState(tsFrameworkDragOver, true);
      }
      return;
    default:
      inherited::Dispatch(msg);
      return;
  }
}

void TBaseVirtualTree::SetTreeCursor(TMessage& msg) {
  const bool own = reinterpret_cast<HWND>(msg.WParam) == WindowHandle();
  if (own && !ComponentState().Contains(csDesigning) && LOWORD(msg.LParam) == HTCLIENT && !ForcedCursor()) {
    if (core_->HasTreeState(tsWheelPanning) || core_->HasTreeState(tsWheelScrolling)) {
      if (panningCursor_) ::SetCursor(panningCursor_);
      msg.Result = 1;
      return;
    }
    TCursor cursor = ((core_->OptionBits.Paint & voHotTrack) && core_->HotNode()) ? HotCursor : GetCursor();
    if (OnGetCursor) OnGetCursor(this, cursor);
    ::SetCursor(ScreenCursorHandle(cursor == crDefault ? crArrow : cursor));
    msg.Result = 1;
    return;
  }
  inherited::Dispatch(msg);
}

void TBaseVirtualTree::NonClientPaint(TMessage& msg) {
  inherited::Dispatch(msg);
  HWND window = WindowHandle();
  HDC dc = nullptr;
  if (IsWinNT && msg.WParam > 1) {
    // The system keeps its update region: the DC gets a copy.
    HRGN copy = CreateRectRgn(0, 0, 0, 0);
    if (copy && CombineRgn(copy, reinterpret_cast<HRGN>(msg.WParam), nullptr, RGN_COPY) != ERROR)
      dc = GetDCEx(window, copy, DCX_CACHE | DCX_CLIPSIBLINGS | DCX_WINDOW | DCX_INTERSECTRGN);
    if (!dc && copy) DeleteObject(copy);
  }
  if (!dc) dc = GetWindowDC(window);
  if (dc) {
    PaintHeaderInWindow(dc);
    PaintBorder(dc);
    ReleaseDC(window, dc);
  }
  msg.Result = 0;
}

void TBaseVirtualTree::PaintBorder(HDC dc) {
  HWND window = WindowHandle();
  RECT bounds;
  GetWindowRect(window, &bounds);
  RECT r{0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top};
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
  if (exStyle & WS_EX_CLIENTEDGE) {
    if (core_->HasTreeState(tsUseThemes) && treeTheme_) {
      const int saved = SaveDC(dc);
      ExcludeClipRect(dc, r.left + 2, r.top + 2, r.right - 2, r.bottom - 2);
      Themes::DrawThemeBackground(treeTheme_, dc, 0, 0, &r, nullptr);
      RestoreDC(dc, saved);
    }
    InflateRect(&r, -2, -2);
  }
  const int borderWidth = GetBorderWidth();
  if (BevelKind == bkNone && borderWidth == 0) return;
  if (style & WS_BORDER) InflateRect(&r, -1, -1);
  if (style & WS_THICKFRAME) InflateRect(&r, -3, -3);
  if (BevelKind != bkNone) {
    auto edgeOf = [](TBevelCut cut, UINT lowered, UINT raised) {
      return cut == bvLowered ? lowered : cut == bvRaised ? raised : 0u;
    };
    const UINT edge =
        edgeOf(BevelInner, BDR_SUNKENINNER, BDR_RAISEDINNER) | edgeOf(BevelOuter, BDR_SUNKENOUTER, BDR_RAISEDOUTER);
    UINT sides = (BevelEdges.Contains(beLeft) ? BF_LEFT : 0u) | (BevelEdges.Contains(beTop) ? BF_TOP : 0u) |
                 (BevelEdges.Contains(beRight) ? BF_RIGHT : 0u) | (BevelEdges.Contains(beBottom) ? BF_BOTTOM : 0u);
    if (BevelKind == bkSoft) sides |= BF_SOFT;
    if (BevelKind == bkFlat) sides |= BF_FLAT;
    if (edge && (sides & BF_RECT)) {
      RECT edgeRect = r;
      DrawEdge(dc, &edgeRect, edge, sides);
    }
    const int bevel = (BevelInner != bvNone ? BevelWidth : 0) + (BevelOuter != bvNone ? BevelWidth : 0);
    if (BevelEdges.Contains(beLeft)) r.left += bevel;
    if (BevelEdges.Contains(beTop)) r.top += bevel;
    if (BevelEdges.Contains(beRight)) r.right -= bevel;
    if (BevelEdges.Contains(beBottom)) r.bottom -= bevel;
  }
  if (borderWidth > 0 && r.right > r.left && r.bottom > r.top) {
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    ExcludeClipRect(dc, r.left + borderWidth, r.top + borderWidth, r.right - borderWidth, r.bottom - borderWidth);
    HBRUSH brush = CreateSolidBrush(ColorToRGB(colors_->Get<TVTColors::BorderColor>()));
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    RestoreDC(dc, saved);
  }
}

void TBaseVirtualTree::ClearPendingStates(bool withBand) {
  for (int id : {1, 2, 3, kScrollTimer, kIncrementalSearchTimer}) KillTreeTimer(id);
  for (int bit : std::initializer_list<int>{tsEditPending, tsOLEDragPending, tsFrameworkDragging})
    core_->SetTreeState(bit, false);
  if (withBand) core_->SetTreeState(2, false);
}

void TBaseVirtualTree::ScrollMessage(TMessage& msg, bool vertical) {
  const int code = LOWORD(msg.WParam);
  HWND window = WindowHandle();
  msg.Result = 0;
  if (code == SB_ENDSCROLL) {
    core_->SetTreeState(tsThumbTracking, false);
    if (vertical) {
      core_->RefreshVertScrollBar(false);
      RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOERASE | RDW_NOCHILDREN);
    } else {
      core_->RefreshHorzScrollBar(false);
    }
    return;
  }
  int track = 0;
  if (code == SB_THUMBPOSITION || code == SB_THUMBTRACK) {
    core_->SetTreeState(tsThumbTracking, true);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_TRACKPOS;
    GetScrollInfo(window, vertical ? SB_VERT : SB_HORZ, &si);
    track = si.nTrackPos;
  }
  const int increment = scrollBarOptions_
                            ? (vertical ? scrollBarOptions_->VerticalIncrement : scrollBarOptions_->HorizontalIncrement)
                            : 20;
  const int page = vertical ? host_.ClientHeight() : host_.ClientWidth();
  const int size = vertical ? int(core_->TotalHeight()) : core_->RangeX();
  const std::optional<int> offset =
      ScrollCodeOffset(code, vertical ? core_->OffsetY() : core_->OffsetX(), increment, page, size, track);
  if (!offset) return;
  if (vertical)
    core_->SetOffsetY(*offset);
  else
    core_->SetOffsetX(*offset);
}

void TBaseVirtualTree::MouseWheel(TMessage& msg) {
  const int delta = short(HIWORD(msg.WParam));
  const bool ctrl = LOWORD(msg.WParam) & MK_CONTROL;
  const TVTWheelScroll s = WheelScrollAmount(delta, ctrl, host_.ClientWidth(), host_.ClientHeight(), core_->RangeX(),
                                             core_->RangeY(), core_->DefaultNodeHeight(), core_->Indent);
  core_->SetOffsetXY(core_->OffsetX() + s.DeltaX, core_->OffsetY() + s.DeltaY);
  msg.Result = 0;
}

void TBaseVirtualTree::Dispatch(TMessage& msg) {
  if (!ComponentState().Contains(csDesigning) && MouseMessage(msg)) return;
  switch (msg.Msg) {
    case WM_TIMER:
      switch (msg.WParam) {
        case kExpandTimer: {
          KillTreeTimer(kExpandTimer);
          TVTNode* target = core_->DropTargetNode;
          if (target && (target->States & vsHasChildren) && !(target->States & vsExpanded))
            core_->ToggleExpansion(target);
          break;
        }
        case kEditTimer:
          KillTreeTimer(kEditTimer);
          if (core_->HasTreeState(tsEditPending)) {
            core_->SetTreeState(tsEditPending, false);
            if (TVTNode* focused = core_->FocusedNode()) core_->EditNode(focused, core_->FocusedColumn());
          }
          break;
        case kHeaderTimer:
          break;  // the header had its turn in the window procedure
        case kChangeTimer:
        case kStructureChangeTimer:
          core_->TimerFired(int(msg.WParam));
          break;
        case kScrollTimer:
          core_->ScrollTimerFired();
          break;
        case kIncrementalSearchTimer:
          search_->TimeoutExpired();
          break;
        default:
          inherited::Dispatch(msg);
          return;
      }
      msg.Result = 0;
      return;
    case WM_GETDLGCODE:
      msg.Result = DLGC_WANTARROWS | DLGC_WANTCHARS | (keys_->WantTabs ? DLGC_WANTTAB : 0);
      return;
    case WM_ERASEBKGND:
      msg.Result = 1;  // painting covers the whole client area
      return;
    case WM_KEYDOWN:
      // The key events run first; a handler that takes the key leaves 0.
      inherited::Dispatch(msg);
      if (msg.WParam != 0) keys_->KeyDown(int(msg.WParam), KeyModifiers(), (msg.LParam >> 30) & 1);
      msg.Result = 0;
      return;
    case WM_KEYUP:
      inherited::Dispatch(msg);
      if (msg.WParam != 0) keys_->KeyUp(int(msg.WParam));
      return;
    case WM_CHAR:
      if (core_->HasTreeState(tsIncrementalSearchPending)) {
        SearchCharacter(msg.WParam);
        core_->SetTreeState(tsIncrementalSearchPending, false);
      }
      inherited::Dispatch(msg);
      return;
    case WM_HSCROLL:
    case WM_VSCROLL:
      ScrollMessage(msg, msg.Msg == WM_VSCROLL);
      return;
    case CM_MOUSEWHEEL:
      EndWheelPanning();
      MouseWheel(msg);
      msg.Result = 1;  // the tree took the wheel
      return;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      inherited::Dispatch(msg);
      if (msg.Msg == WM_KILLFOCUS) {
        EndWheelPanning();
        ClearPendingStates(false);
        for (int bit : std::initializer_list<int>{tsLeftButtonDown, tsMiddleButtonDown, tsRightButtonDown,
                                                  tsScrollPending, tsScrolling})
          core_->SetTreeState(bit, false);
      }
      if (core_->SelectedCount() > 0 || !core_->FocusedNode())
        Invalidate();
      else
        core_->InvalidateNodeArea(core_->FocusedNode());
      return;
    case WM_CANCELMODE:
      ClearPendingStates(true);
      inherited::Dispatch(msg);
      return;
    case WM_CONTEXTMENU:
      for (int bit : std::initializer_list<int>{2, tsEditPending, tsOLEDragPending, tsFrameworkDragging})
        core_->SetTreeState(bit, false);
      inherited::Dispatch(msg);
      return;
    case WM_SETCURSOR:
      SetTreeCursor(msg);
      return;
    case CM_HINTSHOW:
      HintShow(msg);
      return;
    case CM_DRAG:
      FrameworkDrag(msg);
      return;
    case WM_NCCALCSIZE: {
      inherited::Dispatch(msg);
      // Both forms of the message start with the rectangle that becomes the client area.
      RECT* r = reinterpret_cast<RECT*>(msg.LParam);
      if (!r) return;
      const int border = GetBorderWidth();
      InflateRect(r, -border, -border);
      if (BevelKind != bkNone) {
        const int bevel = (BevelInner != bvNone ? BevelWidth : 0) + (BevelOuter != bvNone ? BevelWidth : 0);
        if (BevelEdges.Contains(beLeft)) r->left += bevel;
        if (BevelEdges.Contains(beTop)) r->top += bevel;
        if (BevelEdges.Contains(beRight)) r->right -= bevel;
        if (BevelEdges.Contains(beBottom)) r->bottom -= bevel;
      }
      if (HeaderVisible()) r->top += HeaderHeight();
      if (r->right < r->left) r->right = r->left;
      if (r->bottom < r->top) r->bottom = r->top;
      return;
    }
    case WM_NCHITTEST:
      inherited::Dispatch(msg);
      if (!ComponentState().Contains(csDesigning) && HeaderVisible()) {
        RECT bounds;
        GetWindowRect(WindowHandle(), &bounds);
        const POINT p{short(LOWORD(msg.LParam)) - bounds.left, short(HIWORD(msg.LParam)) - bounds.top};
        const RECT band = ComputeHeaderArea();
        if (PtInRect(&band, p)) msg.Result = HTBORDER;
      }
      return;
    case WM_NCPAINT:
      NonClientPaint(msg);
      return;
    case WM_ENABLE:
      inherited::Dispatch(msg);
      if (HandleAllocated()) RedrawFrame(WindowHandle());
      return;
    case CM_ENABLEDCHANGED:
      inherited::Dispatch(msg);
      if (ComponentState().Contains(csDesigning) && HandleAllocated()) RedrawFrame(WindowHandle());
      return;
    case CM_CTL3DCHANGED:
      inherited::Dispatch(msg);
      if (borderStyle_ == bsSingle && HandleAllocated()) RecreateWnd();
      return;
    case CM_MOUSELEAVE:
      if (!core_->HasTreeState(tsWheelPanning) && !core_->HasTreeState(tsWheelScrolling)) {
        KillTreeTimer(kScrollTimer);
        core_->SetTreeState(tsScrollPending, false);
        core_->SetTreeState(tsScrolling, false);
        if (TVTNode* hot = core_->HotNode()) {
          core_->SetHotNode(nullptr);
          core_->InvalidateNodeArea(hot);
        }
      }
      inherited::Dispatch(msg);
      return;
    case CM_SYSCOLORCHANGE: {
      inherited::Dispatch(msg);
      ReloadTreeImageLists();
      TMessage system{WM_SYSCOLORCHANGE, 0, 0, 0};
      DefaultHandler(system);
      return;
    }
    case WM_CUT:
      core_->CutToClipboard();
      msg.Result = 0;
      return;
    case WM_COPY:
      core_->CopyToClipboard();
      msg.Result = 0;
      return;
    case WM_PASTE:
      PasteFromClipboard();
      msg.Result = 0;
      return;
    case WM_PRINT:
      if (!(msg.LParam & PRF_CHECKVISIBLE) || IsWindowVisible(WindowHandle()))
        PaintHeaderInWindow(reinterpret_cast<HDC>(msg.WParam));
      inherited::Dispatch(msg);
      return;
    case kReleaseEditLinkMessage:
      if (!core_->HasTreeState(tsEditing)) ReleaseEditLink();
      msg.Result = 0;
      return;
    case WM_SIZE:
      inherited::Dispatch(msg);
      if (HandleAllocated() && !core_->HasTreeState(tsSizing) && !core_->HasTreeState(tsWindowCreating) &&
          host_.ClientHeight() > 0) {
        core_->SetTreeState(tsSizing, true);
        try {
          if (header_) {
            header_->RecalculateFrame();
            // The auto-size column follows the window's width.
            if (header_->HasOption(kHeaderAutoResize) && !(header_->States & kHeaderAutoSizing))
              header_->GetColumns()->FitAutoSizeColumn(-2, false);
          }
          core_->RefreshScrollBars(true);
        } catch (...) {
          core_->SetTreeState(tsSizing, false);
          throw;
        }
        core_->SetTreeState(tsSizing, false);
      }
      return;
    case WM_THEMECHANGED:
      OpenThemes();
      RebuildPaintResources(true, true);
      RedrawFrame(WindowHandle());
      msg.Result = 0;
      return;
    case CM_COLORCHANGED:
    case CM_FONTCHANGED:
      inherited::Dispatch(msg);
      if (!IsLoading() && HandleAllocated()) {
        RebuildPaintResources(true, msg.Msg == CM_COLORCHANGED);
        Invalidate();
      }
      return;
    case WM_PRINTCLIENT:
      if (!(msg.LParam & PRF_CHECKVISIBLE) || IsWindowVisible(WindowHandle())) {
        RECT window{0, 0, host_.ClientWidth(), host_.ClientHeight()};
        OffsetRect(&window, -core_->OffsetX(), -core_->OffsetY());
        RenderTreeToCanvas(reinterpret_cast<HDC>(msg.WParam), window, 61, POINT{0, 0});
      }
      msg.Result = 0;
      return;
    case WM_NCDESTROY:
      KillTreeTimer(kChangeTimer);
      KillTreeTimer(kStructureChangeTimer);
      RegisterDropTarget(false);
      CloseThemes();
      if (dottedBrush_) DeleteObject(dottedBrush_);
      if (plusBitmap_) DeleteObject(plusBitmap_);
      if (minusBitmap_) DeleteObject(minusBitmap_);
      dottedBrush_ = nullptr;
      plusBitmap_ = minusBitmap_ = nullptr;
      inherited::Dispatch(msg);
      return;
    default:
      break;
  }
  inherited::Dispatch(msg);
}

void TBaseVirtualTree::Host::Invalidate() {
  if (!tree_.IsDestroying()) tree_.Invalidate();
}

void TBaseVirtualTree::Host::StartTimer(int id, unsigned milliseconds) {
  if (tree_.HandleAllocated()) SetTimer(tree_.WindowHandle(), UINT_PTR(id), milliseconds, nullptr);
}

void TBaseVirtualTree::Host::StopTimer(int id) {
  if (tree_.HandleAllocated()) KillTimer(tree_.WindowHandle(), UINT_PTR(id));
}

std::uint64_t TBaseVirtualTree::Host::Milliseconds() const {
  return GetTickCount();
}

bool IsWinNT = false;
bool IsWin2K = false;
bool IsWinXP = false;

TImageList* LightCheckImages = nullptr;
TImageList* DarkCheckImages = nullptr;
TImageList* LightTickImages = nullptr;
TImageList* DarkTickImages = nullptr;
TImageList* FlatImages = nullptr;
TImageList* XPImages = nullptr;
TImageList* UtilityImages = nullptr;

namespace {

TImageList** const kImageLists[kTreeImageListCount] = {
    &LightCheckImages, &DarkCheckImages, &LightTickImages, &DarkTickImages, &FlatImages, &XPImages, &UtilityImages};
constexpr const char* kImageListResources[kTreeImageListCount] = {
    "VT_CHECK_LIGHT", "VT_CHECK_DARK", "VT_TICK_LIGHT", "VT_TICK_DARK", "VT_FLAT", "VT_XP", "VT_UTILITIES"};
constexpr int kXPList = 5;

int g_initCount = 0;
TCriticalSection* g_lock = nullptr;
bool g_oleInitialized = false;
bool g_timerPeriod = false;
bool g_themeLoaded = false;
Win32ClipboardFormatApi g_formatApi;

HINSTANCE TreeModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&TreeModule), &module))
    module = GetModuleHandleA(nullptr);
  return module;
}

// Undoes whatever start-up got done, in shut-down order.
void ReleaseUnitResources() {
  FreeClipboardFormats();
  if (GetClipboardFormatApi() == &g_formatApi) SetClipboardFormatApi(nullptr);
  ForgetVirtualTreeFormats();
  if (g_timerPeriod) timeEndPeriod(1);
  g_timerPeriod = false;
  for (TImageList** list : kImageLists) FreeAndNil(*list);
  if (g_oleInitialized) OleUninitialize();
  g_oleInitialized = false;
  FreeAndNil(g_lock);
  if (g_themeLoaded) FreeThemeLibrary();
  g_themeLoaded = false;
}

void StartUnit() {
  g_lock = New<TCriticalSection>();
  MMXAvailable();
  if (Win32Platform == 0) InitPlatformVersion();
  IsWinNT = Win32Platform == PlatformNT;
  IsWin2K = IsNTVersionAtLeast(5, 0);
  // XP and every later version: 5.1, 5.2, 6.x and 10.0.
  IsWinXP = IsNTVersionAtLeast(5, 1);

  const HRESULT ole = OleInitialize(nullptr);
  if (FAILED(ole)) RaiseOSError(static_cast<DWORD>(ole));
  g_oleInitialized = true;

  if (!GetClipboardFormatApi()) SetClipboardFormatApi(&g_formatApi);
  CF_VTREFERENCE = GetClipboardFormatApi()->Register("Virtual Tree Reference");

  const UINT colour = IsWinNT ? ILC_COLOR32 : ILC_COLOR16;
  for (int i = 0; i < kTreeImageListCount; ++i) {
    TImageList* list = New<TImageList>(nullptr);
    *kImageLists[i] = list;
    list->SetHandle(ImageList_Create(16, 16, ILC_MASK | colour, 0, 8));
    LoadImageListStrip(list, kImageListResources[i], i != kXPList);
  }

  timeBeginPeriod(1);
  g_timerPeriod = true;

  CreateClipboardFormats();

  if (IsWinXP) {
    InitThemeLibrary();
    g_themeLoaded = true;
  }

  RegisterVirtualTreeFormats(TBaseVirtualTree::StaticClass(), TCustomVirtualStringTree::StaticClass());
}

}  // namespace

void InitVirtualTrees() {
  if (++g_initCount != 1) return;
  try {
    StartUnit();
  } catch (...) {
    ReleaseUnitResources();
    g_initCount = 0;
    throw;
  }
}

void DoneVirtualTrees() {
  if (g_initCount == 0 || --g_initCount != 0) return;
  ReleaseUnitResources();
}

bool VirtualTreesInitialized() {
  return g_initCount > 0;
}

TImageList* TreeImageList(int index) {
  return index >= 0 && index < kTreeImageListCount ? *kImageLists[index] : nullptr;
}

const char* TreeImageListResource(int index) {
  return index >= 0 && index < kTreeImageListCount ? kImageListResources[index] : nullptr;
}

void LoadImageListStrip(TCustomImageList* list, const char* name, bool remap) {
  if (!list) return;
  struct Hold {
    TCriticalSection* lock;
    explicit Hold(TCriticalSection* l) : lock(l) {
      if (lock) lock->Acquire();
    }
    ~Hold() {
      if (lock) lock->Release();
    }
  } hold(g_lock);
  const HINSTANCE module = TreeModule();
  HBITMAP strip = remap ? CreateMappedRes(module, name) : LoadBitmapA(module, name);
  list->Clear();
  if (!strip) return;
  BITMAP info{};
  GetObjectA(strip, sizeof info, &info);
  const int cell = info.bmHeight;
  if (cell > 0 && info.bmWidth >= cell) {
    list->SetWidth(cell);
    list->SetHeight(cell);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, strip);
    const COLORREF mask = GetPixel(dc, 0, 0);
    SelectObject(dc, old);
    DeleteDC(dc);
    // The list cuts the strip into bitmap width div cell size images.
    ImageList_AddMasked(list->Handle(), strip, mask);
  }
  DeleteObject(strip);
}

void ReloadTreeImageLists() {
  for (int i = 0; i < kTreeImageListCount; ++i)
    if (i != kXPList && *kImageLists[i]) LoadImageListStrip(*kImageLists[i], kImageListResources[i], true);
}

std::uint32_t ColorToImageListRGB(TColor color) {
  if (color == clNone) return CLR_NONE;
  if (color == clDefault) return CLR_DEFAULT;
  return ColorToRGB(color);
}

// --- Drawing ---------------------------------------------------------------------------------------

namespace {

const wchar_t* Wide(std::u16string_view text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return reinterpret_cast<const wchar_t*>(text.data());
}

int TextWidth(HDC dc, std::u16string_view text) {
  SIZE size{};
  if (!text.empty()) GetTextExtentPoint32W(dc, Wide(text), static_cast<int>(text.size()), &size);
  return size.cx;
}

}  // namespace

void DrawWideTextLines(HDC dc, std::u16string_view text, bool measureWidth, UINT flags, RECT& bounds) {
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  const int lineHeight = metrics.tmHeight;
  const bool measuring = (flags & DT_CALCRECT) != 0;

  int x = bounds.left;
  UINT align = TA_LEFT;
  if (flags & DT_RIGHT) {
    x = bounds.right;
    align = TA_RIGHT;
  } else if (flags & DT_CENTER) {
    x = (bounds.left + bounds.right) / 2;
    align = TA_CENTER;
  }
  int y = bounds.top;
  if ((flags & DT_VCENTER) && !measuring) y = (bounds.top + bounds.bottom - lineHeight) / 2;
  UINT options = 0;
  if (!(flags & DT_NOCLIP)) options |= ETO_CLIPPED;
  if (flags & DT_RTLREADING) options |= ETO_RTLREADING;

  std::vector<std::u16string_view> lines;
  if (flags & DT_SINGLELINE)
    lines.push_back(text);
  else
    lines = SplitWideTextLines(text);

  const UINT oldAlign = measuring ? 0 : SetTextAlign(dc, (GetTextAlign(dc) & ~(TA_CENTER | TA_RIGHT)) | align);
  int widest = 0;
  for (std::u16string_view line : lines) {
    if (measuring) {
      widest = std::max(widest, TextWidth(dc, line));
    } else {
      if (y >= bounds.bottom) break;
      RECT clip = (flags & DT_SINGLELINE) ? bounds : RECT{bounds.left, y, bounds.right, y + lineHeight};
      ExtTextOutW(dc, x, y, options, &clip, Wide(line), static_cast<UINT>(line.size()), nullptr);
    }
    y += lineHeight;
  }
  if (measuring) {
    bounds.bottom = y;
    if (measureWidth) bounds.right = bounds.left + widest;
  } else if (oldAlign != GDI_ERROR) {
    SetTextAlign(dc, oldAlign);
  }
}

std::u16string ShortenWideText(HDC dc, std::u16string_view text, int width, int ellipsisWidth, bool rightToLeft) {
  return ShortenWideText([dc](std::u16string_view part) { return TextWidth(dc, part); }, text, width, ellipsisWidth,
                         rightToLeft && !IsWin2K);
}

namespace {

struct DibRows {
  std::uint8_t* bits = nullptr;
  int width = 0, height = 0;
  std::ptrdiff_t stride = 0;
  bool bottomUp = false;
  std::uint32_t* Row(int y) const {
    const int row = bottomUp ? height - 1 - y : y;
    return reinterpret_cast<std::uint32_t*>(bits + row * stride);
  }
};

// The 32-bit DIB section selected into the context.
bool DibOf(HDC dc, DibRows& rows) {
  if (!dc) return false;
  HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
  DIBSECTION section{};
  if (!bitmap || GetObjectA(bitmap, sizeof section, &section) != sizeof section) return false;
  if (!section.dsBm.bmBits || section.dsBm.bmBitsPixel != 32) return false;
  rows.bits = static_cast<std::uint8_t*>(section.dsBm.bmBits);
  rows.width = section.dsBm.bmWidth;
  rows.height = section.dsBm.bmHeight;
  rows.stride = section.dsBm.bmWidthBytes;
  rows.bottomUp = section.dsBmih.biHeight > 0;
  // The system reports a positive height for top-down sections too: find
  // where the pixel at device (0, 0) lives by marking both end rows.
  POINT origin{0, 0};
  if (rows.height > 1 && DPtoLP(dc, &origin, 1)) {
    std::uint32_t* first = rows.Row(0);
    std::uint32_t* last = rows.Row(rows.height - 1);
    const std::uint32_t savedFirst = *first, savedLast = *last;
    GdiFlush();
    *first = 0x00123456;
    *last = 0x00654321;
    const COLORREF probe = GetPixel(dc, origin.x, origin.y);
    *first = savedFirst;
    *last = savedLast;
    if (probe == RGB(0x65, 0x43, 0x21)) rows.bottomUp = !rows.bottomUp;  // the other end is the top
  }
  return true;
}

}  // namespace

void AlphaBlendRect(HDC source, HDC destination, const RECT& bounds, POINT target, int mode, int constantAlpha,
                    int bias) {
  if (bounds.right <= bounds.left || bounds.bottom <= bounds.top || mode < 0 || mode > 3) return;
  DibRows dst, src;
  if (!DibOf(destination, dst)) return;
  const bool needsSource = mode != 3;
  if (needsSource && !DibOf(source, src)) return;
  GdiFlush();
  // Clip the rectangle to the destination (and the source) bitmap.
  const int tx = static_cast<int>(target.x), ty = static_cast<int>(target.y);
  int x0 = 0, y0 = 0, x1 = bounds.right - bounds.left, y1 = bounds.bottom - bounds.top;
  x0 = std::max(x0, -tx);
  y0 = std::max(y0, -ty);
  x1 = std::min(x1, dst.width - tx);
  y1 = std::min(y1, dst.height - ty);
  if (needsSource) {
    x0 = std::max(x0, -static_cast<int>(bounds.left));
    y0 = std::max(y0, -static_cast<int>(bounds.top));
    x1 = std::min(x1, src.width - static_cast<int>(bounds.left));
    y1 = std::min(y1, src.height - static_cast<int>(bounds.top));
  }
  if (x1 <= x0 || y1 <= y0) return;
  for (int y = y0; y < y1; ++y) {
    std::uint32_t* d = dst.Row(ty + y) + tx + x0;
    const std::uint32_t* s = needsSource ? src.Row(bounds.top + y) + bounds.left + x0 : nullptr;
    AlphaBlendLine(s, d, x1 - x0, mode, constantAlpha, bias);
  }
}

// --- Clipboard format names ------------------------------------------------------------------------

std::uint16_t Win32ClipboardFormatApi::Register(const std::string& name) {
  return static_cast<std::uint16_t>(RegisterClipboardFormatA(name.c_str()));
}

std::string Win32ClipboardFormatApi::Name(std::uint16_t id) {
  char buffer[2049];
  const int n = GetClipboardFormatNameA(id, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

void TBaseVirtualTree::Host::ThemeChanged() {
  if (tree_.HandleAllocated()) SendMessageA(tree_.WindowHandle(), WM_THEMECHANGED, 0, 0);
}

// --- Painting --------------------------------------------------------------------------------------

namespace {

constexpr int kButtonSize = 9;

// A 32-bit top-down DIB section in its own memory context.
struct RowBitmap {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  int width = 0, height = 0;
  explicit RowBitmap(HDC reference) { dc = CreateCompatibleDC(reference); }
  ~RowBitmap() {
    Release();
    if (dc) DeleteDC(dc);
  }
  void Release() {
    if (old) SelectObject(dc, old);
    if (bitmap) DeleteObject(bitmap);
    old = bitmap = nullptr;
    width = height = 0;
  }
  void Resize(int w, int h) {
    if (w == width && h == height) return;
    Release();
    if (w <= 0 || h <= 0) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) throw EOutOfResources("Cannot make the tree's row bitmap");
    old = SelectObject(dc, bitmap);
    width = w;
    height = h;
  }
};

void FillSolid(HDC dc, const RECT& r, COLORREF color) {
  const COLORREF old = SetBkColor(dc, color);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

}  // namespace

int TBaseVirtualTree::QueryImageIndex(TVTNode* node, int kind, int column, bool& ghosted) {
  int index = -1;
  ghosted = false;
  if (OnGetImageIndex) OnGetImageIndex(this, node, kind, column, ghosted, index);
  return index;
}

void TBaseVirtualTree::RebuildPaintResources(bool buttons, bool lineBrush) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  if (buttons) {
    for (HBITMAP* b : {&minusBitmap_, &plusBitmap_}) {
      if (*b) DeleteObject(*b);
      *b = CreateCompatibleBitmap(screen, kButtonSize, kButtonSize);
    }
    const COLORREF back = ColorToRGB(GetColor());
    const COLORREF line = ColorToRGB(colors_->Get<TVTColors::TreeLineColor>());
    const COLORREF fore = ColorToRGB(GetFont()->GetColor());
    const RECT all{0, 0, kButtonSize, kButtonSize};
    bool xpLoaded = false;
    if (ButtonStyle != 1 && ButtonFillMode == 2) {
      HBITMAP minus = LoadBitmapA(TreeModule(), "VT_XPBUTTONMINUS");
      HBITMAP plus = LoadBitmapA(TreeModule(), "VT_XPBUTTONPLUS");
      if (minus && plus) {
        DeleteObject(minusBitmap_);
        DeleteObject(plusBitmap_);
        minusBitmap_ = minus;
        plusBitmap_ = plus;
        xpLoaded = true;
      } else {
        if (minus) DeleteObject(minus);
        if (plus) DeleteObject(plus);
      }
    }
    for (int i = 0; i < 2 && !xpLoaded; ++i) {
      const bool plus = i == 1;
      HGDIOBJ old = SelectObject(dc, plus ? plusBitmap_ : minusBitmap_);
      FillSolid(dc, all, back);
      if (ButtonStyle == 1) {
        HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
        HGDIOBJ oldBrush = SelectObject(dc, black);
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
        const POINT down[3] = {{0, 2}, {8, 2}, {4, 6}};
        const POINT right[3] = {{2, 0}, {6, 4}, {2, 8}};
        Polygon(dc, plus ? right : down, 3);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(black);
      } else {
        const COLORREF fill = ButtonFillMode == 1 ? ColorToRGB(clWindow) : back;
        if (ButtonFillMode != 3) FillSolid(dc, all, fill);
        HBRUSH frame = CreateSolidBrush(line);
        FrameRect(dc, &all, frame);
        DeleteObject(frame);
        const RECT horizontal{2, 4, 7, 5};
        FillSolid(dc, horizontal, fore);
        if (plus) {
          const RECT vertical{4, 2, 5, 7};
          FillSolid(dc, vertical, fore);
        }
      }
      if (treeTheme_) {
        // TVP_GLYPH with GLPS_CLOSED / GLPS_OPENED.
        Themes::DrawThemeBackground(treeTheme_, dc, 2, plus ? 1 : 2, &all, nullptr);
      }
      SelectObject(dc, old);
    }
  }
  if (lineBrush) {
    if (dottedBrush_) DeleteObject(dottedBrush_);
    WORD pattern[8];
    for (int i = 0; i < 8; ++i) pattern[i] = (LineStyle == 2) ? 0 : ((i & 1) ? 0xAA : 0x55);
    if (LineStyle != 1 && LineStyle != 2) FirePaintResourcesEvent(pattern);
    HBITMAP bits = CreateBitmap(8, 8, 1, 1, pattern);
    dottedBrush_ = CreatePatternBrush(bits);
    DeleteObject(bits);
  }
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

void TBaseVirtualTree::BlitTiledBitmap(HDC dc, const RECT& rect, POINT origin) {
  TBitmap* picture = background_ ? dynamic_cast<TBitmap*>(background_->Graphic()) : nullptr;
  if (!picture || picture->Empty()) return;
  const int w = picture->GetWidth(), h = picture->GetHeight();
  if (w <= 0 || h <= 0) return;
  HBITMAP handle = picture->Handle();
  picture->ReleaseCanvasContext();
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, handle);
  auto wrap = [](int v, int m) { return ((v % m) + m) % m; };
  for (int y = rect.top; y < rect.bottom;) {
    const int sy = wrap(y + origin.y, h);
    const int rows = std::min(h - sy, int(rect.bottom - y));
    for (int x = rect.left; x < rect.right;) {
      const int sx = wrap(x + origin.x, w);
      const int columns = std::min(w - sx, int(rect.right - x));
      BitBlt(dc, x, y, columns, rows, source, sx, sy, SRCCOPY);
      x += columns;
    }
    y += rows;
  }
  SelectObject(source, old);
  DeleteDC(source);
}

void TBaseVirtualTree::PaintRowBackground(HDC dc, const RECT& rect, bool usePicture, POINT origin, TVTNode* node) {
  TColor color = GetColor();
  bool defaultErase = true;
  FireBeforeItemErase(dc, node, rect, color, defaultErase);
  if (!defaultErase)
    FillSolid(dc, rect, ColorToRGB(color));
  else if (usePicture)
    BlitTiledBitmap(dc, rect, origin);
  else
    FillSolid(dc, rect, ColorToRGB(GetColor()));
  FireAfterItemErase(dc, node, rect);
}

void TBaseVirtualTree::FillDottedHorzLine(TVTPaintInfo& info, int left, int right, int y) {
  const RECT r{std::min(left, right), y, std::max(left, right) + 1, y + 1};
  SetBkColor(info.DC, ColorToRGB(GetColor()));
  SetBrushOrgEx(info.DC, info.BrushOrigin.x, info.BrushOrigin.y, nullptr);
  FillRect(info.DC, &r, dottedBrush_);
}

void TBaseVirtualTree::FillDottedVertLine(TVTPaintInfo& info, int top, int bottom, int x) {
  const RECT r{x, std::min(top, bottom), x + 1, std::max(top, bottom) + 1};
  SetBkColor(info.DC, ColorToRGB(GetColor()));
  SetBrushOrgEx(info.DC, info.BrushOrigin.x, info.BrushOrigin.y, nullptr);
  FillRect(info.DC, &r, dottedBrush_);
}

void TBaseVirtualTree::DrawLineImage(TVTPaintInfo& info, int x, std::uint8_t kind, int height) {
  const int indent = core_->Indent;
  const int middle = x + indent / 2;
  const int line = info.AlignLine;
  switch (kind) {
    case ltTopDown:  // from the alignment line down, with the stub
      FillDottedVertLine(info, line, height - 1, middle);
      FillDottedHorzLine(info, middle, x + indent - 1, line);
      break;
    case ltTopDownRight:
      FillDottedVertLine(info, 0, height - 1, middle);
      break;
    case ltTopDownRightStub:
      FillDottedVertLine(info, 0, height - 1, middle);
      FillDottedHorzLine(info, middle, x + indent - 1, line);
      break;
    case ltRight:
      FillDottedHorzLine(info, middle, x + indent - 1, line);
      break;
    case ltTopRight:
      FillDottedVertLine(info, 0, line, middle);
      FillDottedHorzLine(info, middle, x + indent - 1, line);
      break;
    case ltLeft:
      FillDottedVertLine(info, 0, height - 1, x);
      break;
    case ltLeftBottom:
      FillDottedVertLine(info, 0, height - 1, x);
      FillDottedHorzLine(info, x, x + indent - 1, height - 1);
      break;
    default:
      break;
  }
}

void TBaseVirtualTree::PaintTreeLines(TVTPaintInfo& info, const std::vector<std::uint8_t>& kinds) {
  const int height = info.CellRect.bottom - info.CellRect.top;
  const int origin = info.CellRect.left + Margin;
  const COLORREF oldText = SetTextColor(info.DC, ColorToRGB(colors_->Get<TVTColors::TreeLineColor>()));
  for (std::size_t i = 0; i < kinds.size(); ++i) DrawLineImage(info, origin + int(i) * core_->Indent, kinds[i], height);
  SetTextColor(info.DC, oldText);
}

void TBaseVirtualTree::PaintExpandButton(TVTPaintInfo& info, int x) {
  HBITMAP bitmap = (info.Node->States & vsExpanded) ? minusBitmap_ : plusBitmap_;
  if (!bitmap) return;
  HDC source = CreateCompatibleDC(info.DC);
  HGDIOBJ old = SelectObject(source, bitmap);
  BitBlt(info.DC, info.CellRect.left + Margin + x, info.ButtonY, kButtonSize, kButtonSize, source, 0, 0, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

void TBaseVirtualTree::PaintCheckImage(TVTPaintInfo& info) {
  const TVTImageInfo& check = info.Check;
  if (core_->HasTreeState(tsUseThemes) && buttonTheme_ && CheckImageKind <= 5) {
    const TVTThemedCheck part = ThemedCheckPart(check.Index);
    if (part.Part == 0) return;
    const RECT r{check.X - 1, check.Y, check.X + 15, check.Y + 16};
    Themes::DrawThemeBackground(buttonTheme_, info.DC, part.Part, part.State, &r, nullptr);
    if (part.UtilityOverlay && UtilityImages)
      ImageList_DrawEx(UtilityImages->Handle(), 4, info.DC, check.X, check.Y, 0, 0, CLR_NONE, CLR_NONE,
                       ILD_TRANSPARENT);
    return;
  }
  if (!check.Images) return;
  ImageList_DrawEx(check.Images->Handle(), check.Index, info.DC, check.X, check.Y, 0, 0, CLR_NONE, CLR_DEFAULT,
                   ILD_TRANSPARENT);
}

void TBaseVirtualTree::PaintNodeImage(TVTPaintInfo& info, const TVTImageInfo& image) {
  if (!image.Images) return;
  UINT style = ILD_TRANSPARENT;
  const bool blend =
      (core_->OptionBits.Paint & voBlendGhosted) && Focused() &&
      (image.Ghosted || ((info.Node->States & vsSelected) && !(core_->OptionBits.Selection & voFullRowSelect) &&
                         !(core_->OptionBits.Misc & voGridExtensions)));
  if (blend) style |= ILD_BLEND50;
  ImageList_DrawEx(image.Images->Handle(), image.Index, info.DC, image.X, image.Y, 0, 0, CLR_NONE,
                   blend ? ColorToRGB(colors_->Get<TVTColors::FocusedSelectionColor>()) : CLR_DEFAULT, style);
}

void TBaseVirtualTree::PaintSelectionAndFocus(TVTPaintInfo& info) {
  const bool fullRow = core_->OptionBits.Selection & voFullRowSelect;
  const bool grid = core_->OptionBits.Misc & voGridExtensions;
  if (info.Column != core_->FocusedColumn() && !fullRow && core_->ColumnLayout.HasColumns()) return;
  RECT content = info.ContentRect;
  if (!fullRow && !grid) {
    const int width = std::min(info.NodeWidth, int(content.right - content.left));
    switch (info.Alignment) {
      case kAlignRight:
        content.left = content.right - width;
        break;
      case kAlignCenter:
        content.left += (content.right - content.left - width) / 2;
        content.right = content.left + width;
        break;
      default:
        content.right = content.left + width;
        break;
    }
  }
  const bool active = Focused() || (core_->OptionBits.Paint & voPopupMode);
  TVTNode* node = info.Node;
  const RECT& area = (grid || fullRow) ? info.CellRect : content;
  const bool dropTarget = node == core_->DropTargetNode;
  if (dropTarget && (DropMode == 2 || (node->States & vsSelected))) {
    HBRUSH brush = CreateSolidBrush(ColorToRGB(colors_->Get<TVTColors::DropTargetColor>()));
    HPEN pen = CreatePen(PS_SOLID, 1, ColorToRGB(colors_->Get<TVTColors::DropTargetBorderColor>()));
    HGDIOBJ oldBrush = SelectObject(info.DC, brush);
    HGDIOBJ oldPen = SelectObject(info.DC, pen);
    RoundRect(info.DC, area.left, area.top, area.right, area.bottom, selectionCornerRadius_, selectionCornerRadius_);
    SelectObject(info.DC, oldPen);
    SelectObject(info.DC, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  } else if (!dropTarget && (info.Flags & kRenderSelection) && (node->States & vsSelected)) {
    const COLORREF fill = ColorToRGB(active ? colors_->Get<TVTColors::FocusedSelectionColor>()
                                            : colors_->Get<TVTColors::UnfocusedSelectionColor>());
    const COLORREF border = ColorToRGB(active ? colors_->Get<TVTColors::FocusedSelectionBorderColor>()
                                              : colors_->Get<TVTColors::UnfocusedSelectionBorderColor>());
    HBRUSH brush = CreateSolidBrush(fill);
    HPEN pen = CreatePen(PS_SOLID, 1, border);
    HGDIOBJ oldBrush = SelectObject(info.DC, brush);
    HGDIOBJ oldPen = SelectObject(info.DC, pen);
    const int radius = selectionCornerRadius_;
    RoundRect(info.DC, area.left, area.top, area.right, area.bottom, radius, radius);
    SelectObject(info.DC, oldPen);
    SelectObject(info.DC, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  }
  if ((info.Flags & kRenderFocusRect) && node == core_->FocusedNode() && active &&
      (!core_->ColumnLayout.HasColumns() || info.Column == core_->FocusedColumn())) {
    const COLORREF oldText = SetTextColor(info.DC, RGB(255, 255, 255));
    const COLORREF oldBack = SetBkColor(info.DC, RGB(0, 0, 0));
    const RECT& focus = grid ? info.CellRect : content;
    if (focus.right > focus.left) DrawFocusRect(info.DC, &focus);
    SetTextColor(info.DC, oldText);
    SetBkColor(info.DC, oldBack);
  }
}

void TBaseVirtualTree::DrawDropMark(HDC dc, const RECT& row) {
  if (DropMode != 1 && DropMode != 3) return;
  const LONG l = row.left, t = row.top, r = row.right, b = row.bottom;
  const POINT above[6] = {{l + 2, t}, {r - 2, t}, {r - 2, t + 6}, {r - 6, t + 2}, {l + 6, t + 2}, {l + 2, t + 6}};
  const POINT below[6] = {{l + 2, b - 1}, {r - 2, b - 1}, {r - 2, b - 8},
                          {r - 7, b - 3}, {l + 7, b - 3}, {l + 2, b - 8}};
  HBRUSH brush = CreateSolidBrush(ColorToRGB(colors_->Get<TVTColors::DropMarkColor>()));
  HGDIOBJ oldBrush = SelectObject(dc, brush);
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  Polygon(dc, DropMode == 1 ? above : below, 6);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(brush);
}

void TBaseVirtualTree::PaintRubberBand(HDC dc, const RECT& clip, const RECT& band) {
  RECT area;
  if (!IntersectRect(&area, &clip, &band)) return;
  if (MMXAvailable() && DrawSelectionMode != 0) {
    AlphaBlendRect(dc, dc, area, POINT{area.left, area.top}, 3, 64,
                   int(ColorToRGB(colors_->Get<TVTColors::SelectionRectangleBlendColor>())));
    HBRUSH frame = CreateSolidBrush(ColorToRGB(colors_->Get<TVTColors::SelectionRectangleBorderColor>()));
    FrameRect(dc, &band, frame);
    DeleteObject(frame);
    return;
  }
  const COLORREF oldText = SetTextColor(dc, RGB(255, 255, 255));
  const COLORREF oldBack = SetBkColor(dc, RGB(0, 0, 0));
  DrawFocusRect(dc, &band);
  SetTextColor(dc, oldText);
  SetBkColor(dc, oldBack);
}

bool TBaseVirtualTree::ToggleAnimationStep(HDC dc, const RECT& area, bool expanding, int step) {
  if (step <= 0 || IsRectEmpty(&area)) return true;
  RECT moved = area;
  ScrollDC(dc, 0, expanding ? step : -step, &moved, &moved, nullptr, nullptr);
  RECT strip = area;
  if (expanding)
    strip.bottom = std::min(area.bottom, area.top + step);
  else
    strip.top = std::max(area.top, area.bottom - step);
  FillSolid(dc, strip, ColorToRGB(GetColor()));
  return true;
}

void TBaseVirtualTree::RenderTreeToCanvas(HDC target, const RECT& window, std::uint8_t flags, POINT targetPoint) {
  TVirtualTreeCore& t = *core_;
  rowsPainted_ = 0;
  if (!minusBitmap_ || !dottedBrush_) RebuildPaintResources(true, true);
  const int windowWidth = window.right - window.left;
  const int windowHeight = window.bottom - window.top;
  if (windowWidth <= 0 || windowHeight <= 0) return;
  FireBeforeTreePaint(target);
  RowBitmap row(target);
  const std::uint16_t paint = t.OptionBits.Paint;
  TBitmap* picture = background_ ? dynamic_cast<TBitmap*>(background_->Graphic()) : nullptr;
  const bool usePicture = (paint & voShowBackground) && (flags & kRenderBackground) && picture && !picture->Empty();
  TCustomImageList* checkImages = (t.OptionBits.Misc & voCheckSupport) ? CheckImages() : nullptr;
  if (!Focused() && (paint & voHideSelection)) flags &= std::uint8_t(~kRenderSelection);
  if (paint & voHideFocusRect) flags &= std::uint8_t(~kRenderFocusRect);
  const int fullWidth = std::max(host_.ClientWidth(), t.RangeX());
  const int indent = t.Indent;
  const POINT picturePhase{0, 0};
  // The rubber band, normalised, in tree coordinates.
  const TVTRect bandTree = NormalizeRect(mouse_->BandRect());
  const bool band = mouse_->BandShown() && !bandTree.IsEmpty();
  auto bandAt = [&](int top) {
    return RECT{bandTree.Left - window.left, bandTree.Top - top, bandTree.Right - window.left, bandTree.Bottom - top};
  };

  int nodeTop = 0;
  TVTNode* node = t.NodeAtOffset(window.top, false, &nodeTop);
  int rowTop = targetPoint.y + nodeTop - window.top;
  const int targetBottom = targetPoint.y + windowHeight;
  std::vector<std::uint8_t> kinds;
  int selectedAncestors = 0;
  if (node) selectedAncestors = ComputeLineImages(t, node, kinds);
  while (node && rowTop < targetBottom) {
    if (!(node->States & vsInitialized)) t.InitializeNodeOnDemand(node);
    ++rowsPainted_;
    const int height = node->NodeHeight;
    const bool selectedRow = selectedAncestors > 0 || (node->States & vsSelected);
    if (height > 0 && (!(flags & kRenderSelectedOnly) || selectedRow)) {
      row.Resize(windowWidth, height);
      SetWindowOrgEx(row.dc, window.left, 0, nullptr);
      TVTPaintInfo info;
      info.DC = row.dc;
      info.Node = node;
      info.Flags = flags;
      info.BrushOrigin = {window.left % 2, nodeTop % 2};
      info.CellRect = {0, 0, fullWidth, height};
      info.Alignment = t.Alignment;
      // The alignment line: proportional to the node's Align value (the
      // modes of the node alignment setting).
      int align = node->Align;
      if (NodeAlignment == 0)
        info.AlignLine = height - align;
      else if (NodeAlignment == 1)
        info.AlignLine = align;
      else
        info.AlignLine = MulDiv(height - kButtonSize, align, 100) + kButtonSize / 2;
      info.ButtonY = info.AlignLine - kButtonSize / 2;

      const RECT rowRect{window.left, 0, window.right, height};
      if (!FireBeforeRowPaint(row.dc, node, info.CellRect)) {
        PaintRowBackground(row.dc, rowRect, usePicture, POINT{picturePhase.x, nodeTop + picturePhase.y}, node);
        const int levels = int(kinds.size());
        // One cell per visible column in position order, or one cell for the whole row without columns.
        const std::vector<TVTColumnInfo>& cells = t.ColumnLayout.Columns;
        const std::size_t cellCount = cells.empty() ? 1 : cells.size();
        for (std::size_t cellIndex = 0, nextIndex = 0; cellIndex < cellCount; cellIndex = nextIndex) {
          nextIndex = cellIndex + 1;
          const TVTColumnInfo* cell = cells.empty() ? nullptr : &cells[cellIndex];
          info.Column = cell ? cell->Index : NoColumn;
          const bool main = !cell || cell->Index == t.ColumnLayout.MainColumn;
          if (cell && (flags & kRenderMainColumnOnly) && !main) continue;
          if (cell) {
            info.CellRect = {cell->Left, 0, cell->Left + cell->Width, height};
            if (info.CellRect.left >= window.right) break;
            // A text may run over the empty cells after this one.
            nextIndex = std::max(cellIndex + 1, AdvancePaintColumn(info, cellIndex));
            if (info.CellRect.right <= window.left) continue;
            info.Alignment = cell->Alignment;
            if (cell->RightToLeft && info.Alignment != kAlignCenter)
              info.Alignment = info.Alignment == kAlignLeft ? kAlignRight : kAlignLeft;
          }
          info.Check = info.State = info.Normal = TVTImageInfo{};
          info.Flags = flags;
          info.NodeWidth = MeasureNodeWidth(node, info.Column);
          info.ContentRect = info.CellRect;
          info.ContentRect.left += Margin;
          auto layOut = [&](TVTImageInfo& image, TCustomImageList* list, int index) {
            image.Index = index;
            image.Images = list;
            image.X = info.ContentRect.left;
            image.Y = info.AlignLine - list->GetHeight() / 2;
            info.ContentRect.left += list->GetWidth() + 2;
          };
          if (main && checkImages && node->CheckType != ctNone) {
            const bool enabled = !(node->States & vsDisabled) && GetEnabled();
            const int index = CheckImageIndex(node->CheckType, node->CheckState, enabled, false);
            if (index >= 0) layOut(info.Check, checkImages, index);
          }
          if (stateImages_) {
            bool ghosted = false;
            const int index = QueryImageIndex(node, 2, info.Column, ghosted);
            if (index >= 0) layOut(info.State, stateImages_, index);
            info.State.Ghosted = ghosted;
          }
          if (images_) {
            bool ghosted = false;
            const int index = QueryImageIndex(node, (node->States & vsSelected) ? 1 : 0, info.Column, ghosted);
            if (index >= 0) layOut(info.Normal, images_, index);
            info.Normal.Ghosted = ghosted;
          }
          // The indentation comes before everything laid out.
          if (main) {
            const int shift = levels * indent;
            info.ContentRect.left += shift;
            for (TVTImageInfo* image : {&info.Check, &info.State, &info.Normal}) image->X += shift;
          }
          const int saved = cell ? SaveDC(row.dc) : 0;
          if (cell) {
            IntersectClipRect(row.dc, info.CellRect.left, info.CellRect.top, info.CellRect.right, info.CellRect.bottom);
            // The column's own colour, unless it follows the tree's or the row is selected in full.
            const TColor columnColor = ColumnColor(cell->Index);
            const bool fullRowSelected = (node->States & vsSelected) && (t.OptionBits.Selection & voFullRowSelect);
            if ((flags & kRenderColumnColors) && columnColor != GetColor() && !fullRowSelected && !usePicture)
              FillSolid(row.dc, info.CellRect, ColorToRGB(columnColor));
          }

          if ((flags & kRenderGridLines) && (paint & voShowHorzGridLines)) {
            const COLORREF old = SetTextColor(row.dc, ColorToRGB(colors_->Get<TVTColors::GridLineColor>()));
            FillDottedHorzLine(info, info.CellRect.left, info.CellRect.right - 1, info.CellRect.bottom - 1);
            SetTextColor(row.dc, old);
            --info.CellRect.bottom;
            --info.ContentRect.bottom;
          }
          if (cell && (flags & kRenderGridLines) && (paint & voShowVertGridLines) &&
              !(HeaderAutoResizes() && cellIndex + 1 == cells.size())) {
            const COLORREF old = SetTextColor(row.dc, ColorToRGB(colors_->Get<TVTColors::GridLineColor>()));
            FillDottedVertLine(info, info.CellRect.top, info.CellRect.bottom, info.CellRect.right - 1);
            SetTextColor(row.dc, old);
            --info.CellRect.right;
            --info.ContentRect.right;
          }
          // Every cell has its before-cell event, also where no selection is painted.
          FireBeforeCellPaint(row.dc, node, info.Column, info.CellRect);
          PaintSelectionAndFocus(info);
          if (main) {
            if (paint & voShowTreeLines) PaintTreeLines(info, kinds);
            // The all-children-hidden state (0x0400) is set by no operation, so
            // the hidden-children test of auto option bit 7 never holds.
            const bool hideButton = (node->States & 0x0400) && (t.OptionBits.Auto & (1u << 7));
            if ((paint & voShowButtons) && (node->States & vsHasChildren) && !hideButton && levels > 0) {
              const int x = levels * indent + (indent - kButtonSize + 1) / 2 - indent;
              PaintExpandButton(info, x);
            }
            if (info.Check.Images) PaintCheckImage(info);
          }
          if (info.State.Images) PaintNodeImage(info, info.State);
          if (info.Normal.Images) PaintNodeImage(info, info.Normal);
          // The edited cell shows the editor, not its content.
          const bool edited =
              t.HasTreeState(tsEditing) && node == t.FocusedNode() && (!cell || info.Column == t.FocusedColumn());
          if (!edited) PaintNodeContent(info);
          FireAfterCellPaint(row.dc, node, info.Column, info.CellRect);
          if (cell) RestoreDC(row.dc, saved);
        }
        FireAfterRowPaint(row.dc, node, rowRect);
        if (node == t.DropTargetNode && (paint & voShowDropmark) && (flags & kRenderDropMark))
          DrawDropMark(row.dc, rowRect);
      }
      SetWindowOrgEx(row.dc, 0, 0, nullptr);
      if (band) PaintRubberBand(row.dc, RECT{0, 0, windowWidth, height}, bandAt(nodeTop));
      BitBlt(target, targetPoint.x, rowTop, windowWidth, height, row.dc, 0, 0, SRCCOPY);
    }
    rowTop += height;
    nodeTop += height;
    if (rowTop >= targetBottom) break;
    // The next row's line kinds, from this row's.
    TVTNode* next = t.NextVisibleNode(node);
    if (!next) break;
    selectedAncestors = ComputeLineImages(t, next, kinds);
    node = next;
  }
  // The area below the last row.
  if (rowTop < targetBottom) {
    row.Release();
    row.Resize(windowWidth, targetBottom - rowTop);
    const RECT area{0, 0, windowWidth, targetBottom - rowTop};
    if (FirePaintBackground(row.dc, area)) {
      // The handler painted the area.
    } else if (usePicture) {
      BlitTiledBitmap(row.dc, area, POINT{window.left, nodeTop});
    } else {
      FillSolid(row.dc, area, ColorToRGB(GetColor()));
      // Below the rows each column keeps its own colour.
      for (const TVTColumnInfo& c : t.ColumnLayout.Columns) {
        if (!(flags & kRenderColumnColors)) break;
        const TColor color = ColumnColor(c.Index);
        if (color == GetColor()) continue;
        const RECT strip{c.Left - window.left, 0, c.Left + c.Width - window.left, targetBottom - rowTop};
        if (strip.right > 0 && strip.left < windowWidth) FillSolid(row.dc, strip, ColorToRGB(color));
      }
    }
    if (band) PaintRubberBand(row.dc, area, bandAt(window.top + rowTop - targetPoint.y));
    BitBlt(target, targetPoint.x, rowTop, windowWidth, targetBottom - rowTop, row.dc, 0, 0, SRCCOPY);
  }
  FireAfterTreePaint(target);
}

void TBaseVirtualTree::Paint(HDC dc) {
  RECT clip;
  if (GetClipBox(dc, &clip) == NULLREGION || clip.right <= clip.left) return;
  RECT window = clip;
  OffsetRect(&window, -core_->OffsetX(), -core_->OffsetY());
  RenderTreeToCanvas(dc, window, 0x3F, POINT{clip.left, clip.top});
}

// --- Header ---------------------------------------------------------------------------------------

bool TBaseVirtualTree::HeaderVisible() const {
  return header_ && header_->HasOption(kHeaderVisible);
}

int TBaseVirtualTree::HeaderHeight() const {
  return header_ ? static_cast<int>(header_->GetHeight()) : 0;
}

void TBaseVirtualTree::SetHeader(TVTHeader* header) {
  if (header_ && header) header_->Assign(header);
}

TVTHeader* TBaseVirtualTree::CreateHeader() {
  return New<TVTHeader>(this);
}

const ClassInfo& TBaseVirtualTree::ColumnClass() const {
  return TVirtualTreeColumn::StaticClass();
}

void TBaseVirtualTree::NotifyColumnResized(int column) {
  if (IsLoading() || !HandleAllocated()) return;
  core_->RefreshHorzScrollBar(true);
  TVirtualTreeColumn* c = header_ ? header_->GetColumns()->ColumnAt(column) : nullptr;
  if (c && !(core_->OptionBits.Auto & voAutoSpanColumns)) {
    RECT r;
    GetClientRect(WindowHandle(), &r);
    r.left = std::max(LONG(0), LONG(c->ScrolledLeft()));
    InvalidateRect(WindowHandle(), &r, FALSE);
  } else {
    Invalidate();
  }
  if (header_) {
    header_->RedrawHeaderArea(column, true);
    if (header_->States & kHeaderTracking) UpdateWindow(WindowHandle());
  }
  if (OnColumnResize) OnColumnResize(header_, column);
}

void TBaseVirtualTree::DrawHeaderCellByEvent(TCanvas* canvas, TVirtualTreeColumn* column, int dropMark, bool pressed,
                                             bool hover, const RECT& cell) {
  if (OnHeaderDraw) OnHeaderDraw(header_, canvas, column, cell, hover, pressed, dropMark);
}

int TBaseVirtualTree::Host::SortColumn() const {
  return tree_.header_ ? tree_.header_->GetSortColumn() : NoColumn;
}

int TBaseVirtualTree::Host::SortDirection() const {
  return tree_.header_ ? static_cast<int>(tree_.header_->GetSortDirection()) : sdAscending;
}

TColor TBaseVirtualTree::ColumnColor(int column) const {
  TVirtualTreeColumn* c = header_ ? header_->GetColumns()->ColumnAt(column) : nullptr;
  return c && !c->HasOption(kColumnParentColor) ? c->GetColor() : GetColor();
}

bool TBaseVirtualTree::HeaderAutoResizes() const {
  return header_ && header_->HasOption(kHeaderAutoResize);
}

void TBaseVirtualTree::PaintHeaderInWindow(HDC dc) {
  if (HeaderVisible()) PaintHeaderBand(dc, ComputeHeaderArea());
}

void TBaseVirtualTree::PaintHeaderBand(HDC dc, const RECT& band) {
  if (!header_ || band.right <= band.left || band.bottom <= band.top) return;
  header_->GetColumns()->PaintHeader(dc, band, core_->OffsetX());
}

bool TBaseVirtualTree::HeaderBusy() const {
  return header_ && (header_->States & (kHeaderTracking | kHeaderDragging));
}

// --- Incremental search, wheel panning, popup menus ------------------------------------------------

char16_t KeyboardCharToWide(char ch) {
  UINT codePage = CP_ACP;
  const LANGID language = LOWORD(reinterpret_cast<UINT_PTR>(GetKeyboardLayout(0)));
  char buffer[16] = {};
  if (GetLocaleInfoA(MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE, buffer, int(sizeof buffer)) > 0) {
    const UINT value = UINT(std::strtoul(buffer, nullptr, 10));
    if (value != 0 && IsValidCodePage(value)) codePage = value;
  }
  wchar_t wide = 0;
  if (MultiByteToWideChar(codePage, MB_USEGLYPHCHARS, &ch, 1, &wide, 1) != 1 &&
      MultiByteToWideChar(CP_ACP, MB_USEGLYPHCHARS, &ch, 1, &wide, 1) != 1)
    return char16_t(static_cast<unsigned char>(ch));
  return char16_t(wide);
}

void TBaseVirtualTree::SearchCharacter(WPARAM code) {
  search_->Mode = IncrementalSearch;
  search_->Direction = IncrementalSearchDirection;
  search_->Start = IncrementalSearchStart;
  search_->Timeout = IncrementalSearchTimeout;
  char16_t ch = 0;
  if (HandleAllocated() && IsWindowUnicode(WindowHandle()))
    ch = char16_t(code);
  else if (code != 0)
    ch = KeyboardCharToWide(static_cast<char>(code & 0xFF));
  search_->ProcessSearchKeystroke(ch);
}

HWND TBaseVirtualTree::PanningWindow() const {
  return panning_ ? panning_->Handle() : nullptr;
}

void TBaseVirtualTree::BeginWheelPanning(POINT clientPoint) {
  if (!HandleAllocated()) return;
  TVirtualTreeCore& t = *core_;
  KillTreeTimer(kScrollTimer);
  t.SetTreeState(tsWheelPanning, true);
  t.SetTreeState(tsWheelScrolling, true);
  t.PanningAnchorX = clientPoint.x;
  t.PanningAnchorY = clientPoint.y;
  POINT screen = clientPoint;
  ::ClientToScreen(WindowHandle(), &screen);
  const bool horizontal = host_.ClientWidth() < t.RangeX(), vertical = host_.ClientHeight() < t.RangeY();
  panning_->Open(WindowHandle(), screen, TreeModule(), PanningBitmapName(horizontal, vertical));
  UpdatePanningCursor(clientPoint.x, clientPoint.y);
  if (!Focused() && CanFocus()) SetFocus();
  SetCapture(WindowHandle());
  SetTimer(WindowHandle(), kScrollTimer, 20, nullptr);
}

void TBaseVirtualTree::EndWheelPanning() {
  if (!core_) return;
  const bool panning = core_->HasTreeState(tsWheelPanning) || core_->HasTreeState(tsWheelScrolling);
  if (panning) {
    KillTreeTimer(kScrollTimer);
    if (HandleAllocated() && GetCapture() == WindowHandle()) ReleaseCapture();
    core_->SetTreeState(tsWheelPanning, false);
    core_->SetTreeState(tsWheelScrolling, false);
  }
  if (panning_) panning_->Close();
  if (panningCursor_) {
    DestroyCursor(panningCursor_);
    panningCursor_ = nullptr;
  }
}

void TBaseVirtualTree::UpdatePanningCursor(int x, int y) {
  const TVirtualTreeCore& t = *core_;
  const bool horizontal = host_.ClientWidth() < t.RangeX(), vertical = host_.ClientHeight() < t.RangeY();
  const char* name = PanningCursorName(x - t.PanningAnchorX, y - t.PanningAnchorY, horizontal, vertical);
  HCURSOR cursor = LoadCursorA(TreeModule(), name);
  if (!cursor) return;
  // Cursors loaded from a module come back as the same shared handle.
  if (cursor == panningCursor_) return;
  if (panningCursor_) DestroyCursor(panningCursor_);
  panningCursor_ = cursor;
  ::SetCursor(cursor);
}

TPopupMenu* TBaseVirtualTree::GetNodePopupMenu(TVTNode* node, int column, POINT point) {
  if (!OnGetPopupMenu) return nullptr;
  TComponent* menu = nullptr;
  bool askParent = true;
  if (!node) {
    OnGetPopupMenu(this, nullptr, NoColumn, point, askParent, menu);
  } else {
    // The node first, then each ancestor while the event lets its parent be asked.
    for (TVTNode* n = node; n && !menu && askParent; n = core_->NodeLevel(n) == 0 ? nullptr : n->Parent)
      OnGetPopupMenu(this, n, column, point, askParent, menu);
  }
  return dynamic_cast<TPopupMenu*>(menu);
}

void TBaseVirtualTree::ShowNodePopupMenu(TVTNode* node, int column, POINT point) {
  TPopupMenu* menu = GetNodePopupMenu(node, column, point);
  if (!menu || !HandleAllocated()) return;
  KillTreeTimer(kEditTimer);
  menu->SetPopupComponent(this);
  ::ClientToScreen(WindowHandle(), &point);
  menu->Popup(point.x, point.y);
}

void TBaseVirtualTree::StartOleDrag() {
  core_->StartOleDrag([this](std::uint32_t effects) -> std::uint32_t {
    IDataObject* data = CreateDragDataObject();
    IDropSource* source = ObtainDropSource();
    DWORD effect = DROPEFFECT_NONE;
    POINT p{0, 0};
    if (HandleAllocated() && GetCursorPos(&p)) ::ScreenToClient(WindowHandle(), &p);
    // The picture of the dragged nodes; it goes with the drag, however the drag ends.
    struct ImageScope {
      TBaseVirtualTree& tree;
      ~ImageScope() {
        if (tree.nodeDragImage_) tree.nodeDragImage_->FinishDrag();
        FreeAndNil(tree.nodeDragImage_);
      }
    } imageScope{*this};
    if (data && HandleAllocated()) BeginNodeDragImage(p, data);
    // The drag manager's callbacks keep their exceptions to themselves: the system's drag loop calls them.
    if (data && source && DoDragDrop(data, source, effects, &effect) != DRAGDROP_S_DROP) effect = DROPEFFECT_NONE;
    if (data) data->Release();
    if (source) source->Release();
    if (HandleAllocated() && GetCursorPos(&p)) ::ScreenToClient(WindowHandle(), &p);
    DoEndDrag(nullptr, p.x, p.y);
    return effect;
  });
}

int TBaseVirtualTree::GetHintAnimationKind() const {
  int kind = HintAnimation;
  if (kind == 3) {
    if (IsWinNT) {
      BOOL animate = FALSE, fade = FALSE;
      SystemParametersInfoA(SPI_GETTOOLTIPANIMATION, 0, &animate, 0);
      SystemParametersInfoA(SPI_GETTOOLTIPFADE, 0, &fade, 0);
      kind = !animate ? 0 : fade ? 1 : 2;
    } else {
      kind = 2;
    }
  }
  if (kind == 1 && !MMXAvailable()) kind = 2;
  return kind;
}

// --- The host's scrolling, focus and editing ---------------------------------------------------------

bool TBaseVirtualTree::Host::WindowAtPointIsTree(int x, int y) const {
  if (!tree_.HandleAllocated()) return false;
  POINT p{x, y};
  ::ClientToScreen(tree_.WindowHandle(), &p);
  return WindowFromPoint(p) == tree_.WindowHandle();
}

bool TBaseVirtualTree::Host::Terminating() const {
  return Application && Application->Terminated();
}

void TBaseVirtualTree::Host::ScrollClientArea(int dx, int dy, const TVTRect* clip, bool moveChildren) {
  if (!tree_.HandleAllocated()) return;
  HWND window = tree_.WindowHandle();
  if (!moveChildren) {
    RECT r{};
    if (clip) r = RECT{clip->Left, clip->Top, clip->Right, clip->Bottom};
    ScrollWindowEx(window, dx, dy, nullptr, clip ? &r : nullptr, nullptr, nullptr, SW_INVALIDATE | SW_SCROLLCHILDREN);
    return;
  }
  // A picture behind the rows cannot be scrolled: the children move and everything is painted anew.
  std::vector<HWND> children;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  if (!children.empty()) {
    HDWP positions = BeginDeferWindowPos(int(children.size()));
    for (HWND child : children) {
      RECT r;
      GetWindowRect(child, &r);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
      if (positions)
        positions = DeferWindowPos(positions, child, nullptr, r.left + dx, r.top + dy, 0, 0,
                                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (positions) EndDeferWindowPos(positions);
  }
  ::InvalidateRect(window, nullptr, FALSE);
}

void TBaseVirtualTree::Host::RepaintHeader() {
  if (tree_.header_) tree_.header_->RedrawHeaderArea(-1, false);
}

bool TBaseVirtualTree::Host::HasBackgroundPicture() const {
  const TBitmap* picture = tree_.background_ ? dynamic_cast<TBitmap*>(tree_.background_->Graphic()) : nullptr;
  return picture && !picture->Empty();
}

void TBaseVirtualTree::Host::FocusTree() {
  if (tree_.HandleAllocated() && !tree_.Focused() && tree_.CanFocus()) tree_.SetFocus();
}

void TBaseVirtualTree::Host::PostReleaseEditLink() {
  if (tree_.HandleAllocated()) PostMessageA(tree_.WindowHandle(), kReleaseEditLinkMessage, 0, 0);
}
