// HTMLabel: THTMLabel, a non-windowed label that shows a mark-up text laid
// out by RenderHtml, with a background gradient, bevels, vertical alignment,
// auto-sizing, clickable anchors with hover styling, anchor hints and
// full-text hints.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ExtCtrls.h"
#include "Forms.h"
#include "HtmlRender.h"
#include "ImgList.h"
#include "PictureContainer.h"
#include "StdCtrls.h"

FW_ENUM(TAutoSizeType, asVertical, asHorizontal, asBoth);
FW_ENUM(TGradientType, gtFullHorizontal, gtFullVertical, gtBottomLine, gtCenterLine, gtTopLine);
FW_ENUM(TVAlignment, tvaTop, tvaCenter, tvaBottom);

using TAnchorClick = Method<void(TObject* sender, const std::string& anchor)>;
using TAnchorHintEvent = Method<void(TObject* sender, std::string& anchor)>;

// Fills `r` with a gradient from one colour to another in `steps` bands
// (0 counts as 1), left to right or top to bottom.
void DrawGradient(TCanvas* canvas, TColor from, TColor to, bool horizontal, const RECT& r, int steps);

class THTMLabel : public TCustomLabel {
  FW_CLASS(THTMLabel, TCustomLabel)
 public:
  explicit THTMLabel(TComponent* owner);
  void Destroy() override;
  void Loaded() override;
  void Paint(HDC dc) override;
  void Dispatch(TMessage& msg) override;

  virtual std::uint32_t VersionNumber() const { return 0x01070000u; }
  virtual std::string GetDisplayText() const;
  virtual void HtmlChanged();
  // Lays the text out with the label's pictures, images and colours.
  virtual HtmlRenderResult DrawHtmlText(TCanvas* canvas, const std::string& text, const RECT& r, POINT p,
                                        int hoveredAnchor, bool hitTestOnly);

  // The target of the anchor under a point in client coordinates (empty when
  // none) and its rectangle ((-1, -1, -1, -1) when none); it also sets the
  // hovered anchor number.
  std::string AnchorAt(int x, int y, RECT& anchorRect);
  // The text size the last paint laid out.
  SIZE PaintedTextSize() const { return painted_; }
  int HoveredAnchor() const { return hoveredAnchor_; }

  TStringList* GetHTMLText() const { return htmlText_; }
  // Joins the lines, every CR and LF removed, into one line.
  void SetHTMLText(TStrings* lines);
  bool GetAnchorHint() const { return anchorHint_; }
  void SetAnchorHint(bool v) { anchorHint_ = v; }
  bool GetAutoSizing() const { return autoSizing_; }
  void SetAutoSizing(bool v);
  TAutoSizeType GetAutoSizeType() const { return autoSizeType_; }
  void SetAutoSizeType(TAutoSizeType v);
  TBevelCut GetBevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut v);
  TBevelCut GetBevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut v);
  int GetBevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int v);
  int GetBorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int v);
  TFormBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle v);
  TColor GetColorTo() const { return colorTo_; }
  void SetColorTo(TColor v);
  bool GetEllipsis() const { return ellipsis_; }
  void SetEllipsis(bool v);
  TGradientType GetGradientType() const { return gradientType_; }
  void SetGradientType(TGradientType v);
  bool GetHintShowFull() const { return hintShowFull_; }
  void SetHintShowFull(bool v) { hintShowFull_ = v; }
  bool GetHover() const { return hover_; }
  void SetHover(bool v);
  TColor GetHoverColor() const { return hoverColor_; }
  void SetHoverColor(TColor v);
  TColor GetHoverFontColor() const { return hoverFontColor_; }
  void SetHoverFontColor(TColor v);
  bool GetHTMLHint() const { return htmlHint_; }
  void SetHTMLHint(bool v) { htmlHint_ = v; }
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* v);
  int GetLineWidth() const { return lineWidth_; }
  void SetLineWidth(int v);
  TPictureContainer* GetPictureContainer() const { return container_; }
  void SetPictureContainer(TPictureContainer* v);
  TColor GetShadowColor() const { return shadowColor_; }
  void SetShadowColor(TColor v);
  int GetShadowOffset() const { return shadowOffset_; }
  void SetShadowOffset(int v);
  TColor GetURLColor() const { return urlColor_; }
  void SetURLColor(TColor v);
  TVAlignment GetVAlignment() const { return vAlignment_; }
  void SetVAlignment(TVAlignment v);
  std::string GetVersion() const;
  void SetVersion(const std::string&) {}
  THTMLPictureCache* PictureCache() const { return cache_; }

  TAnchorClick OnAnchorClick, OnAnchorEnter, OnAnchorExit;
  TAnchorHintEvent OnAnchorHint;

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseLeave() override;

 private:
  void PaintLabel();
  // The text rectangle of Paint without the frames' drawing.
  RECT TextRect();
  void TextChanged(TObject*);
  void ImagesChanged(TObject*);
  void InvalidateAnchor(const RECT& r);
  void HintShow(THintInfo* info);
  TStringList* htmlText_;
  THTMLPictureCache* cache_;
  TChangeLink* imageLink_;
  TCustomImageList* images_ = nullptr;
  TPictureContainer* container_ = nullptr;
  bool anchorHint_ = false, autoSizing_ = false, ellipsis_ = false, hintShowFull_ = false, hover_ = false,
       htmlHint_ = false;
  TAutoSizeType autoSizeType_ = asVertical;
  TBevelCut bevelInner_ = bvNone, bevelOuter_ = bvNone;
  int bevelWidth_ = 1, borderWidth_ = 0, lineWidth_ = 0, shadowOffset_ = 2;
  TFormBorderStyle borderStyle_ = bsNone;
  TColor colorTo_ = clNone, hoverColor_ = clNone, hoverFontColor_ = clNone, shadowColor_ = clGray, urlColor_ = clBlue;
  TGradientType gradientType_ = gtFullHorizontal;
  TVAlignment vAlignment_ = tvaTop;
  std::string lastAnchor_;
  int lastAnchorNumber_ = -1, hoveredAnchor_ = -1;
  RECT hoveredRect_{-1, -1, -1, -1};
  SIZE painted_{0, 0};
};

void RegisterHTMLabelClasses();
