// The header's hints: resting on a column of the band shows the column's hint
// text, or its caption in full when the band cuts it off.
#include <algorithm>

#include "Forms.h"
#include "VirtualTreeColumns.h"
#include "VirtualTreeHintWindow.h"
#include "VirtualTreeInput.h"
#include "VirtualTreesWin.h"

namespace {

// Whether the caption of `column` is shortened where the band paints it (in a cell `height` high).
bool CaptionCutOff(const TVTHeader& header, const TVirtualTreeColumn& column, int height) {
  if (column.GetText().empty()) return false;
  HDC dc = GetDC(nullptr);
  if (!dc) return false;
  HGDIOBJ old = SelectObject(dc, header.GetFont()->Handle());
  RECT inner{0, 0, column.GetWidth(), height};
  InflateRect(&inner, -2, -2);
  const bool showImage = header.HasOption(kHeaderShowImages) && header.GetImages() && column.GetImageIndex() >= 0;
  const bool showGlyph = header.GetSortColumn() == column.Index() && header.HasOption(kHeaderShowSortGlyphs);
  const TVTHeaderLayout layout = column.ComputeHeaderLayout(dc, inner, showGlyph, showImage);
  const std::u16string& text = column.GetText();
  SIZE size{};
  GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.c_str()), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  if (!layout.Computed) return true;
  const int room = std::min<int>(layout.Caption.Right, inner.right) - std::max<int>(layout.Caption.Left, inner.left);
  return size.cx > room;
}

// The hint string of the framework's hint handling (8-bit): never empty for a non-empty text.
std::string Narrow(const std::u16string& text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<LPCWSTR>(text.data());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), out.data(), n, nullptr, nullptr);
  return out.empty() ? std::string("?") : out;
}

}  // namespace

bool TBaseVirtualTree::HeaderHintShow(TMessage& msg, THintInfo& info) {
  TVTHeader* header = header_;
  if (!header || !header->HasOption(kHeaderShowHint) || !header->IsPointInHeader(info.CursorPos)) return false;
  TVirtualTreeColumns* columns = header->GetColumns();
  const int height = int(header->GetHeight());
  const POINT inBand{info.CursorPos.x, info.CursorPos.y + height};
  TVTHeaderHintColumn candidate;
  candidate.Column = columns->ColumnAtPoint(inBand, true);
  TVirtualTreeColumn* column = columns->ColumnAt(candidate.Column);
  if (!column) candidate.Column = NoColumn;
  if (column) {
    candidate.HasHint = !column->GetHint().empty();
    candidate.CaptionCutOff = !candidate.HasHint && CaptionCutOff(*header, *column, height);
  }
  TVTHintQuestion question;
  question.FocusNearby = GetFocus() != nullptr || core_->HasTreeState(tsEditing);
  question.MouseCaptured = GetCapture() != nullptr;
  question.ShowHint = GetShowHint();
  question.HeaderBusy = HeaderBusy();
  question.HintMode = HintMode;
  const TVTHeaderHintShow show = DecideHeaderHint(*core_, question, candidate);
  if (show == TVTHeaderHintShow::Refused) {
    msg.Result = 1;
    return true;
  }
  hintData_ = TVTHintData{this, nullptr, candidate.Column,
                          show == TVTHeaderHintShow::ColumnHint ? column->GetHint() : column->GetText()};
  info.HintStr = Narrow(hintData_.Text);
  info.HintData = &hintData_;
  info.HintWindowClass = &TVirtualTreeHintWindow::StaticClass();
  // Below the band, from the column's left edge (or the tree's, for a column scrolled partly out).
  POINT at{std::max(column->ScrolledLeft(), 0), 0};
  ::ClientToScreen(WindowHandle(), &at);
  info.HintPos = at;
  msg.Result = 0;
  return true;
}
