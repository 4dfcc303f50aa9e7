// The string tree (a text per node and column, drawn into its cells and
// edited in place by TVTEdit through TStringEditLink), its options, and the
// owner-draw tree. The text itself, its cached width, spanning and the
// editor's rectangle arithmetic are the portable TVirtualStringTreeCore.
#pragma once

#include <memory>
#include <string>

#include "UcxStdCtrls.h"
#include "VirtualStringTreeCore.h"
#include "VirtualTreeRenderings.h"
#include "VirtualTreesWin.h"

class TCustomVirtualStringTree;
class TStringEditLink;

// The tree options with the string options byte: bit 0 save captions, bit 1
// show static text, bit 2 accept the edit text when the editor goes.
class TCustomStringTreeOptions : public TCustomVirtualTreeOptions {
  FW_CLASS(TCustomStringTreeOptions, TCustomVirtualTreeOptions)

 public:
  TCustomStringTreeOptions(TVirtualStringTreeCore* owner, TCustomVirtualStringTree* tree);
  std::uint8_t StringOptions() const { return stringOptions_; }
  // Changing the static-text bit repaints the tree (not while it loads, only with a window).
  void SetStringOptions(std::uint8_t value);

 protected:
  // Into another string tree's options: the byte, then the five sets.
  void AssignTo(TPersistent* destination) override;

 private:
  TVirtualStringTreeCore* core_;
  TCustomVirtualStringTree* tree_;
  std::uint8_t stringOptions_ = kDefaultStringOptions;
};

// The tree whose nodes carry text in columns. It keeps no text: the
// get-text event gives it, the new-text event takes an edited text.
class TCustomVirtualStringTree : public TBaseVirtualTree {
  FW_CLASS(TCustomVirtualStringTree, TBaseVirtualTree)

 public:
  explicit TCustomVirtualStringTree(TComponent* owner);
  void Destroy() override;

  TVirtualStringTreeCore& StringTree();
  TCustomStringTreeOptions* StringTreeOptions() const;
  TCustomVirtualTreeOptions* CreateOptions() override;

  // The initial value of every get-text request ("Node").
  std::u16string GetDefaultText();
  void SetDefaultText(const std::u16string& text);
  // The font's text height and the width of "..." (measured when the font is set).
  int TextHeight() const { return textHeight_; }
  int EllipsisWidth() const { return ellipsisWidth_; }

  std::u16string CellText(TVTNode* node, int column) { return StringTree().CellText(node, column); }
  std::u16string StaticText(TVTNode* node, int column) { return StringTree().StaticText(node, column); }
  // The renderings' looks from the header's visible columns, the fonts and the colours.
  TVTRenderLooks RenderLooks();
  // 2 x the text margin; for a text that is not empty also its extent in
  // the tree's font after the paint-text event (a null canvas: the tree's own).
  int MeasureTextWidth(TCanvas* canvas, TVTNode* node, const std::u16string& text, int column);
  // Fires the new-text event.
  virtual void SetNodeText(TVTNode* node, int column, const std::u16string& text);
  // The editor's text, rectangle (client coordinates) and font for a cell.
  virtual void GetCellEditInfo(TVTNode* node, int column, std::u16string& text, RECT& rect, TFont* font);

  // Text kinds: ttNormal, ttStatic.
  Method<void(TObject*, TVTNode*, int column, int kind, std::u16string& text)> OnGetText;
  Method<void(TObject*, TVTNode*, int column, const std::u16string& text)> OnNewText;
  // The canvas's font may be changed for the text about to be drawn or measured.
  Method<void(TObject*, TCanvas*, TVTNode*, int column, int kind)> OnPaintText;
  // Shortens `text` to `width` pixels; `done` false leaves it to the tree.
  Method<void(TObject*, TCanvas*, TVTNode*, int column, const std::u16string& text, int width, std::u16string& result,
              bool& done)>
      OnShortenString;

