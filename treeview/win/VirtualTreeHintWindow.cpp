#include "VirtualTreeHintWindow.h"

#include <algorithm>

#include "VirtualTreeColumns.h"
#include "VirtualTreeHeaderMouse.h"
#include "VirtualTreesWin.h"

namespace {

// Set while a hint window is being destroyed: a running animation stops at its next step.
bool hintWindowDestroying = false;

std::u16string Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::u16string out(std::size_t(std::max(n, 0)), u'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), reinterpret_cast<LPWSTR>(out.data()), n);
  return out;
}

RECT ToRect(const TVTRect& r) {
  return RECT{r.Left, r.Top, r.Right, r.Bottom};
}

}  // namespace

FW_IMPLEMENT_CLASS(TVirtualTreeHintWindow)

bool TVirtualTreeHintWindow::Surface::Create(int width, int height) {
  Free();
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  DC = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  Bitmap = DC ? CreateDIBSection(DC, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  if (!Bitmap) {
    Free();
    return false;
  }
  Old = SelectObject(DC, Bitmap);
  return true;
}

void TVirtualTreeHintWindow::Surface::Free() {
  if (DC && Old) SelectObject(DC, Old);
  if (Bitmap) DeleteObject(Bitmap);
  if (DC) DeleteDC(DC);
  *this = Surface{};
}

TVirtualTreeHintWindow::TVirtualTreeHintWindow(TComponent* owner) : THintWindow(owner) {
  hintWindowDestroying = false;
  shadow_ = HintShadowSize(MMXAvailable());
}

TVirtualTreeHintWindow::~TVirtualTreeHintWindow() {
  FreeSurfaces();
}

void TVirtualTreeHintWindow::Destroy() {
  hintWindowDestroying = true;
  FreeSurfaces();
  inherited::Destroy();
}

void TVirtualTreeHintWindow::FreeSurfaces() {
  target_.Free();
  buffer_.Free();
  background_.Free();
}

TVTNode* TVirtualTreeHintWindow::Node() const {
  // The tree forgets a freed node in its hint data: a node it no longer names is gone.
  return tree_ && tree_->HintData().Node == node_ ? node_ : nullptr;
}

void TVirtualTreeHintWindow::TreeGoing(TBaseVirtualTree* tree) {
  if (!Application) return;
  auto* window = dynamic_cast<TVirtualTreeHintWindow*>(Application->HintWindow());
  if (!window || window->tree_ != tree) return;
  Application->CancelHint();
  window->tree_ = nullptr;
  window->node_ = nullptr;
  window->FreeSurfaces();
}

void TVirtualTreeHintWindow::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  params.Style = WS_POPUP;
  params.ExStyle &= ~DWORD(WS_EX_CLIENTEDGE);
}

void TVirtualTreeHintWindow::Dispatch(TMessage& msg) {
  switch (msg.Msg) {
    case WM_ERASEBKGND:
      msg.Result = 1;
      return;
    case WM_NCPAINT:
      msg.Result = 0;
      return;
    case CM_TEXTCHANGED:
      return;
    case WM_NCHITTEST:
      // A cell's hint lies under the mouse: the mouse stays the tree's.
      msg.Result = HTTRANSPARENT;
      return;
    default:
      inherited::Dispatch(msg);
  }
}

bool TVirtualTreeHintWindow::IsHintMsg(const MSG& msg) {
  return inherited::IsHintMsg(msg) && HandleAllocated() && IsWindowVisible(WindowHandle()) &&
         msg.message != WM_NCMOUSEMOVE;
}

bool TVirtualTreeHintWindow::TooltipMode() const {
  return tree_ && tree_->HintMode == 3 && Node();
}

