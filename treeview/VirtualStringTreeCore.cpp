#include "VirtualStringTreeCore.h"

#include <algorithm>
#include <cstring>

#include "Streams.h"

TVirtualStringTreeCore::TVirtualStringTreeCore(TObject* owner, TVirtualTreeHost* host)
    : TVirtualTreeCore(owner, host), textWidthOffset_(ReserveInternalNodeData(4)) {}

void TVirtualStringTreeCore::DoGetText(TVTNode* node, int column, int kind, std::u16string& text) {
  if (OnGetText) OnGetText(Owner(), node, column, kind, text);
}

void TVirtualStringTreeCore::DoNewText(TVTNode* node, int column, const std::u16string& text) {
  if (OnNewText) OnNewText(Owner(), node, column, text);
}

std::u16string TVirtualStringTreeCore::CellText(TVTNode* node, int column) {
  if (!node) return {};
  if (!(node->States & vsInitialized)) InitializeNodeOnDemand(node);
  std::u16string text = DefaultText;
  DoGetText(node, column, ttNormal, text);
  return text;
}

std::u16string TVirtualStringTreeCore::StaticText(TVTNode* node, int column) {
  std::u16string text;
  if (node) DoGetText(node, column, ttStatic, text);
  return text;
}

void TVirtualStringTreeCore::SetNodeText(TVTNode* node, int column, const std::u16string& text) {
  DoNewText(node, column, text);
}

int TVirtualStringTreeCore::MeasureTextWidth(TVTNode* node, const std::u16string& text, int column) {
  int width = 2 * TextMargin;
  if (!text.empty()) width += MeasureTextExtent(node, column, text);
  return width;
}

std::uint32_t TVirtualStringTreeCore::CachedTextWidth(const TVTNode* node) const {
  std::uint32_t width = 0;
  if (node) std::memcpy(&width, reinterpret_cast<const char*>(node) + textWidthOffset_, sizeof width);
  return width;
}

void TVirtualStringTreeCore::SetCachedTextWidth(TVTNode* node, std::uint32_t width) {
  if (node) std::memcpy(reinterpret_cast<char*>(node) + textWidthOffset_, &width, sizeof width);
}

void TVirtualStringTreeCore::ResetTextWidths() {
  for (TVTNode* n = FirstNodeRaw(); n; n = NextNodeRaw(n)) SetCachedTextWidth(n, 0);
}

int TVirtualStringTreeCore::MeasureNodeWidth(TVTNode* node, int column) {
  if (!node) return 0;
  if (column != MainColumn()) return MeasureTextWidth(node, CellText(node, column), column);
  std::uint32_t width = CachedTextWidth(node);
  if (width == 0) {
    width = std::uint32_t(std::max(0, MeasureTextWidth(node, CellText(node, column), column)));
    SetCachedTextWidth(node, width);
  }
  return int(width);
}

std::size_t TVirtualStringTreeCore::AdvancePaintColumn(TVTNode* node, std::size_t position, TVTRect& cell) {
  const auto& columns = ColumnLayout.Columns;
  std::size_t next = position + 1;
  if (!(OptionBits.Auto & (1u << 5)) || position >= columns.size() || columns[position].RightToLeft) return next;
  while (next < columns.size() && !columns[next].RightToLeft && ColumnIsEmpty(node, columns[next].Index)) {
    cell.Right += columns[next].Width;
    ++next;
  }
  return next;
}

TVTRect TVirtualStringTreeCore::CenterEditRect(TVTRect rect, int textHeight, bool gridLines) {
  if (gridLines) --rect.Bottom;
  const int shift = (rect.Top + textHeight - rect.Bottom) / 2;
  rect.Top -= shift;
  rect.Bottom += shift;
  return rect;
}

void TVirtualStringTreeCore::GetCellEditInfo(TVTNode* node, int column, int textHeight, std::u16string& text,
                                             TVTRect& rect) {
  text = CellText(node, column);
  rect = CenterEditRect(ComputeNodeCellRect(node, column, true, false), textHeight, OptionBits.Paint & (1u << 7));
}

