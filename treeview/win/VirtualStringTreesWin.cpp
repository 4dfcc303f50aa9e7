#include "VirtualStringTreesWin.h"

#include <algorithm>

#include "SysUtils.h"
#include "UcxControls.h"
#include "VirtualTreeWindowCore.h"

namespace {

constexpr UINT kReleaseEditLinkMessage = 0x801F;
constexpr std::uint16_t kPopupModeBit = 0x0008;  // paint option bit 3

SIZE WideExtent(HDC dc, const std::u16string& text) {
  SIZE size{0, 0};
  if (!text.empty()) GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.data()), int(text.size()), &size);
  return size;
}

}  // namespace

// --- Options ---------------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TCustomStringTreeOptions)

TCustomStringTreeOptions::TCustomStringTreeOptions(TVirtualStringTreeCore* owner, TCustomVirtualStringTree* tree)
    : TCustomVirtualTreeOptions(owner), core_(owner), tree_(tree) {
  if (core_) core_->StringOptionBits = stringOptions_;
}

void TCustomStringTreeOptions::SetStringOptions(std::uint8_t value) {
  if (value == stringOptions_) return;
  const bool staticChanged = (value ^ stringOptions_) & toShowStaticText;
  stringOptions_ = value;
  if (core_) core_->StringOptionBits = value;
  if (staticChanged && tree_ && !tree_->IsLoading() && tree_->HandleAllocated()) tree_->Invalidate();
}

void TCustomStringTreeOptions::AssignTo(TPersistent* destination) {
  if (auto* other = dynamic_cast<TCustomStringTreeOptions*>(destination)) other->SetStringOptions(stringOptions_);
  inherited::AssignTo(destination);
}

// --- The string tree -------------------------------------------------------------------------------

// The string core with the window's answers: the texts come from the
// tree's events, the extents from its font, and without an editor from the
// create-editor event the tree makes its own.
class TCustomVirtualStringTree::StringCore : public TBaseVirtualTree::WindowCore<TVirtualStringTreeCore> {
 public:
  StringCore(TCustomVirtualStringTree& tree, TVirtualTreeHost* host) : WindowCore(tree, host), tree_(tree) {}

 protected:
  void DoGetText(TVTNode* node, int column, int kind, std::u16string& text) override {
    tree_.DoGetText(node, column, kind, text);
  }
  void DoNewText(TVTNode* node, int column, const std::u16string& text) override {
    tree_.DoNewText(node, column, text);
  }
  int MeasureTextExtent(TVTNode* node, int column, const std::u16string& text) override {
    return tree_.MeasureTextWidth(nullptr, node, text, column) - 2 * TextMargin;
  }
  std::shared_ptr<IVTEditLink> RequestEditLink(TVTNode* node, int column) override {
    std::shared_ptr<IVTEditLink> link;
    if (OnCreateEditor) OnCreateEditor(Owner(), node, column, link);
    if (!link) link = std::make_shared<TStringEditLink>();
    return link;
  }

 private:
  TCustomVirtualStringTree& tree_;
};

FW_IMPLEMENT_CLASS(TCustomVirtualStringTree)

TCustomVirtualStringTree::TCustomVirtualStringTree(TComponent* owner)
    : TBaseVirtualTree(owner, [](TBaseVirtualTree& tree, TVirtualTreeHost* host) -> std::unique_ptr<TVirtualTreeCore> {
        return std::make_unique<StringCore>(static_cast<TCustomVirtualStringTree&>(tree), host);
      }) {
  textCanvas_ = New<TCanvas>();
  StringTree().TextMargin = TextMargin;
  MeasureFontMetrics();
}

void TCustomVirtualStringTree::Destroy() {
  // The editor is the tree's child window: the link lets go of it before the tree frees its children.
  Tree().CancelEditingIfActive();
  Tree().ReleaseEditLink();
  FreeAndNil(textCanvas_);
  FreeAndNil(measureCanvas_);
  if (measureDC_) {
    DeleteDC(measureDC_);
    measureDC_ = nullptr;
  }
  inherited::Destroy();
}

TVirtualStringTreeCore& TCustomVirtualStringTree::StringTree() {
  return static_cast<TVirtualStringTreeCore&>(Tree());
}

TCustomStringTreeOptions* TCustomVirtualStringTree::StringTreeOptions() const {
  return dynamic_cast<TCustomStringTreeOptions*>(TreeOptions());
}

