// THTMLabel: a label that shows a mark-up text (HTMLText). This plain version
// shows the text without its mark-up in a STATIC window of its own: a <BR>
// tag becomes a line break, other tags are dropped and the common character
// entities are decoded. The window's text (WM_GETTEXT) is that plain text, and
// a click on the label fires OnClick.
#pragma once

#include <string>
#include <string_view>

#include "Controls.h"
#include "Graphics.h"

FW_ENUM(TAutoSizeType, asVertical, asHorizontal, asBoth);
FW_ENUM(TGradientType, gtFullHorizontal, gtFullVertical, gtBottomLine, gtCenterLine, gtTopLine);
FW_ENUM(TVAlignment, tvaTop, tvaCenter, tvaBottom);

// The text of a mark-up text as the plain label shows it.
std::string HtmlToPlainText(std::string_view html);

class THTMLabel : public TWinControl {
  FW_CLASS(THTMLabel, TWinControl)
 public:
  explicit THTMLabel(TComponent* owner);

  std::string GetHTMLText() const { return htmlText_; }
  void SetHTMLText(const std::string& text);

  // Stored for the full label; the plain one draws without them.
  bool AutoSizing = false;
  TAutoSizeType AutoSizeType = asVertical;
  bool Ellipsis = false;
  TGradientType GradientType = gtFullHorizontal;
  bool HTMLHint = false;
  TColor ShadowColor = clGray;
  int ShadowOffset = 2;
  TColor URLColor = clBlue;
  TVAlignment VAlignment = tvaTop;
  std::string Version = "1.7.0.0";

  void Dispatch(TMessage& msg) override;

 protected:
  void CreateParams(TCreateParams& params) override;

 private:
  std::string htmlText_;
};

// The unit's initialization: registers the class for form streaming.
void InitHTMLabel();
