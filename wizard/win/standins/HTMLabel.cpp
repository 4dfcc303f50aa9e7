#include "HTMLabel.h"

#include <cctype>

#include "StdCtrls.h"
#include "SysUtils.h"

FW_BEGIN_CLASS(THTMLabel)
  FW_PROP(HTMLText, GetHTMLText, SetHTMLText)
  FW_PROP(AutoSizing, AutoSizing, AutoSizing)
  FW_DEFAULT(0)
  FW_PROP(AutoSizeType, AutoSizeType, AutoSizeType)
  FW_DEFAULT(asVertical)
  FW_PROP(Ellipsis, Ellipsis, Ellipsis)
  FW_DEFAULT(0)
  FW_PROP(GradientType, GradientType, GradientType)
  FW_DEFAULT(gtFullHorizontal)
  FW_PROP(HTMLHint, HTMLHint, HTMLHint)
  FW_DEFAULT(0)
  FW_PROP(ShadowColor, ShadowColor, ShadowColor)
  FW_PROP(ShadowOffset, ShadowOffset, ShadowOffset)
  FW_DEFAULT(2)
  FW_PROP(URLColor, URLColor, URLColor)
  FW_PROP(VAlignment, VAlignment, VAlignment)
  FW_DEFAULT(tvaTop)
  FW_PROP(Version, Version, Version)
FW_END_CLASS

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string HtmlToPlainText(std::string_view html) {
  static const struct {
    std::string_view entity;
    char ch;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&nbsp;", ' '}};
  std::string out;
  std::size_t i = 0;
  while (i < html.size()) {
    const char ch = html[i];
    if (ch == '<') {
      const std::size_t end = html.find('>', i);
      if (end == std::string_view::npos) {  // an unclosed tag shows as text
        out.append(html.substr(i));
        break;
      }
      const std::string_view tag = html.substr(i + 1, end - i - 1);
      if (StartsWithNoCase(tag, "BR") && (tag.size() == 2 || !std::isalnum(static_cast<unsigned char>(tag[2]))))
        out += "\r\n";
      i = end + 1;
      continue;
    }
    if (ch == '&') {
      bool decoded = false;
      for (const auto& e : kEntities)
        if (StartsWithNoCase(html.substr(i), e.entity)) {
          out += e.ch;
          i += e.entity.size();
          decoded = true;
          break;
        }
      if (decoded) continue;
    }
    out += ch;
    ++i;
  }
  return out;
}

THTMLabel::THTMLabel(TComponent* owner) : TWinControl(owner) {
  SetBounds(GetLeft(), GetTop(), 100, 17);
}

void THTMLabel::SetHTMLText(const std::string& text) {
  htmlText_ = text;
  SetText(HtmlToPlainText(text));
}

void THTMLabel::CreateParams(TCreateParams& params) {
  inherited::CreateParams(params);
  CreateSubClass(params, "STATIC");
  params.Style |= SS_LEFT | SS_NOTIFY;
}

void THTMLabel::Dispatch(TMessage& msg) {
  if (msg.Msg == CN_COMMAND && HIWORD(msg.WParam) == STN_CLICKED) {
    Click();
    msg.Result = 0;
    return;
  }
  inherited::Dispatch(msg);
}

void InitHTMLabel() {
  RegisterClasses({&THTMLabel::StaticClass()});
}