TCustomVirtualTreeOptions* TCustomVirtualStringTree::CreateOptions() {
  return New<TCustomStringTreeOptions>(&StringTree(), this);
}

std::u16string TCustomVirtualStringTree::GetDefaultText() {
  return StringTree().DefaultText;
}

void TCustomVirtualStringTree::SetDefaultText(const std::u16string& text) {
  if (StringTree().DefaultText == text) return;
  StringTree().DefaultText = text;
  if (!IsLoading()) {
    StringTree().ResetTextWidths();
    if (HandleAllocated()) Invalidate();
  }
}

void TCustomVirtualStringTree::DoGetText(TVTNode* node, int column, int kind, std::u16string& text) {
  if (OnGetText) OnGetText(this, node, column, kind, text);
}

void TCustomVirtualStringTree::DoNewText(TVTNode* node, int column, const std::u16string& text) {
  if (OnNewText) OnNewText(this, node, column, text);
}

void TCustomVirtualStringTree::SetNodeText(TVTNode* node, int column, const std::u16string& text) {
  StringTree().SetNodeText(node, column, text);
}

void TCustomVirtualStringTree::FirePaintText(TVTNode* node, TCanvas* canvas, int kind, int column) {
  if (OnPaintText) OnPaintText(this, canvas, node, column, kind);
}

std::u16string TCustomVirtualStringTree::ShortenCellText(TCanvas* canvas, TVTNode* node, int column,
                                                         const std::u16string& text, int width, bool rightToLeft,
                                                         int ellipsisWidth) {
  std::u16string result;
  bool done = false;
  if (OnShortenString) OnShortenString(this, canvas, node, column, text, width, result, done);
  if (done) return result;
  return ShortenWideText(canvas->Handle(), text, width, ellipsisWidth, rightToLeft);
}

TCanvas* TCustomVirtualStringTree::MeasureCanvas() {
  if (!measureCanvas_) {
    measureDC_ = CreateCompatibleDC(nullptr);
    measureCanvas_ = New<TCanvas>();
    measureCanvas_->SetHandle(measureDC_);
  }
  return measureCanvas_;
}

void TCustomVirtualStringTree::FontChanged(TObject* sender) {
  fontChanged_ = true;
  if (savedFontChange_) savedFontChange_(sender);
}

int TCustomVirtualStringTree::MeasureTextWidth(TCanvas* canvas, TVTNode* node, const std::u16string& text, int column) {
  int width = 2 * TextMargin;
  if (text.empty()) return width;
  if (!canvas) canvas = MeasureCanvas();
  canvas->Font()->Assign(GetFont());
  FirePaintText(node, canvas, ttNormal, column);
  return width + int(WideExtent(canvas->Handle(), text).cx);
}

int TCustomVirtualStringTree::MeasureNodeWidth(TVTNode* node, int column) {
  StringTree().TextMargin = TextMargin;  // the core adds the margins the tree has now
  return StringTree().MeasureNodeWidth(node, column);
}

void TCustomVirtualStringTree::MeasureFontMetrics() {
  TCanvas* canvas = MeasureCanvas();
  canvas->Font()->Assign(GetFont());
  HDC dc = canvas->Handle();
  TEXTMETRICW metrics{};
  if (GetTextMetricsW(dc, &metrics)) textHeight_ = int(metrics.tmHeight);
  ellipsisWidth_ = int(WideExtent(dc, u"...").cx);
  StringTree().ResetTextWidths();
}

void TCustomVirtualStringTree::Dispatch(TMessage& msg) {
  inherited::Dispatch(msg);
  if (msg.Msg == WM_SETFONT || msg.Msg == CM_FONTCHANGED) MeasureFontMetrics();
}

void TCustomVirtualStringTree::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  // The legacy set of string options: save captions and show static text.
  filer.DefineProperty(
      "StringOptions",
      [this](TReader& reader) {
        TCustomStringTreeOptions* options = StringTreeOptions();
        if (reader.NextValue() != vaSet) {
          reader.SkipValue();
          return;
        }
        reader.ReadValue();
        std::uint8_t bits = 0;
        for (;;) {
          const std::string name = reader.ReadStr();
          if (name.empty()) break;
          if (name == "soSaveCaptions") bits |= toSaveCaptions;
          if (name == "soShowStaticText") bits |= toShowStaticText;
        }
        if (options) options->SetStringOptions(bits);
      },
      nullptr, false);
  filer.DefineProperty(
      "WideDefaultText", [this](TReader& reader) { StringTree().DefaultText = reader.ReadWideString(); },
      [this](TWriter& writer) { writer.WriteWideString(StringTree().DefaultText); },
      StringTree().DefaultText != u"Node");
}