 protected:
  class StringCore;
  void Dispatch(TMessage& msg) override;
  void DefineProperties(TFiler& filer) override;
  virtual void DoGetText(TVTNode* node, int column, int kind, std::u16string& text);
  virtual void DoNewText(TVTNode* node, int column, const std::u16string& text);
  virtual void FirePaintText(TVTNode* node, TCanvas* canvas, int kind, int column);
  virtual std::u16string ShortenCellText(TCanvas* canvas, TVTNode* node, int column, const std::u16string& text,
                                         int width, bool rightToLeft, int ellipsisWidth);
  int MeasureNodeWidth(TVTNode* node, int column) override;
  std::size_t AdvancePaintColumn(TVTPaintInfo& info, std::size_t position) override;
  void PaintNodeContent(TVTPaintInfo& info) override;
  std::u16string GetNodeHint(TVTNode* node, int column, bool text) override;
  // Measures the text height and the width of "..." in the current font;
  // every node's cached width goes.
  void MeasureFontMetrics();
  // The string tree's transfer side: its texts besides its nodes.
  TVTTransferTree* CreateTransferTree() override;

 private:
  void PaintNormalText(TVTPaintInfo& info, const std::u16string& text);
  void PaintStaticText(TVTPaintInfo& info, const std::u16string& text);
  void PrepareTextColors(TVTPaintInfo& info, bool withHot);
  void FontChanged(TObject* sender);
  // A canvas on a memory DC, for measuring outside painting.
  TCanvas* MeasureCanvas();
  TCanvas* textCanvas_ = nullptr;
  TCanvas* measureCanvas_ = nullptr;
  HDC measureDC_ = nullptr;
  TNotifyEvent savedFontChange_;
  bool fontChanged_ = false;
  int textHeight_ = 18;
  int ellipsisWidth_ = 0;
};

// The owner-draw tree: the draw-node event paints each cell, the
// get-node-width event gives the content width.
class TCustomVirtualDrawTree : public TBaseVirtualTree {
  FW_CLASS(TCustomVirtualDrawTree, TBaseVirtualTree)

 public:
  using TBaseVirtualTree::TVTPaintInfo;
  explicit TCustomVirtualDrawTree(TComponent* owner) : TBaseVirtualTree(owner) {}
  Method<void(TObject*, const TVTPaintInfo&)> OnDrawNode;
  Method<void(TObject*, HDC, TVTNode*, int column, int& width)> OnGetNodeWidth;

 protected:
  int MeasureNodeWidth(TVTNode* node, int column) override;
  void PaintNodeContent(TVTPaintInfo& info) override;
};

// The in-place editor: a single-line Unicode edit owned by its link.
class TVTEdit : public TUcxCustomEdit {
  FW_CLASS(TVTEdit, TUcxCustomEdit)

 public:
  TVTEdit(TComponent* owner, TStringEditLink* link);
  void Destroy() override;
  TStringEditLink* Link() const { return link_; }
  // The alignment of the text (0 left, 1 right, 2 centre), a window style.
  int Alignment = 0;

 protected:
  friend class TStringEditLink;
  void Dispatch(TMessage& msg) override;
  void CreateParams(TCreateParams& params) override;
  // Grows (or shrinks) the editor to its text on EN_UPDATE.
  void AutoAdjustSize();

 private:
  void AcceptTextBeforeDestroy();
  TStringEditLink* link_;
  bool accepted_ = false;
};

// The edit link of the string tree: prepares, places, starts, ends and
// cancels the editor for one cell. Held by the tree through a shared pointer.
class TStringEditLink : public IVTEditLink {
 public:
  TStringEditLink();
  ~TStringEditLink() override;

  bool StartEditing() override;
  bool AbandonEditing() override;
  bool FinishEditing() override;
  bool PrepareEditing(TObject* tree, TVTNode* node, int column) override;
  TVTRect EditorBounds() override;
  // Passes a message to the editor's window procedure.
  void ForwardMessage(TMessage& msg);
  void PlaceEditor(const TVTRect& rect) override;

  TVTEdit* Editor() const { return edit_; }
  TCustomVirtualStringTree* Tree() const { return tree_; }
  TVTNode* Node() const { return node_; }
  int Column() const { return column_; }
  bool Stopping() const { return stopping_; }
  int Alignment() const { return alignment_; }
  const RECT& TextBounds() const { return textBounds_; }

 private:
  friend class TVTEdit;
  TVTEdit* edit_ = nullptr;
  TCustomVirtualStringTree* tree_ = nullptr;
  TVTNode* node_ = nullptr;
  int column_ = NoColumn;
  int alignment_ = 0;
  RECT textBounds_{};
  bool stopping_ = false;
};
