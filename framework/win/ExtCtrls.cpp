#include "ExtCtrls.h"

#include <algorithm>

#include "Thread.h"
#include "Win32Platform.h"
#include "WndProc.h"

// clang-format off
FW_BEGIN_CLASS(TPanel)
  FW_PROP(BevelOuter, GetBevelOuter, SetBevelOuter) FW_DEFAULT(bvRaised)
  FW_PROP(BevelInner, GetBevelInner, SetBevelInner) FW_DEFAULT(bvNone)
  FW_PROP(Alignment, GetAlignment, SetAlignment) FW_DEFAULT(taCenter)
FW_END_CLASS
FW_BEGIN_CLASS(TRadioGroup)
  FW_PROP(Items, GetItems, SetItems)
  FW_PROP(ItemIndex, GetItemIndex, SetItemIndex) FW_DEFAULT(-1)
  FW_PROP(Columns, GetColumns, SetColumns) FW_DEFAULT(1)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TPage)
FW_BEGIN_CLASS(TImage)
  FW_PROP(Picture, GetPicture, SetPicture)
  FW_PROP(Center, GetCenter, SetCenter) FW_DEFAULT(0)
  FW_PROP(Stretch, GetStretch, SetStretch) FW_DEFAULT(0)
  FW_PROP(Transparent, GetTransparent, SetTransparent) FW_DEFAULT(0)
FW_END_CLASS
FW_BEGIN_CLASS(TNotebook)
  FW_PROP(PageIndex, GetPageIndex, SetPageIndex) FW_DEFAULT(0)
  FW_PROP(ActivePage, GetActivePage, SetActivePage) FW_NOT_STORED
  FW_EVENT(OnPageChanged, OnPageChanged)
FW_END_CLASS
FW_BEGIN_CLASS(TTimer)
  FW_PROP(Enabled, GetEnabled, SetEnabled) FW_DEFAULT(1)
  FW_PROP(Interval, GetInterval, SetInterval) FW_DEFAULT(1000)
  FW_PROP(OnTimer, GetOnTimer, SetOnTimer)
FW_END_CLASS

namespace {
constexpr UINT_PTR kTimerId = 1;
}
// clang-format on

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  // The window must belong to the main thread, which runs the timer.
  SynchronizeCall([this] { wnd_ = AllocateHWnd(TWndMethod::Bind<&TTimer::WndProc>(this)); });
}

void TTimer::Destroy() {
  enabled_ = false;
  if (HWND wnd = wnd_.exchange(nullptr)) {
    SynchronizeCall([wnd] {
      KillTimer(wnd, kTimerId);
      DeallocateHWnd(wnd);
    });
  }
  inherited::Destroy();
}

void TTimer::SetEnabled(bool value) {
  if (enabled_.exchange(value) != value) Changed();
}

void TTimer::SetInterval(unsigned value) {
  if (interval_.exchange(value) != value) Changed();
}

TNotifyEvent TTimer::GetOnTimer() const {
  std::lock_guard<std::mutex> g(handlerLock_);
  return onTimer_;
}

void TTimer::SetOnTimer(TNotifyEvent value) {
  {
    std::lock_guard<std::mutex> g(handlerLock_);
    onTimer_ = value;
  }
  Changed();
}

void TTimer::Changed() {
  const HWND wnd = wnd_.load();
  if (!wnd) return;
  if (IsMainThread())
    UpdateTimer();
  else
    PostMessageA(wnd, CM_TIMERUPDATE, 0, 0);
}

void TTimer::UpdateTimer() {
  const HWND wnd = wnd_.load();
  if (!wnd) return;
  if (armed_) KillTimer(wnd, kTimerId);
  armed_ = false;
  const unsigned interval = interval_.load();
  if (enabled_.load() && interval != 0 && GetOnTimer()) {
    if (!SetTimer(wnd, kTimerId, interval, nullptr)) {
      enabled_ = false;
      throw EOutOfResources("Not enough timers available");
    }
    armed_ = true;
  }
}

void TTimer::Timer() {
  // A copy: the handler may set another handler, or one may be set elsewhere meanwhile.
  if (const TNotifyEvent handler = GetOnTimer()) handler(this);
}

void TTimer::WndProc(TMessage& msg) {
  switch (msg.Msg) {
    case WM_TIMER:
      if (msg.WParam == kTimerId && enabled_.load()) Timer();
      break;
    case CM_TIMERUPDATE:
      UpdateTimer();
      break;
    default:
      HandleDefault(wnd_.load(), msg);
  }
}

// --- TPanel ------------------------------------------------------------------------------------

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelOuter(TBevelCut v) {
  bevelOuter_ = v;
  Realign();
  Invalidate();
}
void TPanel::SetBevelInner(TBevelCut v) {
  bevelInner_ = v;
  Realign();
  Invalidate();
}
void TPanel::SetAlignment(TAlignment v) {
  alignment_ = v;
  Invalidate();
}