void TCustomVirtualStringTree::PrepareTextColors(TVTPaintInfo& info, bool withHot) {
  TVirtualTreeCore& t = Tree();
  TFont* font = textCanvas_->Font();
  if (withHot && (t.OptionBits.Paint & voHotTrack) && info.Node == t.HotNode()) {
    TFontStyles style = font->GetStyle();
    style.Include(fsUnderline);
    font->SetStyle(style);
    font->SetColor(Colors()->Get<TVTColors::HotColor>());
  }
  const bool fullRow = t.OptionBits.Selection & voFullRowSelect;
  if (!fullRow && (!withHot || info.Column != t.FocusedColumn())) return;
  if (info.Node == t.DropTargetNode) {
    const bool highlight = DropMode == 2 || (info.Node->States & vsSelected);
    font->SetColor(highlight ? TColor(clHighlightText) : GetFont()->GetColor());
  } else if (info.Node->States & vsSelected) {
    const bool active = Focused() || (t.OptionBits.Paint & kPopupModeBit);
    font->SetColor(active ? TColor(clHighlightText) : GetFont()->GetColor());
  }
}

namespace {

bool CellRightToLeft(const TVirtualTreeCore& t, int column, bool treeRightToLeft) {
  for (const TVTColumnInfo& c : t.ColumnLayout.Columns)
    if (c.Index == column) return c.RightToLeft;
  return treeRightToLeft;
}

void DrawCanvasText(TCanvas* canvas, const std::u16string& text, UINT flags, RECT rect) {
  HDC dc = canvas->Handle();
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColor = SetTextColor(dc, ColorToRGB(canvas->Font()->GetColor()));
  DrawWideTextLines(dc, text, false, flags, rect);
  SetTextColor(dc, oldColor);
  SetBkMode(dc, oldMode);
}

}  // namespace

void TCustomVirtualStringTree::PaintNormalText(TVTPaintInfo& info, const std::u16string& source) {
  TVirtualTreeCore& t = Tree();
  TCanvas* canvas = textCanvas_;
  canvas->Font()->Assign(GetFont());
  PrepareTextColors(info, true);
  fontChanged_ = false;
  int ellipsis = ellipsisWidth_;
  FirePaintText(info.Node, canvas, ttNormal, info.Column);
  if (fontChanged_) {
    ellipsis = 0;  // measured again by the shortening
    info.NodeWidth = 2 * TextMargin + int(WideExtent(canvas->Handle(), source).cx);
  }
  if ((info.Node->States & vsDisabled) || !GetEnabled())
    canvas->Font()->SetColor(Colors()->Get<TVTColors::DisabledColor>());
  RECT rect = info.ContentRect;
  rect.left += TextMargin;
  rect.right -= TextMargin;
  const bool rightToLeft = CellRightToLeft(t, info.Column, UseRightToLeftReading());
  UINT flags = DT_SINGLELINE | DT_VCENTER;
  if (rightToLeft) flags |= DT_RTLREADING;
  auto alignFlag = [&] {
    return info.Alignment == kAlignRight ? UINT(DT_RIGHT) : info.Alignment == kAlignCenter ? UINT(DT_CENTER) : 0u;
  };
  std::u16string text = source;
  if (!t.ColumnLayout.HasColumns()) {
    flags |= alignFlag();
  } else if (rect.right - rect.left < info.NodeWidth - 2 * TextMargin) {
    text = ShortenCellText(canvas, info.Node, info.Column, source, rect.right - rect.left, rightToLeft, ellipsis);
    if (info.Alignment == kAlignRight) flags |= DT_RIGHT;
  } else {
    flags |= alignFlag();
  }
  DrawCanvasText(canvas, text, flags, rect);
}

