// Arbitrary mark-up text laid out over the fixed-advance test surface. Byte 0
// chooses the options (bit 0 word wrap off, bit 1 hit-testing only, bit 2
// hover mode, bit 3 an image list), byte 1 the rectangle's width, byte 2 the
// point; the rest is the text. Rendering must end, leave no rotated font
// behind, give the canvas back as it was, and measure a bounded number of
// times for the text's length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "HtmlFakeSurface.h"
#include "HtmlRender.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  FakeHtmlSurface s;
  static int picture;
  s.named["P"] = HtmlPicture{&picture, false, 1, 1, 0, 0};
  s.named["LOGO"] = HtmlPicture{&picture, false, 30, 20, 2, 3};
  s.byLocation["FILE://A"] = HtmlPicture{&picture, false, 5, 5, 0, 0};
  if (data[0] & 8) s.listCount = 4;
  HtmlRenderOptions o;
  o.wordWrap = !(data[0] & 1);
  o.hitTestOnly = data[0] & 2;
  o.hover = data[0] & 4;
  o.hoveredAnchor = data[0] >> 4;
  o.x = data[2] & 0x3F;
  o.y = data[2] >> 2;
  const HtmlRect rect{0, 0, data[1], 120};
  s.clip = rect;
  const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
  const HtmlFont base = s.font_;
  const HtmlColor brush = s.brush_;
  const HtmlRenderResult r = RenderHtml(s, text, rect, o);
  if (!(s.font_ == base) || s.brush_ != brush) std::abort();
  if (r.height <= 0 || r.width < 0) std::abort();
  if (s.measures > 32 * static_cast<long>(text.size() + 4)) std::abort();
  if (r.hit && r.anchor.size() > text.size()) std::abort();
  return 0;
}
