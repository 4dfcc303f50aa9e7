#include "VirtualStringTreeTransferWin.h"

#include <cstring>

#include "VirtualStringTreesWin.h"
#include "VirtualTreeColumns.h"
#include "VirtualTrees.h"

namespace {

CLIPFORMAT Registered(std::uint16_t& id, const char* name) {
  if (!id) id = static_cast<std::uint16_t>(RegisterClipboardFormatA(name));
  return id;
}

HGLOBAL BlockOf(const void* bytes, std::size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, size);
  if (!block) return nullptr;
  void* p = GlobalLock(block);
  if (!p) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(p, bytes, size);
  GlobalUnlock(block);
  return block;
}

HGLOBAL TextBlock(const std::string& text) {
  return text.empty() ? nullptr : BlockOf(text.c_str(), text.size() + 1);
}

}  // namespace

TVTStringTransferTree::TVTStringTransferTree(TVirtualStringTreeCore& tree) : TVTTransferTree(tree), stringTree_(tree) {}

std::string TVTStringTransferTree::ToAnsi(const std::u16string& text) {
  if (text.empty()) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
  return result;
}

std::u16string TVTStringTransferTree::ListSeparator() {
  wchar_t buffer[8] = {};
  const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SLIST, buffer, 8);
  std::u16string separator;
  for (int i = 0; i + 1 < length && buffer[i]; ++i) separator += static_cast<char16_t>(buffer[i]);
  return CsvSeparator(separator);
}

std::vector<FORMATETC> TVTStringTransferTree::OfferedFormats() {
  std::vector<FORMATETC> formats = TVTTransferTree::OfferedFormats();
  const CLIPFORMAT texts[] = {Registered(CF_HTML, "HTML Format"),
                              Registered(CF_VRTFNOOBJS, "Rich Text Format Without Objects"),
                              Registered(CF_VRTF, "Rich Text Format"),
                              Registered(CF_CSV, "CSV"),
                              CF_UNICODETEXT,
                              CF_TEXT};
  for (CLIPFORMAT cf : texts) {
    FORMATETC f{};
    f.cfFormat = cf;
    f.dwAspect = DVASPECT_CONTENT;
    f.lindex = -1;
    f.tymed = TYMED_HGLOBAL;
    formats.push_back(f);
  }
  return formats;
}

HGLOBAL TVTStringTransferTree::ClipboardBlockOfNodes(CLIPFORMAT format, TVSTTextSourceType source) {
  TVTStringTreeCells cells(stringTree_, source, Looks ? Looks() : TVTRenderLooks());
  if (format == CF_TEXT) return TextBlock(TextOfRows(cells, u"\t", ToAnsi));
  if (format == CF_UNICODETEXT) {
    const std::u16string text = WideTextOfRows(cells, u"\t");
    return text.empty() ? nullptr : BlockOf(text.c_str(), (text.size() + 1) * sizeof(char16_t));
  }
  if (format == Registered(CF_CSV, "CSV")) return TextBlock(TextOfRows(cells, ListSeparator(), ToAnsi, true));
  if (format == Registered(CF_VRTF, "Rich Text Format") ||
      format == Registered(CF_VRTFNOOBJS, "Rich Text Format Without Objects"))
    return TextBlock(RichTextOfRows(cells, ToAnsi));
  if (format == Registered(CF_HTML, "HTML Format")) return TextBlock(HtmlClipboardEnvelope(HtmlOfRows(cells)));
  return nullptr;
}

HRESULT TVTStringTransferTree::RenderDataForFormat(const FORMATETC& format, STGMEDIUM& medium, bool forClipboard) {
  medium = STGMEDIUM{};
  try {
    if (format.tymed & TYMED_HGLOBAL) {
      if (HGLOBAL block = ClipboardBlockOfNodes(format.cfFormat, forClipboard ? tstCutCopySet : tstSelected)) {
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = block;
        return S_OK;
      }
    }
    return TVTTransferTree::RenderDataForFormat(format, medium, forClipboard);
  } catch (...) {
    medium = STGMEDIUM{};
    return E_FAIL;
  }
}