void TPanel::AdjustClientRect(RECT& rect) {
  inherited::AdjustClientRect(rect);
  const int bevels = (bevelOuter_ != bvNone ? 1 : 0) + (bevelInner_ != bvNone ? 1 : 0);
  InflateRect(&rect, -bevels, -bevels);
}

void TPanel::Paint(HDC dc) {
  RECT r = ClientRect();
  FillRectColor(dc, r, GetColor());
  auto edge = [&](TBevelCut cut) {
    if (cut == bvLowered) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    if (cut == bvRaised) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    if (cut == bvSpace) InflateRect(&r, -1, -1);
  };
  edge(bevelOuter_);
  edge(bevelInner_);
  const std::string text = GetCaption();
  if (text.empty()) return;
  InflateRect(&r, -2, 0);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(GetFont()->GetColor()));
  HGDIOBJ old = SelectObject(dc, GetFont()->Handle());
  UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX |
               (alignment_ == taCenter         ? DT_CENTER
                : alignment_ == taRightJustify ? DT_RIGHT
                                               : DT_LEFT);
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
  SelectObject(dc, old);
}

void TPanel::Dispatch(TMessage& msg) {
  if (msg.Msg == CM_TEXTCHANGED) Invalidate();
  inherited::Dispatch(msg);
}

// --- TRadioGroup -------------------------------------------------------------------------------

TRadioGroup::TRadioGroup(TComponent* owner) : TGroupBox(owner) {
  items_ = New<TStringList>();
  items_->OnChange = TNotifyEvent::Bind<&TRadioGroup::ItemsChanged>(this);
}

void TRadioGroup::Destroy() {
  if (items_) items_->OnChange = nullptr;
  buttons_.clear();  // freed with the children
  inherited::Destroy();
  FreeAndNil(items_);
}

void TRadioGroup::SetItems(TStrings* v) {
  items_->Assign(v);
}

void TRadioGroup::SetColumns(int v) {
  columns_ = v < 1 ? 1 : v > 16 ? 16 : v;
  ArrangeButtons();
}

void TRadioGroup::ItemsChanged(TObject*) {
  if (IsLoading()) return;
  if (itemIndex_ >= items_->Count()) itemIndex_ = items_->Count() - 1;
  UpdateButtons();
}

void TRadioGroup::Loaded() {
  inherited::Loaded();
  UpdateButtons();
}

void TRadioGroup::UpdateButtons() {
  updating_ = true;
  while (static_cast<int>(buttons_.size()) > items_->Count()) {
    TRadioButton* b = buttons_.back();
    buttons_.pop_back();
    b->Free();
  }
  while (static_cast<int>(buttons_.size()) < items_->Count()) {
    auto* b = New<TRadioButton>(nullptr);
    b->OnClick = TNotifyEvent::Bind<&TRadioGroup::ButtonClick>(this);
    b->SetParent(this);
    buttons_.push_back(b);
  }
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    buttons_[i]->SetCaption(items_->Strings(static_cast<int>(i)));
    buttons_[i]->SetHelpContext(GetHelpContext());
    buttons_[i]->SetChecked(static_cast<int>(i) == itemIndex_);
  }
  updating_ = false;
  ArrangeButtons();
}

void TRadioGroup::ArrangeButtons() {
  if (buttons_.empty()) return;
  const int count = static_cast<int>(buttons_.size());
  const int rows = (count + columns_ - 1) / columns_;
  const int top = 16, width = (GetWidth() - 10) / columns_;
  const int height = (GetHeight() - top - 4) / (rows ? rows : 1);
  for (int i = 0; i < count; ++i) {
    const int col = i / rows, row = i % rows;
    buttons_[static_cast<std::size_t>(i)]->SetBounds(8 + col * width, top + row * height, width - 4,
                                                     height < 17 ? height : 17 + (height - 17) / 2);
  }
}

void TRadioGroup::SetBounds(int left, int top, int width, int height) {
  inherited::SetBounds(left, top, width, height);
  ArrangeButtons();
}

void TRadioGroup::SetItemIndex(int v) {
  if (IsLoading()) {
    itemIndex_ = v;
    return;
  }
  if (v < -1 || v >= items_->Count()) v = -1;
  if (v == itemIndex_) return;
  itemIndex_ = v;
  updating_ = true;
  for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->SetChecked(static_cast<int>(i) == v);
  updating_ = false;
  if (v >= 0) Click();
}

void TRadioGroup::ButtonClick(TObject* sender) {
  if (updating_) return;
  auto it = std::find(buttons_.begin(), buttons_.end(), sender);
  if (it == buttons_.end()) return;
  auto* b = *it;
  if (!b->GetChecked()) return;
  const int index = static_cast<int>(it - buttons_.begin());
  if (index == itemIndex_) return;
  itemIndex_ = index;
  Click();
}