RECT TVirtualTreeHintWindow::CalcHintRect(int maxWidth, const std::string& text, void* data) {
  SetBiDiMode(bdLeftToRight);
  const auto* hint = static_cast<const TBaseVirtualTree::TVTHintData*>(data);
  tree_ = hint ? hint->Tree : nullptr;
  node_ = hint ? hint->Node : nullptr;
  column_ = hint ? hint->Column : NoColumn;
  text_ = hint && !hint->Text.empty() ? hint->Text : Widen(text);
  rightToLeft_ = false;
  if (tree_) {
    TVirtualTreeColumn* c = tree_->GetHeader() ? tree_->GetHeader()->GetColumns()->ColumnAt(column_) : nullptr;
    rightToLeft_ = c ? c->IsRightToLeft() : tree_->GetBiDiMode() != bdLeftToRight;
  }
  if (text_.empty()) return RECT{0, 0, 0, 0};

  HDC dc = GetDC(nullptr);
  TFont* font = TooltipMode() ? tree_->GetFont() : TextFont();
  HGDIOBJ old = SelectObject(dc, font->Handle());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  textHeight_ = metrics.tmHeight;
  RECT r{};
  if (TooltipMode()) {
    const TVTRect cell = tree_->Tree().ComputeNodeCellRect(Node(), column_, true, true);
    r = ToRect(TooltipHintRect(cell, (tree_->Tree().OptionBits.Paint & voShowHorzGridLines) != 0, shadow_));
  } else {
    RECT measured{0, 0, maxWidth, textHeight_};
    DrawWideTextLines(dc, text_, true, DT_CALCRECT | DT_WORDBREAK, measured);
    r = ToRect(MeasuredHintRect(TVTRect{measured.left, measured.top, measured.right, measured.bottom},
                                tree_ ? tree_->TextMargin : 4, shadow_));
  }
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return r;
}

void TVirtualTreeHintWindow::ActivateHint(RECT rect, const std::string& text) {
  ActivateHintData(rect, text, nullptr);
}