void TCustomVirtualStringTree::PaintStaticText(TVTPaintInfo& info, const std::u16string& text) {
  TCanvas* canvas = textCanvas_;
  canvas->Font()->Assign(GetFont());
  PrepareTextColors(info, false);
  FirePaintText(info.Node, canvas, ttStatic, info.Column);
  if ((info.Node->States & vsDisabled) || !GetEnabled())
    canvas->Font()->SetColor(Colors()->Get<TVTColors::DisabledColor>());
  RECT rect = info.ContentRect;
  if (info.Alignment == kAlignRight)
    rect.right -= info.NodeWidth + TextMargin;
  else
    rect.left += info.NodeWidth + TextMargin;
  UINT flags = DT_SINGLELINE | DT_VCENTER;
  if (CellRightToLeft(Tree(), info.Column, UseRightToLeftReading())) flags |= DT_RTLREADING;
  DrawCanvasText(canvas, text, flags, rect);
}

void TCustomVirtualStringTree::PaintNodeContent(TVTPaintInfo& info) {
  if (!info.Node) return;
  textCanvas_->SetHandle(info.DC);
  TFont* font = textCanvas_->Font();
  savedFontChange_ = font->OnChange;
  font->OnChange = TNotifyEvent::Bind<&TCustomVirtualStringTree::FontChanged>(this);
  try {
    const std::u16string text = CellText(info.Node, info.Column);
    if (!text.empty()) PaintNormalText(info, text);
    if (Tree().Alignment != kAlignCenter && (StringTree().StringOptionBits & toShowStaticText)) {
      const std::u16string extra = StaticText(info.Node, info.Column);
      if (!extra.empty()) PaintStaticText(info, extra);
    }
  } catch (...) {
    font->OnChange = savedFontChange_;
    textCanvas_->SetHandle(nullptr);
    throw;
  }
  font->OnChange = savedFontChange_;
  textCanvas_->SetHandle(nullptr);
}

std::size_t TCustomVirtualStringTree::AdvancePaintColumn(TVTPaintInfo& info, std::size_t position) {
  TVTRect cell{int(info.CellRect.left), int(info.CellRect.top), int(info.CellRect.right), int(info.CellRect.bottom)};
  const std::size_t next = StringTree().AdvancePaintColumn(info.Node, position, cell);
  info.CellRect.right = cell.Right;
  return next;
}

std::u16string TCustomVirtualStringTree::GetNodeHint(TVTNode* node, int column, bool text) {
  if (text) return CellText(node, column);
  return inherited::GetNodeHint(node, column, text);
}

void TCustomVirtualStringTree::GetCellEditInfo(TVTNode* node, int column, std::u16string& text, RECT& rect,
                                               TFont* font) {
  if (font) font->Assign(GetFont());
  TCanvas* canvas = MeasureCanvas();
  canvas->Font()->Assign(GetFont());
  TFont* canvasFont = canvas->Font();
  savedFontChange_ = canvasFont->OnChange;
  canvasFont->OnChange = TNotifyEvent::Bind<&TCustomVirtualStringTree::FontChanged>(this);
  fontChanged_ = false;
  try {
    FirePaintText(node, canvas, ttNormal, column);
  } catch (...) {
    canvasFont->OnChange = savedFontChange_;
    throw;
  }
  canvasFont->OnChange = savedFontChange_;
  int height = textHeight_;
  if (fontChanged_) {
    if (font) font->Assign(canvasFont);
    TEXTMETRICW metrics{};
    if (GetTextMetricsW(canvas->Handle(), &metrics)) height = int(metrics.tmHeight);
  }
  TVTRect r;
  StringTree().GetCellEditInfo(node, column, height, text, r);
  rect = RECT{r.Left, r.Top, r.Right, r.Bottom};
}

// --- The owner-draw tree ---------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TCustomVirtualDrawTree)

int TCustomVirtualDrawTree::MeasureNodeWidth(TVTNode* node, int column) {
  int width = 2 * TextMargin;
  if (OnGetNodeWidth) {
    HDC dc = GetDC(nullptr);
    try {
      OnGetNodeWidth(this, dc, node, column, width);
    } catch (...) {
      ReleaseDC(nullptr, dc);
      throw;
    }
    ReleaseDC(nullptr, dc);
  }
  return width;
}

void TCustomVirtualDrawTree::PaintNodeContent(TVTPaintInfo& info) {
  if (OnDrawNode) OnDrawNode(this, info);
}

// --- The editor ------------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TVTEdit)