TVTRect TVirtualStringTreeCore::PlaceEditorBounds(TVTRect rect, bool rightAligned, int clientWidth) {
  if (rect.Left < 0) rect.Left = 0;
  if (rect.Width() < kMinimumEditorWidth) {
    if (rightAligned)
      rect.Left = rect.Right - kMinimumEditorWidth;
    else
      rect.Right = rect.Left + kMinimumEditorWidth;
  }
  // Moving the left edge for right alignment must not take it past 0 again.
  if (rect.Left < 0) {
    rect.Left = 0;
    rect.Right = std::max(rect.Right, kMinimumEditorWidth);
  }
  if (rect.Right > clientWidth) {
    rect.Right = std::max(clientWidth, 0);
    // Clipped at the client's edge, the editor keeps its minimum width by moving left.
    if (rect.Width() < kMinimumEditorWidth) rect.Left = std::max(0, rect.Right - kMinimumEditorWidth);
  }
  return rect;
}

TVTRect TVirtualStringTreeCore::EditorFormatRect(TVTRect client, int textMargin, bool themed, int textTop,
                                                 int editorTop) {
  const int b = themed ? 3 : 2;
  const int across = b - textMargin;
  client.Left -= across;
  client.Right += across;
  client.Top -= b;
  client.Bottom += b;
  const int down = textTop - editorTop;
  client.Top += down;
  client.Bottom += down;
  return client;
}

void TVirtualStringTreeCore::SaveNodeChunks(TStream& stream, TVTNode* node) {
  TVirtualTreeCore::SaveNodeChunks(stream, node);
  if (!(StringOptionBits & toSaveCaptions) || !node || !node->Parent || !(node->States & vsInitialized)) return;
  const std::u16string text = CellText(node, MainColumn());
  if (text.empty()) return;
  std::uint8_t header[8];
  const std::uint32_t values[2] = {std::uint32_t(kCaptionChunk), std::uint32_t(2 * text.size())};
  for (int i = 0; i < 8; ++i) header[i] = std::uint8_t(values[i / 4] >> (8 * (i % 4)));
  stream.WriteBuffer(header, sizeof header);
  std::string bytes(2 * text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = char(text[i] & 0xFF);
    bytes[2 * i + 1] = char(text[i] >> 8);
  }
  stream.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
}

bool TVirtualStringTreeCore::LoadChunkFromStream(TStream& stream, int version, std::int32_t size, std::int32_t type,
                                                 TVTNode* node) {
  if (type != kCaptionChunk) return TVirtualTreeCore::LoadChunkFromStream(stream, version, size, type, node);
  if (size < 0 || stream.Size() - stream.Position() < size) RaiseTreeError(LoadResStringW(SStreamTooSmall), 2004);
  std::string bytes(std::size_t(size / 2) * 2, '\0');
  stream.ReadBuffer(bytes.data(), std::int64_t(bytes.size()));
  std::u16string text(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    text[i] = char16_t(std::uint8_t(bytes[2 * i]) | (std::uint8_t(bytes[2 * i + 1]) << 8));
  if (node && node->Parent) SetNodeText(node, MainColumn(), text);
  return true;
}

void TVirtualStringTreeCore::ResetNodeCaches() {
  TVirtualTreeCore::ResetNodeCaches();
  ResetTextWidths();
}

void TVirtualStringTreeCore::InvalidateNodeArea(TVTNode* node) {
  SetCachedTextWidth(node, 0);
  TVirtualTreeCore::InvalidateNodeArea(node);
}

void TVirtualStringTreeCore::RedoNodeInitialization(TVTNode* node, bool recursive) {
  SetCachedTextWidth(node, 0);
  TVirtualTreeCore::RedoNodeInitialization(node, recursive);
}