void TVirtualTreeHintWindow::ActivateHintData(RECT rect, const std::string& text, void* data) {
  if (data) {
    const auto* hint = static_cast<const TBaseVirtualTree::TVTHintData*>(data);
    if (hint->Tree != tree_ || hint->Node != node_) CalcHintRect(rect.right - rect.left, text, data);
  }
  if (tree_ && tree_->Tree().HasTreeState(tsAnimating)) {
    if (Application) Application->CancelHint();
    return;
  }
  if (rect.right <= rect.left || rect.bottom <= rect.top || text_.empty()) return;
  HWND window = Handle();
  ShowWindow(window, SW_HIDE);
  const RECT work =
      Screen ? Screen->WorkAreaRect() : RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  const TVTRect placed = ClampRectToDesktop(TVTRect{rect.left, rect.top, rect.right, rect.bottom},
                                            TVTRect{work.left, work.top, work.right, work.bottom});
  rect = ToRect(placed);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  SetWindowPos(window, nullptr, rect.left, rect.top, width, height, SWP_NOACTIVATE | SWP_NOZORDER);
  SetBounds(rect.left, rect.top, width, height);
  if (!target_.Create(width, height) || !buffer_.Create(width, height) || !background_.Create(width, height)) {
    FreeSurfaces();
    return;
  }
  if (tree_ && tree_->HandleAllocated()) UpdateWindow(tree_->WindowHandle());
  HDC screen = GetDC(nullptr);
  BitBlt(background_.DC, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  SetWindowPos(window, HWND_TOPMOST, rect.left, rect.top, width, height, SWP_SHOWWINDOW | SWP_NOACTIVATE);
  TControl::SetVisible(true);
  // The window's text is the hint's, for tools that read windows (painting uses its own copy).
  SetWindowTextW(window, reinterpret_cast<LPCWSTR>(text_.c_str()));
  animationKind_ = tree_ ? tree_->GetHintAnimationKind() : 0;
  if (animationKind_ == 0 || !tree_) {
    animationKind_ = 0;
    InvalidateRect(window, nullptr, FALSE);
    return;
  }
  ValidateRect(window, nullptr);
  const int duration = int(tree_->GetAnimationDuration());
  auto step = [this](int position, int size) { return AnimationStep(position, size); };
  // A fade runs over the alpha range, a slide over the window's height.
  if (animationKind_ == 1)
    tree_->Tree().RunTimedAnimation(255, 2 * duration, step);
  else
    tree_->Tree().RunTimedAnimation(height, duration, step);
  // The last step may have been cut short: the hint ends whole.
  if (HandleAllocated() && IsWindowVisible(window)) {
    HDC dc = GetDC(window);
    animationKind_ = 0;
    InternalPaint(dc, 0, 0);
    ReleaseDC(window, dc);
  }
}

bool TVirtualTreeHintWindow::AnimationStep(int position, int step) {
  if (hintWindowDestroying || !HandleAllocated() || !IsWindowVisible(WindowHandle()) || !buffer_.DC) return false;
  HDC dc = GetDC(WindowHandle());
  InternalPaint(dc, position, step);
  ReleaseDC(WindowHandle(), dc);
  return true;
}

void TVirtualTreeHintWindow::Paint(HDC dc) {
  InternalPaint(dc, 0, 0);
}

void TVirtualTreeHintWindow::AddShadow(HDC dc, int width, int height) {
  for (const TVTShadowPass& pass : HintShadowPasses(width, height, shadow_))
    AlphaBlendRect(nullptr, dc, ToRect(pass.Rect), POINT{pass.Rect.Left, pass.Rect.Top}, 3, pass.Alpha, 0);
}

void TVirtualTreeHintWindow::InternalPaint(HDC dc, int position, int step) {
  if (!buffer_.DC || !target_.DC || !background_.DC) return;
  RECT client;
  GetClientRect(WindowHandle(), &client);
  const int width = client.right, height = client.bottom;
  if (position == 0) {
    // The hint in the draw buffer, less the shadow.
    const RECT area{0, 0, width - shadow_, height - shadow_};
    HDC b = buffer_.DC;
    const bool tooltip = TooltipMode();
    TFont* font = tooltip ? tree_->GetFont() : TextFont();
    HGDIOBJ oldFont = SelectObject(b, font->Handle());
    HGDIOBJ oldPen = SelectObject(b, GetStockObject(BLACK_PEN));
    HBRUSH brush = CreateSolidBrush(ColorToRGB(clInfoBk));
    HGDIOBJ oldBrush = SelectObject(b, brush);
    Rectangle(b, area.left, area.top, area.right, area.bottom);
    SelectObject(b, oldBrush);
    DeleteObject(brush);
    SelectObject(b, oldPen);
    SetBkMode(b, TRANSPARENT);
    SetTextColor(b, ColorToRGB(clInfoText));
    RECT text = area;
    UINT flags = DT_NOPREFIX;
    if (tooltip) {
      // The text where the cell shows it: one pixel in, centred vertically.
      text.left += 1;
      text.right -= 1;
      text.top = std::max(LONG(0), LONG((area.bottom - textHeight_) / 2));
      flags |= DT_SINGLELINE;
    } else {
      const int margin = tree_ ? tree_->TextMargin : 4;
      InflateRect(&text, -(margin + 1), -1);
      text.top = 2;
      flags |= DT_WORDBREAK;
    }
    if (rightToLeft_) {
      flags |= DT_RIGHT | DT_RTLREADING;
      text.left -= 1;
    }
    DrawWideTextLines(b, text_, false, flags, text);
    SelectObject(b, oldFont);
  }
  if (step < 1) {
    if (animationKind_ == 1 && position != 0) return;
    if (shadow_ == 0) {
      BitBlt(dc, 0, 0, width, height, buffer_.DC, 0, 0, SRCCOPY);
    } else {
      BitBlt(target_.DC, 0, 0, width, height, background_.DC, 0, 0, SRCCOPY);
      BitBlt(target_.DC, 0, 0, width - shadow_, height - shadow_, buffer_.DC, 0, 0, SRCCOPY);
      AddShadow(target_.DC, width, height);
      BitBlt(dc, 0, 0, width, height, target_.DC, 0, 0, SRCCOPY);
    }
    return;
  }
  if (animationKind_ == 1) {
    BitBlt(target_.DC, 0, 0, width, height, background_.DC, 0, 0, SRCCOPY);
    AlphaBlendRect(buffer_.DC, target_.DC, RECT{0, 0, width - shadow_, height - shadow_}, POINT{0, 0}, 0,
                   HintFadeAlpha(position), 0);
    AddShadow(target_.DC, width, height);
    BitBlt(dc, 0, 0, width, height, target_.DC, 0, 0, SRCCOPY);
  } else {
    // The hint slides down: its last rows first, the rest from the background.
    const int rows = std::clamp(position, 0, height);
    BitBlt(dc, 0, 0, width, rows, buffer_.DC, 0, height - rows, SRCCOPY);
    const int from = std::max(rows - shadow_, 0);
    BitBlt(dc, 0, from, width, height - from, background_.DC, 0, from, SRCCOPY);
  }
}