// --- The string tree window's transfer -------------------------------------------------------------

namespace {

// The string tree window's side of transfers: the texts and nodes of the
// string transfer, the user formats of the tree and its render event for
// every other format.
class TStringTreeWindowTransfer : public TVTStringTransferTree {
 public:
  explicit TStringTreeWindowTransfer(TCustomVirtualStringTree& tree)
      : TVTStringTransferTree(tree.StringTree()), tree_(tree) {
    Looks = [this] { return tree_.RenderLooks(); };
  }
  // The formats registered for the tree's class (the string tree's own when
  // none are), the extra ones, then what the tree's event adds.
  std::vector<FORMATETC> OfferedFormats() override {
    std::vector<FORMATETC> formats = RegisteredFormatsOf(tree_.ClassType());
    if (formats.empty())
      formats = TVTStringTransferTree::OfferedFormats();
    else
      formats.insert(formats.end(), ExtraFormats.begin(), ExtraFormats.end());
    tree_.FireGetUserClipboardFormats(formats);
    return formats;
  }
  HRESULT RenderDataForFormat(const FORMATETC& format, STGMEDIUM& medium, bool forClipboard) override {
    for (const FORMATETC& own : TVTStringTransferTree::OfferedFormats())
      if (own.cfFormat == format.cfFormat)
        return TVTStringTransferTree::RenderDataForFormat(format, medium, forClipboard);
    medium = STGMEDIUM{};
    return tree_.FireRenderOleData(format, medium, forClipboard);
  }

 private:
  TCustomVirtualStringTree& tree_;
};

TVTRenderFont RenderFontOf(const TFont* font) {
  TVTRenderFont result;
  if (!font) return result;
  const std::string name = font->GetName();
  result.Name.assign(name.begin(), name.end());
  result.Size = font->GetSize();
  result.Bold = font->GetStyle().Contains(fsBold);
  result.Italic = font->GetStyle().Contains(fsItalic);
  result.Underline = font->GetStyle().Contains(fsUnderline);
  result.Color = static_cast<std::uint32_t>(ColorToRGB(font->GetColor()));
  return result;
}

}  // namespace

TVTTransferTree* TCustomVirtualStringTree::CreateTransferTree() {
  return new TStringTreeWindowTransfer(*this);
}

TVTRenderLooks TCustomVirtualStringTree::RenderLooks() {
  TVTRenderLooks looks;
  TVTHeader* header = GetHeader();
  if (TVirtualTreeColumns* columns = header ? header->GetColumns() : nullptr) {
    for (TVirtualTreeColumn* column : columns->VisibleColumnsInOrder()) {
      TVTRenderColumn rendered;
      rendered.Index = column->Index();
      rendered.Caption = column->GetText();
      rendered.Width = column->GetWidth();
      rendered.Alignment = column->GetAlignment() == taRightJustify ? kAlignRight
                           : column->GetAlignment() == taCenter     ? kAlignCenter
                                                                    : kAlignLeft;
      rendered.Color = static_cast<std::uint32_t>(ColorToRGB(column->GetColor()));
      looks.Columns.push_back(rendered);
    }
    if (!looks.Columns.empty()) looks.MainColumn = Tree().MainColumn();
    looks.HeaderFont = RenderFontOf(header->GetFont());
  }
  looks.TreeFont = RenderFontOf(GetFont());
  looks.TreeColor = static_cast<std::uint32_t>(ColorToRGB(GetColor()));
  looks.ButtonFaceColor = static_cast<std::uint32_t>(ColorToRGB(clBtnFace));
  looks.Indent = GetIndent();
  if (HandleAllocated()) {
    RECT client{};
    ::GetClientRect(WindowHandle(), &client);
    looks.ClientWidth = client.right - client.left;
  }
  return looks;
}