TVTEdit::TVTEdit(TComponent* owner, TStringEditLink* link) : TUcxCustomEdit(owner), link_(link) {
  SetShowHint(false);
  SetParentShowHint(false);
}

void TVTEdit::Destroy() {
  AcceptTextBeforeDestroy();
  if (link_) link_->edit_ = nullptr;
  link_ = nullptr;
  inherited::Destroy();
}

void TVTEdit::AcceptTextBeforeDestroy() {
  if (accepted_ || !link_ || link_->stopping_ || !link_->tree_ || !HandleAllocated()) return;
  accepted_ = true;
  TCustomVirtualStringTree* tree = link_->tree_;
  if (!(tree->StringTree().StringOptionBits & toAutoAcceptEditChange) || !GetModified()) return;
  // Read as UTF-16: characters outside the code page survive.
  tree->SetNodeText(link_->node_, link_->column_, GetWideText());
}

void TVTEdit::Dispatch(TMessage& msg) {
  TCustomVirtualStringTree* tree = link_ ? link_->tree_ : nullptr;
  switch (msg.Msg) {
    case WM_KEYDOWN:
      if (msg.WParam == VK_RETURN && tree) {
        tree->Tree().EndEditNode();
        msg.Result = 0;
        return;
      }
      if (msg.WParam == VK_ESCAPE && tree) {
        msg.Result = tree->Perform(msg.Msg, msg.WParam, msg.LParam);
        return;
      }
      if (msg.WParam == VK_UP) msg.WParam = VK_LEFT;
      if (msg.WParam == VK_DOWN) msg.WParam = VK_RIGHT;
      break;
    case WM_CHAR:
      // Tab and Esc never reach the text; nor do line breaks in this one-line editor.
      if (msg.WParam == VK_TAB || msg.WParam == VK_ESCAPE || msg.WParam == '\r' || msg.WParam == '\n') {
        msg.Result = 0;
        return;
      }
      break;
    case WM_GETDLGCODE:
      inherited::Dispatch(msg);
      msg.Result |= DLGC_WANTTAB;
      return;
    case WM_DESTROY:
      AcceptTextBeforeDestroy();
      break;
    case CN_BASE + WM_COMMAND:
      if (HIWORD(msg.WParam) == EN_UPDATE) AutoAdjustSize();
      break;
    default:
      break;
  }
  inherited::Dispatch(msg);
}

void TVTEdit::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  params.Style |= ES_MULTILINE;
  params.Style &= ~DWORD(ES_RIGHT | ES_CENTER);
  if (Alignment == kAlignRight)
    params.Style |= ES_RIGHT;
  else if (Alignment == kAlignCenter)
    params.Style |= ES_CENTER;
  TCustomVirtualStringTree* tree = link_ ? link_->tree_ : nullptr;
  if (tree && tree->Tree().HasTreeState(tsUseThemes)) {
    params.Style &= ~DWORD(WS_BORDER);
    params.ExStyle |= WS_EX_CLIENTEDGE;
  } else {
    params.Style |= WS_BORDER;
    params.ExStyle &= ~DWORD(WS_EX_CLIENTEDGE);
  }
}