// --- TNotebook ---------------------------------------------------------------------------------

TPage::TPage(TComponent* owner) : TCustomControl(owner) {
  TControl::SetVisible(false);
}

TNotebook::TNotebook(TComponent* owner) : TCustomControl(owner) {
  SetBounds(0, 0, 150, 150);
}

std::vector<TPage*> TNotebook::PageList() const {
  std::vector<TPage*> pages;
  for (int i = 0; i < ControlCount(); ++i)
    if (auto* p = dynamic_cast<TPage*>(Controls(i))) pages.push_back(p);
  return pages;
}

void TNotebook::GetChildren(const Method<void(TComponent*)>& proc, TComponent*) {
  for (TPage* page : PageList()) proc(page);
}

int TNotebook::PageCount() const {
  return static_cast<int>(PageList().size());
}

TPage* TNotebook::Pages(int index) const {
  auto pages = PageList();
  if (index < 0 || index >= static_cast<int>(pages.size())) throw EListError("List index out of bounds");
  return pages[static_cast<std::size_t>(index)];
}

void TNotebook::SetPageIndex(int v) {
  if (IsLoading()) {
    pageIndex_ = v;
    return;
  }
  if (v < 0 || v >= PageCount() || v == pageIndex_) return;
  pageIndex_ = v;
  ShowPage();
  if (OnPageChanged) OnPageChanged(this);
}

std::string TNotebook::GetActivePage() const {
  auto pages = PageList();
  return pageIndex_ >= 0 && pageIndex_ < static_cast<int>(pages.size())
             ? pages[static_cast<std::size_t>(pageIndex_)]->GetCaption()
             : std::string();
}

void TNotebook::SetActivePage(const std::string& caption) {
  auto pages = PageList();
  for (std::size_t i = 0; i < pages.size(); ++i)
    if (pages[i]->GetCaption() == caption) {
      SetPageIndex(static_cast<int>(i));
      return;
    }
}

void TNotebook::ShowPage() {
  auto pages = PageList();
  const RECT r = ClientRect();
  for (std::size_t i = 0; i < pages.size(); ++i) {
    pages[i]->SetBounds(0, 0, r.right, r.bottom);
    if (static_cast<int>(i) != pageIndex_) pages[i]->SetVisible(false);
  }
  if (pageIndex_ >= 0 && pageIndex_ < static_cast<int>(pages.size()))
    pages[static_cast<std::size_t>(pageIndex_)]->SetVisible(true);
}

void TNotebook::Loaded() {
  inherited::Loaded();
  if (pageIndex_ >= PageCount()) pageIndex_ = PageCount() > 0 ? 0 : -1;
  ShowPage();
}

void TNotebook::SetBounds(int left, int top, int width, int height) {
  inherited::SetBounds(left, top, width, height);
  if (!IsLoading()) ShowPage();
}

// --- TImage ------------------------------------------------------------------------------------

TImage::TImage(TComponent* owner) : TGraphicControl(owner) {
  picture_ = New<TPicture>();
  picture_->OnChange = TNotifyEvent::Bind<&TImage::PictureChanged>(this);
  SetBounds(0, 0, 105, 105);
}

void TImage::Destroy() {
  picture_->OnChange = nullptr;
  FreeAndNil(picture_);
  inherited::Destroy();
}

void TImage::SetCenter(bool v) {
  center_ = v;
  Invalidate();
}
void TImage::SetStretch(bool v) {
  stretch_ = v;
  Invalidate();
}
void TImage::SetTransparent(bool v) {
  transparent_ = v;
  if (picture_->Graphic()) picture_->Graphic()->SetTransparent(v);
  Invalidate();
}

void TImage::PictureChanged(TObject*) {
  if (TGraphic* g = picture_->Graphic(); g && g->GetTransparent() != transparent_)
    g->SetTransparent(transparent_);  // reports a change again, then matches
  Invalidate();
}

void TImage::Paint(HDC dc) {
  TGraphic* g = picture_->Graphic();
  if (!g || g->Empty()) return;
  RECT r;
  const int w = GetWidth(), h = GetHeight();
  if (stretch_) {
    r = RECT{0, 0, w, h};
  } else {
    const int gw = g->GetWidth(), gh = g->GetHeight();
    const int x = center_ ? (w - gw) / 2 : 0, y = center_ ? (h - gh) / 2 : 0;
    r = RECT{x, y, x + gw, y + gh};
  }
  TCanvas* canvas = New<TCanvas>();
  canvas->SetHandle(dc);
  try {
    g->Draw(*canvas, r);
  } catch (...) {
    canvas->SetHandle(nullptr);
    canvas->Free();
    throw;
  }
  canvas->SetHandle(nullptr);
  canvas->Free();
}
