// The string tree's portable half: the text of a node's cells through the
// get-text event, the cached width of the main column's text (4 bytes of
// internal node data), the caption chunk of node streams, column spanning
// over empty cells and the in-place editor's rectangle arithmetic. The
// window half (win/) measures and paints the text and runs the editor.
#pragma once

#include <cstdint>
#include <string>

#include "VirtualTreeCore.h"

// Text kinds of the get-text and paint-text events.
constexpr int ttNormal = 0, ttStatic = 1;
// String option bits: save captions, show static text, accept the edit text when the editor goes.
constexpr std::uint8_t toSaveCaptions = 0x01, toShowStaticText = 0x02, toAutoAcceptEditChange = 0x04;
constexpr std::uint8_t kDefaultStringOptions = 0x05;
// The narrowest the in-place editor gets.
constexpr int kMinimumEditorWidth = 30;

class TVirtualStringTreeCore : public TVirtualTreeCore {
 public:
  TVirtualStringTreeCore(TObject* owner, TVirtualTreeHost* host);

  // Get-text (node, column, kind, text by reference) and new-text (node, column, text).
  Method<void(TObject*, TVTNode*, int, int, std::u16string&)> OnGetText;
  Method<void(TObject*, TVTNode*, int, const std::u16string&)> OnNewText;

  std::u16string DefaultText = u"Node";
  std::uint8_t StringOptionBits = kDefaultStringOptions;  // kept by the string options
  int TextMargin = 4;

  // The cell's text: the node initialised when needed, the default text handed to the get-text event.
  std::u16string CellText(TVTNode* node, int column);
  // The static text: the get-text event with kind 1, starting empty.
  std::u16string StaticText(TVTNode* node, int column);
  // Fires the new-text event.
  virtual void SetNodeText(TVTNode* node, int column, const std::u16string& text);
  // 2 x the text margin, plus the text's extent for a text that is not empty.
  int MeasureTextWidth(TVTNode* node, const std::u16string& text, int column);
  // The main column's width comes from the cache (measured and stored when 0);
  // other columns are measured every time.
  int MeasureNodeWidth(TVTNode* node, int column);
  // The cached main-column width (0: not measured yet).
  std::uint32_t CachedTextWidth(const TVTNode* node) const;
  void SetCachedTextWidth(TVTNode* node, std::uint32_t width);
  // Forgets every node's cached width.
  void ResetTextWidths();

  // Column spanning: the position (index into ColumnLayout.Columns) to paint
  // after the cell at `position`. With auto option bit 5 and columns, a
  // left-to-right cell's right edge grows over the following empty
  // left-to-right cells, which are then skipped.
  std::size_t AdvancePaintColumn(TVTNode* node, std::size_t position, TVTRect& cell);

  // The editor's text and rectangle for a cell: the node's text rectangle
  // (less the bottom grid line with paint option bit 7), centred on a text
  // `textHeight` high.
  void GetCellEditInfo(TVTNode* node, int column, int textHeight, std::u16string& text, TVTRect& rect);
  // Where the editor goes for a rectangle: never left of 0, never narrower
  // than 30 pixels (keeping the right edge for right alignment), never past
  // the client width.
  static TVTRect PlaceEditorBounds(TVTRect rect, bool rightAligned, int clientWidth);
  // The editor's formatting rectangle: its client rectangle grown by
  // (b - text margin) across and b down and up (b = 2, 3 when themed),
  // moved down by textTop - editorTop.
  static TVTRect EditorFormatRect(TVTRect client, int textMargin, bool themed, int textTop, int editorTop);
  // The text rectangle moved to centre a text `textHeight` high.
  static TVTRect CenterEditRect(TVTRect rect, int textHeight, bool gridLines);

  // Streams: the caption chunk after the base chunks (string option bit 0).
  void SaveNodeChunks(TStream& stream, TVTNode* node) override;
  bool LoadChunkFromStream(TStream& stream, int version, std::int32_t size, std::int32_t type, TVTNode* node) override;

  void ResetNodeCaches() override;
  void InvalidateNodeArea(TVTNode* node) override;
  void RedoNodeInitialization(TVTNode* node, bool recursive) override;

 protected:
  virtual void DoGetText(TVTNode* node, int column, int kind, std::u16string& text);
  virtual void DoNewText(TVTNode* node, int column, const std::u16string& text);
  // The text's extent in the tree's font; the window measures, the base says 0.
  virtual int MeasureTextExtent(TVTNode* /*node*/, int /*column*/, const std::u16string& /*text*/) { return 0; }
  int DoGetNodeWidth(TVTNode* node, int column) override { return MeasureNodeWidth(node, column); }
  bool ColumnIsEmpty(TVTNode* node, int column) override { return CellText(node, column).empty(); }

 private:
  std::size_t textWidthOffset_;
};