void TVTEdit::AutoAdjustSize() {
  if (!link_ || !link_->tree_ || !HandleAllocated()) return;
  TCustomVirtualStringTree* tree = link_->tree_;
  if (tree->Tree().OptionBits.Misc & (1u << 4)) return;
  SendMessageW(WindowHandle(), WM_SETREDRAW, FALSE, 0);
  try {
    HDC dc = GetDC(WindowHandle());
    HGDIOBJ old = SelectObject(dc, GetFont()->Handle());
    const int width = int(WideExtent(dc, GetWideText()).cx) + 2 * tree->TextMargin;
    SelectObject(dc, old);
    ReleaseDC(WindowHandle(), dc);
    if (width < GetWidth() && link_->node_) tree->Tree().InvalidateNodeArea(link_->node_);
    const RECT bounds = BoundsRect();
    TVTRect r{bounds.left, bounds.top, bounds.left + width, bounds.bottom};
    if (link_->alignment_ == kAlignRight) r = TVTRect{bounds.right - width, bounds.top, bounds.right, bounds.bottom};
    link_->PlaceEditor(r);
  } catch (...) {
    SendMessageW(WindowHandle(), WM_SETREDRAW, TRUE, 0);
    throw;
  }
  SendMessageW(WindowHandle(), WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(WindowHandle(), nullptr, TRUE);
}

// --- The edit link ---------------------------------------------------------------------------------

TStringEditLink::TStringEditLink() {
  edit_ = New<TVTEdit>(nullptr, this);
  edit_->SetVisible(false);
  edit_->SetBorderStyle(bsSingle);
  edit_->SetAutoSize(false);
}

TStringEditLink::~TStringEditLink() {
  if (TVTEdit* edit = edit_) {
    edit->link_ = nullptr;
    edit_ = nullptr;
    try {
      edit->Free();
    } catch (...) {
      if (Application) Application->HandleException(nullptr);
    }
  }
}

bool TStringEditLink::StartEditing() {
  if (stopping_ || !edit_) return !stopping_;
  edit_->Show();
  edit_->SelectAll();
  edit_->SetFocus();
  return true;
}

bool TStringEditLink::AbandonEditing() {
  const bool result = !stopping_;
  if (stopping_) return result;
  stopping_ = true;
  if (edit_) edit_->Hide();
  if (tree_) tree_->Tree().CancelEditNode();
  return result;
}

bool TStringEditLink::FinishEditing() {
  const bool result = !stopping_;
  if (stopping_) return result;
  stopping_ = true;
  try {
    // Read as UTF-16: characters outside the code page survive.
    if (edit_ && tree_ && edit_->GetModified()) tree_->SetNodeText(node_, column_, edit_->GetWideText());
    if (edit_) edit_->Hide();
  } catch (...) {
    stopping_ = false;
    throw;
  }
  return result;
}

bool TStringEditLink::PrepareEditing(TObject* tree, TVTNode* node, int column) {
  auto* stringTree = dynamic_cast<TCustomVirtualStringTree*>(tree);
  if (!stringTree || !edit_) return false;
  tree_ = stringTree;
  node_ = node;
  column_ = column;
  std::u16string text;
  stringTree->GetCellEditInfo(node, column, text, textBounds_, edit_->GetFont());
  edit_->GetFont()->SetColor(clBlack);
  edit_->SetParent(stringTree);
  // The wide setter keeps characters outside the code page.
  WideControlSetText(edit_, text);
  edit_->SetModified(false);
  TBiDiMode mode = stringTree->GetBiDiMode();
  alignment_ = stringTree->Tree().Alignment;
  for (const TVTColumnInfo& c : stringTree->Tree().ColumnLayout.Columns) {
    if (c.Index != column) continue;
    mode = c.RightToLeft ? bdRightToLeft : bdLeftToRight;
    alignment_ = c.Alignment;
  }
  if (mode == bdRightToLeft && alignment_ != kAlignCenter)
    alignment_ = alignment_ == kAlignLeft ? kAlignRight : kAlignLeft;
  edit_->SetBiDiMode(mode);
  if (edit_->Alignment != alignment_) {
    edit_->Alignment = alignment_;
    if (edit_->HandleAllocated()) edit_->RecreateWnd();
  }
  return true;
}

TVTRect TStringEditLink::EditorBounds() {
  if (!edit_) return {};
  const RECT r = edit_->BoundsRect();
  return TVTRect{r.left, r.top, r.right, r.bottom};
}

void TStringEditLink::ForwardMessage(TMessage& msg) {
  if (edit_) edit_->WndProc(msg);
}

void TStringEditLink::PlaceEditor(const TVTRect& rect) {
  if (stopping_ || !edit_ || !tree_) return;
  const TVTRect bounds =
      TVirtualStringTreeCore::PlaceEditorBounds(rect, alignment_ == kAlignRight, tree_->ClientWidth());
  edit_->SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Bottom - bounds.Top);
  if (!edit_->HandleAllocated()) return;
  RECT client{};
  GetClientRect(edit_->WindowHandle(), &client);
  const TVTRect format = TVirtualStringTreeCore::EditorFormatRect(
      TVTRect{client.left, client.top, client.right, client.bottom}, tree_->TextMargin,
      tree_->Tree().HasTreeState(tsUseThemes), textBounds_.top, bounds.Top);
  const RECT r{format.Left, format.Top, format.Right, format.Bottom};
  SendMessageW(edit_->WindowHandle(), EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&r));
}
