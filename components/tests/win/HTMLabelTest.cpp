// The mark-up label and its pictures under the platform: OLE picture sizes
// and frames, resource and file locations, a label read from form text and
// painted (pixels read back), its anchors under synthesized mouse messages,
// its hints and its auto-sizing.
#include "HTMLabel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Filer.h"
#include "FormFromText.h"
#include "Forms.h"
#include "GifLzw.h"
#include "HtmlCanvasSurface.h"
#include "HtmlMarkup.h"
#include "Messages.h"
#include "ObjectConvert.h"
#include "Streams.h"

namespace {

// A GIF of w x h whose frames are each one colour, all with control extensions.
std::string SolidGif(int w, int h, const std::vector<COLORREF>& frames) {
  std::string g = "GIF89a";
  auto word = [&](int v) {
    g += static_cast<char>(v & 0xFF);
    g += static_cast<char>((v >> 8) & 0xFF);
  };
  word(w);
  word(h);
  g += '\xF7';
  g += std::string(2, '\0');
  for (int i = 0; i < 256; ++i) {
    const COLORREF c = i < static_cast<int>(frames.size()) ? frames[static_cast<std::size_t>(i)] : 0;
    g += static_cast<char>(GetRValue(c));
    g += static_cast<char>(GetGValue(c));
    g += static_cast<char>(GetBValue(c));
  }
  for (std::size_t f = 0; f < frames.size(); ++f) {
    g += std::string("\x21\xF9\x04\x00\x00\x00\x00\x00", 8);
    g += '\x2C';
    word(0);
    word(0);
    word(w);
    word(h);
    g += '\0';
    TBitmapInfoHeader header;
    header.biWidth = w;
    header.biHeight = h;
    header.biBitCount = 8;
    std::vector<std::uint8_t> pixels(LzwPixelBufferSize(header), static_cast<std::uint8_t>(f));
    TOwned<TMemoryStream> out(New<TMemoryStream>());
    LZWEncode(*out, header, false, {}, pixels);
    g += out->DataString();
  }
  g += ';';
  return g;
}

// A 32-bit icon of 16 x 16 in one colour.
std::string SolidIcon(COLORREF c) {
  std::string ico;
  auto u16 = [&](int v) {
    ico += static_cast<char>(v & 0xFF);
    ico += static_cast<char>((v >> 8) & 0xFF);
  };
  auto u32 = [&](std::uint32_t v) {
    u16(static_cast<int>(v & 0xFFFF));
    u16(static_cast<int>(v >> 16));
  };
  const std::uint32_t image = 40 + 16 * 16 * 4 + 16 * 4;
  u16(0);
  u16(1);
  u16(1);
  ico += '\x10';
  ico += '\x10';
  ico += std::string(2, '\0');
  u16(1);
  u16(32);
  u32(image);
  u32(22);
  u32(40);
  u32(16);
  u32(32);
  u16(1);
  u16(32);
  for (int i = 0; i < 6; ++i) u32(0);
  for (int i = 0; i < 256; ++i) {
    ico += static_cast<char>(GetBValue(c));
    ico += static_cast<char>(GetGValue(c));
    ico += static_cast<char>(GetRValue(c));
    ico += '\xFF';
  }
  ico += std::string(16 * 4, '\0');
  return ico;
}

std::string Bmp(int w, int h) {
  TDib dib(w, h, 24);
  return dib.SaveToBmp();
}

TOwned<THTMLPicture> PictureOf(const std::string& bytes) {
  TOwned<THTMLPicture> p(New<THTMLPicture>());
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(bytes.data(), bytes.size()));
  p->LoadFromStream(*s);
  return p;
}

// What a graphic draws on a white 64 x 64 bitmap.
TOwned<TBitmap> Drawn(TGraphic* g) {
  TOwned<TBitmap> b(New<TBitmap>());
  TDib dib(64, 64, 24);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) dib.SetPixel(x, y, 0xFFFFFF);
  b->SetDib(std::move(dib));
  b->Canvas()->Draw(0, 0, g);
  return b;
}

std::string Hex(const std::string& bytes) {
  std::string hex = "{";
  char buf[3];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    hex += buf;
  }
  return hex + "}";
}

class HtmlPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    RegisterHTMLabelClasses();
  }
};

TEST_F(HtmlPictureTest, OlePicturesGiveTheirSizeAt96DotsPerInch) {
  const struct {
    std::string bytes;
    int w, h;
  } cases[] = {{SolidGif(20, 10, {RGB(1, 2, 3)}), 20, 10}, {Bmp(24, 12), 24, 12}, {SolidIcon(RGB(0, 0, 255)), 16, 16}};
  for (const auto& c : cases) {
    TOwned<THTMLPicture> p = PictureOf(c.bytes);
    EXPECT_FALSE(p->Empty());
    EXPECT_EQ(p->GetWidth(), c.w);
    EXPECT_EQ(p->GetHeight(), c.h);
  }
  TOwned<THTMLPicture> p = PictureOf(SolidIcon(RGB(0, 0, 255)));
  TOwned<TBitmap> b = Drawn(p.get());
  EXPECT_EQ(b->Canvas()->Pixel(8, 8), static_cast<TColor>(0xFF0000));
  EXPECT_EQ(b->Canvas()->Pixel(20, 8), static_cast<TColor>(0xFFFFFF));

  TOwned<THTMLPicture> copy(New<THTMLPicture>());
  copy->Assign(p.get());
  EXPECT_EQ(copy->GetWidth(), 16);
  copy->Assign(nullptr);
  EXPECT_TRUE(copy->Empty());
  EXPECT_EQ(copy->GetWidth(), 0);

  const std::string junk = "not a picture at all";
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(junk.data(), junk.size()));
  try {
    copy->LoadFromStream(*s);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Could not load image. Invalid format");
  }
}

TEST_F(HtmlPictureTest, AnAnimatedGifShowsTheChosenFrame) {
  const COLORREF red = RGB(255, 0, 0), green = RGB(0, 255, 0), blue = RGB(0, 0, 255);
  TOwned<THTMLPicture> p = PictureOf(SolidGif(20, 10, {red, green, blue}));
  EXPECT_EQ(p->GifFrameCount(), 3);
  EXPECT_EQ(Drawn(p.get())->Canvas()->Pixel(5, 5), static_cast<TColor>(red));
  int changes = 0;
  struct Counter : TObject {
    int* n;
    void Changed(TObject*) { ++*n; }
  } counter;
  counter.n = &changes;
  p->OnFrameChange = TNotifyEvent::Bind<&Counter::Changed>(&counter);
  p->SetFrame(3);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Drawn(p.get())->Canvas()->Pixel(5, 5), static_cast<TColor>(blue));
  EXPECT_EQ(p->FrameWidth(), 20);
  EXPECT_EQ(p->DisplayWidth(), 20);
  p->SetFrame(2);
  EXPECT_EQ(Drawn(p.get())->Canvas()->Pixel(5, 5), static_cast<TColor>(green));
}

TEST_F(HtmlPictureTest, LocationsLoadResourcesAndFilesAndOnlyRecordAddresses) {
  TOwned<THTMLPicture> res(New<THTMLPicture>());
  res->LoadFromLocation("res://LOGO");
  EXPECT_FALSE(res->Empty());
  EXPECT_EQ(res->GetWidth(), 20);
  EXPECT_EQ(res->GetHeight(), 22);
  EXPECT_EQ(res->ID(), "res://LOGO");

  TOwned<THTMLPicture> missing(New<THTMLPicture>());
  missing->LoadFromLocation("FILE://c:\\no\\such\\picture.gif");
  EXPECT_TRUE(missing->Empty());
  EXPECT_EQ(missing->ID(), "FILE://c:\\no\\such\\picture.gif");

  char dir[MAX_PATH], path[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  GetTempFileNameA(dir, "htm", 0, path);
  const std::string gif = SolidGif(7, 5, {RGB(9, 9, 9)});
  FILE* f = std::fopen(path, "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(gif.data(), 1, gif.size(), f);
  std::fclose(f);
  TOwned<THTMLPicture> file(New<THTMLPicture>());
  file->LoadFromLocation(std::string("file://") + path);
  DeleteFileA(path);
  EXPECT_EQ(file->GetWidth(), 7);

  TOwned<THTMLPicture> address(New<THTMLPicture>());
  address->LoadFromLocation("http://example.invalid/a.gif");
  EXPECT_TRUE(address->Empty());
  EXPECT_TRUE(address->DownloadRequested());
  EXPECT_EQ(address->ID(), "");
  address->SetBackgroundLoading(false);
  TOwned<THTMLPicture> quiet(New<THTMLPicture>());
  quiet->SetBackgroundLoading(false);
  quiet->LoadFromLocation("http://example.invalid/a.gif");
  EXPECT_FALSE(quiet->DownloadRequested());
  EXPECT_EQ(quiet->ID(), "http://example.invalid/a.gif");

  TOwned<THTMLPictureCache> cache(New<THTMLPictureCache>());
  THTMLPicture* cached = cache->NewCachePicture();
  cached->LoadFromLocation("FILE://a.gif");
  EXPECT_EQ(cache->CachePictureById("FILE://a.gif"), cached);
  EXPECT_EQ(cache->CachePictureById("file://a.gif"), nullptr);
  cache->FreeCachePictures();
  EXPECT_EQ(cache->Count(), 0);
}

TEST_F(HtmlPictureTest, TheContainerFindsPicturesByNameIgnoringCase) {
  TOwned<TPictureContainer> container(New<TPictureContainer>(nullptr));
  TPictureItem* item = container->GetItems()->Add();
  item->SetName("LOGO");
  item->GetPicture()->Assign(PictureOf(SolidGif(4, 4, {RGB(1, 1, 1)})).get());
  EXPECT_EQ(container->PictureByName("Logo"), item->GetPicture());
  EXPECT_EQ(container->PictureByName("Other"), nullptr);
  EXPECT_EQ(container->GetVersion(), "1.0.0.0");
  TPictureItem* second = container->GetItems()->Add();
  second->Assign(item);
  EXPECT_EQ(second->GetName(), "LOGO");
  EXPECT_EQ(second->GetPicture()->GetWidth(), 4);
}

// --- the label on a form -----------------------------------------------------------------------

constexpr COLORREF kPictureColour = RGB(0x12, 0x80, 0x34);

class THtmlForm : public TForm {
  FW_CLASS(THtmlForm, TForm)
 public:
  explicit THtmlForm(TComponent* owner) : TForm(owner) {}
  TPictureContainer* Pictures = nullptr;
  THTMLabel* Label = nullptr;
  std::vector<std::string> events;
  void Enter(TObject*, const std::string& a) { events.push_back("enter " + a); }
  void Exit(TObject*, const std::string& a) { events.push_back("exit " + a); }
  void Clicked(TObject*, const std::string& a) { events.push_back("click " + a); }
};

// clang-format off
FW_BEGIN_CLASS(THtmlForm)
  FW_FIELD(Pictures)
  FW_FIELD(Label)
  FW_METHOD(Enter)
  FW_METHOD(Exit)
  FW_METHOD(Clicked)
FW_END_CLASS
// clang-format on

std::string LabelForm(const std::string& lines, const std::string& extra = "") {
  return "object HtmlForm: THtmlForm\r\n"
         "  Left = 0\r\n  Top = 0\r\n  Width = 320\r\n  Height = 240\r\n"
         "  object Pictures: TPictureContainer\r\n"
         "    Items = <\r\n"
         "      item\r\n"
         "        Picture.Data = " +
         Hex(SolidGif(20, 10, {kPictureColour})) +
         "\r\n"
         "        Name = 'LOGO'\r\n"
         "      end>\r\n"
         "  end\r\n"
         "  object Label: THTMLabel\r\n"
         "    Left = 10\r\n    Top = 10\r\n    Width = 200\r\n    Height = 100\r\n"
         "    Color = clWhite\r\n"
         "    Font.Name = 'Arial'\r\n    Font.Height = -13\r\n    Font.Color = clBlack\r\n"
         "    ParentColor = False\r\n    ParentFont = False\r\n"
         "    PictureContainer = Pictures\r\n"
         "    URLColor = clLime\r\n"
         "    OnAnchorClick = Clicked\r\n    OnAnchorEnter = Enter\r\n    OnAnchorExit = Exit\r\n" +
         extra + "    HTMLText.Strings = (\r\n" + lines +
         "  end\r\n"
         "end\r\n";
}

struct TPainted {
  int w, h;
  std::vector<COLORREF> px;
  COLORREF At(int x, int y) const { return px[static_cast<std::size_t>(y * w + x)]; }
};

// The control painted into a bitmap that starts out in `background`.
TPainted Paint(TControl* c, COLORREF background = RGB(255, 0, 255)) {
  TPainted out{c->GetWidth(), c->GetHeight(), {}};
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, out.w, out.h);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  RECT all{0, 0, out.w, out.h};
  HBRUSH brush = CreateSolidBrush(background);
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  c->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc));
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x) out.px.push_back(GetPixel(dc, x, y));
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  return out;
}

// The label's text measured as its paint measures it.
HtmlRenderResult Measure(THTMLabel* label) {
  HDC screen = GetDC(nullptr);
  TOwned<TCanvas> canvas(New<TCanvas>());
  canvas->SetHandle(screen);
  canvas->Font()->Assign(label->GetFont());
  RECT r = label->ClientRect();
  const HtmlRenderResult out = label->DrawHtmlText(canvas.get(), label->GetDisplayText(), r, POINT{-1, -1}, -1, true);
  canvas->SetHandle(nullptr);
  ReleaseDC(nullptr, screen);
  return out;
}

class HtmlLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    RegisterHTMLabelClasses();
    RegisterClasses({&THtmlForm::StaticClass()});
  }
  THtmlForm* Read(const std::string& lines, const std::string& extra = "") {
    form.reset(ReadFormText<THtmlForm>(LabelForm(lines, extra)));
    return form.get();
  }
  TOwned<THtmlForm> form;
};

TEST_F(HtmlLabelTest, ALabelReadFromFormTextPaintsItsMarkUp) {
  THtmlForm* f = Read(
      "      '<BODY BGCOLOR=\"#FF0000\" BGCOLORTO=\"#0000FF\"><IMG SRC=\"LOGO\"><BR>'\r\n"
      "      '<B>Bold</B> and <A HREF=\"page\">link text</A><BR>'\r\n"
      "      '<P ALIGN=\"RIGHT\">right</P>')\r\n");
  THTMLabel* label = f->Label;
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->GetPictureContainer(), f->Pictures);
  EXPECT_EQ(label->GetHTMLText()->Count(), 3);
  EXPECT_EQ(label->GetVersion(), "1.7.0.0");
  const TPainted p = Paint(label);
  EXPECT_EQ(label->PaintedTextSize().cy, Measure(label).height);
  EXPECT_EQ(label->PaintedTextSize().cx, Measure(label).width);

  // The picture at the first line's start, one pixel in.
  EXPECT_EQ(p.At(1, 0), kPictureColour);
  EXPECT_EQ(p.At(20, 9), kPictureColour);
  EXPECT_NE(p.At(21, 5), kPictureColour);
  EXPECT_NE(p.At(5, 10), kPictureColour);

  // The background runs from red to blue along the bottom row.
  const COLORREF left = p.At(0, 99), right = p.At(199, 99);
  EXPECT_GT(GetRValue(left), 240);
  EXPECT_LT(GetBValue(left), 15);
  EXPECT_GT(GetBValue(right), 240);
  EXPECT_LT(GetRValue(right), 15);
  for (int x = 8; x < 200; x += 8) EXPECT_LE(GetRValue(p.At(x, 99)), GetRValue(p.At(x - 8, 99))) << x;

  // Anchor text in the URL colour, inside the anchor's rectangle.
  RECT a{};
  std::string target;
  for (int x = 0; x < 200 && target.empty(); ++x)
    for (int y = 10; y < 60 && target.empty(); ++y) target = label->AnchorAt(x, y, a);
  EXPECT_EQ(target, "page");
  int lime = 0;
  for (int y = a.top; y < a.bottom; ++y)
    for (int x = a.left; x < a.right; ++x) lime += p.At(x, y) == RGB(0, 255, 0);
  EXPECT_GT(lime, 20);

  // The right-aligned line's ink ends by the right edge: find the last row's
  // dark pixels (the line is below the second line).
  int inkRight = -1;
  for (int y = a.bottom; y < 100; ++y)
    for (int x = 0; x < 200; ++x) {
      const COLORREF c = p.At(x, y);
      if (GetRValue(c) < 60 && GetGValue(c) < 60 && GetBValue(c) < 60) inkRight = std::max(inkRight, x);
    }
  EXPECT_GE(inkRight, 192);
}

TEST_F(HtmlLabelTest, BevelsAndLineGradients) {
  THtmlForm* f = Read("      'x')\r\n", "    BevelOuter = bvRaised\r\n");
  TPainted p = Paint(f->Label);
  EXPECT_EQ(p.At(0, 0), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(p.At(0, 50), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(p.At(199, 99), ColorToRGB(clBtnShadow));
  EXPECT_EQ(p.At(100, 99), ColorToRGB(clBtnShadow));
  f->Label->SetBevelOuter(bvLowered);
  p = Paint(f->Label);
  EXPECT_EQ(p.At(0, 0), ColorToRGB(clBtnShadow));
  EXPECT_EQ(p.At(199, 99), ColorToRGB(clBtnHighlight));

  f->Label->SetBevelOuter(bvNone);
  f->Label->SetTransparent(true);
  f->Label->SetGradientType(gtTopLine);
  f->Label->SetColorTo(clBlue);
  f->Label->GetHTMLText()->Clear();
  p = Paint(f->Label);
  for (int x = 0; x < 200; x += 7) {
    EXPECT_NE(p.At(x, 0), RGB(255, 0, 255)) << x;
    EXPECT_NE(p.At(x, 1), RGB(255, 0, 255)) << x;
    for (int y = 2; y < 100; y += 9) EXPECT_EQ(p.At(x, y), RGB(255, 0, 255)) << x << "," << y;
  }
  EXPECT_EQ(p.At(0, 0), RGB(255, 255, 255));
  EXPECT_GT(GetBValue(p.At(199, 1)), 240);

  // A centre line towards no colour: its far end takes clNone's white channels.
  f->Label->SetGradientType(gtCenterLine);
  f->Label->SetColor(clBlack);
  f->Label->SetColorTo(clNone);
  p = Paint(f->Label);
  EXPECT_EQ(p.At(0, 50), RGB(0, 0, 0));
  EXPECT_GT(GetRValue(p.At(199, 51)), 240);
  EXPECT_EQ(p.At(100, 20), RGB(255, 0, 255));
}

struct ShellCalls {
  static std::vector<std::string>& Calls() {
    static std::vector<std::string> calls;
    return calls;
  }
  static HINSTANCE WINAPI Execute(HWND, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, INT show) {
    Calls().push_back(std::string(verb) + " " + file + " " + std::to_string(show));
    return reinterpret_cast<HINSTANCE>(static_cast<std::intptr_t>(33));
  }
};

TEST_F(HtmlLabelTest, AnchorsUnderTheMouse) {
  THtmlForm* f = Read(
      "      '<A HREF=\"one\">first</A><A HREF=\"two\">second</A> plain<BR>'\r\n"
      "      '<A HREF=\"mailto:someone@example.invalid\">mail</A> <A "
      "HREF=\"file://c:/windows/notepad.exe\">file</A>')\r\n");
  THTMLabel* label = f->Label;
  // Where each anchor lies on its line.
  auto find = [&](const std::string& want, int y) {
    RECT a;
    for (int x = 0; x < 200; ++x)
      if (label->AnchorAt(x, y, a) == want) return x + 2;
    return -1;
  };
  const int one = find("one", 6), two = find("two", 6), mail = find("mailto:someone@example.invalid", 21),
            file = find("file://c:/windows/notepad.exe", 21);
  ASSERT_GE(one, 0);
  ASSERT_GT(two, one);
  ASSERT_GE(mail, 0);
  ASSERT_GT(file, mail);
  auto move = [&](int x, int y) { label->Perform(WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); };
  auto click = [&](int x, int y) { label->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); };

  move(one, 6);
  EXPECT_EQ(label->GetCursor(), crHandPoint);
  click(one, 6);
  move(two, 6);  // straight onto the next anchor
  move(190, 6);  // off the anchors
  EXPECT_EQ(label->GetCursor(), crDefault);
  EXPECT_EQ(f->events, (std::vector<std::string>{"enter one", "click one", "enter two", "exit "}));

  HtmlShellApi saved = GetHtmlShellApi();
  GetHtmlShellApi().Execute = &ShellCalls::Execute;
  ShellCalls::Calls().clear();
  f->events.clear();
  click(mail, 21);
  click(file, 21);
  GetHtmlShellApi() = saved;
  EXPECT_EQ(ShellCalls::Calls(), (std::vector<std::string>{"open mailto:someone@example.invalid 1"}));
  EXPECT_TRUE(f->events.empty()) << f->events.front();

  // Leaving the label forgets the hovered anchor.
  move(one, 6);
  EXPECT_NE(label->HoveredAnchor(), -1);
  label->Perform(CM_MOUSELEAVE);
  EXPECT_EQ(label->HoveredAnchor(), -1);
}

TEST_F(HtmlLabelTest, HintsShowTheAnchorOrTheWholeText) {
  THtmlForm* f =
      Read("      '<A HREF=\"target\">anchor</A> and <B>more</B><BR>next')\r\n", "    Hint = 'plain hint'\r\n");
  THTMLabel* label = f->Label;
  f->Show();
  auto hint = [&](int x, int y) {
    THintInfo info{};
    info.HintControl = label;
    info.CursorPos = POINT{x, y};
    info.HintStr = label->GetHint();
    EXPECT_EQ(label->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info)), 0);
    return info;
  };
  EXPECT_EQ(hint(5, 6).HintStr, "plain hint");
  label->SetAnchorHint(true);
  const THintInfo on = hint(5, 6);
  EXPECT_EQ(on.HintStr, "target");
  const POINT screen = label->ClientToScreen(POINT{5, 6});
  EXPECT_EQ(on.HintPos.x, screen.x + 10);
  EXPECT_EQ(on.HintPos.y, screen.y - 10);
  EXPECT_EQ(hint(150, 6).HintStr, "plain hint");
  label->SetHintShowFull(true);
  EXPECT_EQ(hint(150, 6).HintStr, "anchor and more\r\nnext");
  label->SetHTMLHint(true);
  EXPECT_EQ(hint(150, 6).HintStr, label->GetDisplayText());
  EXPECT_EQ(hint(5, 6).HintStr, "target");
}

TEST_F(HtmlLabelTest, AutoSizingAndVerticalAlignment) {
  THtmlForm* f = Read("      'one two three<BR>four')\r\n");
  THTMLabel* label = f->Label;
  label->SetAutoSizeType(asBoth);
  label->SetAutoSizing(true);
  Paint(label);
  const SIZE text = label->PaintedTextSize();
  EXPECT_EQ(label->GetWidth(), text.cx + 6);
  EXPECT_EQ(label->GetHeight(), text.cy + 6);
  EXPECT_GT(text.cx, 40);

  // Text taller than the label (its first line is always laid out): bottom
  // alignment draws from the top, as top alignment does.
  label->SetAutoSizing(false);
  label->SetBounds(10, 10, 120, 10);
  TStringList* lines = New<TStringList>();
  lines->Add("abc<BR>def");
  label->SetHTMLText(lines);
  lines->Free();
  const TPainted top = Paint(label);
  label->SetVAlignment(tvaBottom);
  const TPainted bottom = Paint(label);
  EXPECT_EQ(top.px, bottom.px);
  label->SetVAlignment(tvaCenter);
  EXPECT_EQ(Paint(label).px, top.px);

  // Bevels leave a text rectangle lower than the text, which is lower than
  // the label: centring moves nothing (the halving of a negative room).
  label->SetBounds(10, 10, 120, 20);
  label->GetHTMLText()->Clear();
  label->GetHTMLText()->Add("abc");
  label->SetBevelOuter(bvRaised);
  label->SetBevelWidth(5);
  label->SetVAlignment(tvaTop);
  ASSERT_LT(Measure(label).height, 20);
  ASSERT_GT(Measure(label).height, 10);
  const TPainted bevelTop = Paint(label);
  label->SetVAlignment(tvaCenter);
  EXPECT_EQ(Paint(label).px, bevelTop.px);
  label->SetBevelOuter(bvNone);

  // Shorter text moves down.
  label->SetBounds(10, 10, 120, 80);
  label->GetHTMLText()->Clear();
  label->GetHTMLText()->Add("x");
  label->SetVAlignment(tvaTop);
  const TPainted high = Paint(label);
  label->SetVAlignment(tvaBottom);
  const TPainted low = Paint(label);
  auto firstInk = [](const TPainted& p) {
    for (int y = 0; y < p.h; ++y)
      for (int x = 0; x < p.w; ++x)
        if (p.At(x, y) != RGB(255, 255, 255)) return y;
    return -1;
  };
  EXPECT_LT(firstInk(high), 10);
  EXPECT_GT(firstInk(low), 55);
}

TEST_F(HtmlLabelTest, AssigningTheTextJoinsTheLinesAndEmptiesTheCache) {
  THtmlForm* f = Read("      'x')\r\n");
  THTMLabel* label = f->Label;
  TOwned<TStringList> lines(New<TStringList>());
  lines->Add("first");
  lines->Add("sec\rond\n");
  label->SetHTMLText(lines.get());
  EXPECT_EQ(label->GetHTMLText()->Count(), 1);
  EXPECT_EQ(label->GetDisplayText(), "firstsecond");

  label->GetHTMLText()->Clear();
  label->GetHTMLText()->Add("<IMG SRC=\"res://LOGO\">");
  Paint(label);
  EXPECT_EQ(label->PictureCache()->Count(), 1);
  EXPECT_EQ(label->PaintedTextSize().cx, 20);
  label->GetHTMLText()->Add("more");
  EXPECT_EQ(label->PictureCache()->Count(), 0);
}

struct Errors {
  static std::vector<std::string>& Seen() {
    static std::vector<std::string> seen;
    return seen;
  }
  static void Hook(TApplication*, TObject*, std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      Seen().push_back(e.what());
    }
  }
};

TEST_F(HtmlLabelTest, AResourcePictureThatFailsWhilePaintingGoesToTheApplication) {
  THtmlForm* f = Read("      'a<IMG SRC=\"RES://BADPIC\">b<IMG SRC=\"FILE://c:\\none.gif\">c')\r\n");
  THandleExceptionProc old = HandleExceptionHook;
  HandleExceptionHook = &Errors::Hook;
  Errors::Seen().clear();
  Paint(f->Label);
  Paint(f->Label);  // the failed picture stays in the cache, empty: no second error
  HandleExceptionHook = old;
  EXPECT_EQ(Errors::Seen(), (std::vector<std::string>{"Could not load image. Invalid format"}));
  EXPECT_EQ(f->Label->PictureCache()->Count(), 2);
}

TEST_F(HtmlLabelTest, APictureItemStreamsItsBytesThroughFormData) {
  THtmlForm* f = Read("      'x')\r\n");
  const std::string gif = SolidGif(20, 10, {kPictureColour});
  ASSERT_EQ(f->Pictures->GetItems()->Count(), 1);
  EXPECT_EQ(f->Pictures->GetItems()->Items(0)->GetPicture()->Data(), gif);
  EXPECT_EQ(f->Pictures->GetItems()->Items(0)->GetPicture()->GetWidth(), 20);

  // Written again and read into a new form: the same bytes.
  TOwned<TMemoryStream> out(New<TMemoryStream>());
  TWriter* w = New<TWriter>(*out);
  w->WriteRootComponent(f);
  w->Free();
  const std::string text = ObjectBinaryToText(out->DataString());
  EXPECT_NE(text.find("Picture.Data = {"), std::string::npos) << text;
  TOwned<THtmlForm> copy(ReadFormText<THtmlForm>(text));
  ASSERT_EQ(copy->Pictures->GetItems()->Count(), 1);
  EXPECT_EQ(copy->Pictures->GetItems()->Items(0)->GetPicture()->Data(), gif);
  EXPECT_EQ(copy->Label->GetDisplayText(), "x");
}

struct ShellInfoCalls {
  static std::vector<std::string>& Calls() {
    static std::vector<std::string> calls;
    return calls;
  }
  static DWORD_PTR WINAPI GetFileInfo(LPCSTR path, DWORD attributes, SHFILEINFOA* info, UINT size, UINT flags) {
    Calls().push_back(std::string(path) + ((flags & SHGFI_USEFILEATTRIBUTES) ? " by name" : " on disk") +
                      ((flags & SHGFI_SMALLICON) ? " small" : " large"));
    return SHGetFileInfoA(path, attributes, info, size, flags);
  }
};

TEST_F(HtmlLabelTest, ImagesFromTheImageListAndTheShell) {
  THtmlForm* f = Read("      '<IMG SRC=\"IDX:0\"><IMG SRC=\"IDX:$FFFFFFFF\">x')\r\n");
  TOwned<TImageList> images(New<TImageList>(nullptr));
  TOwned<TBitmap> red(New<TBitmap>());
  TDib dib(16, 16, 24);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) dib.SetPixel(x, y, 0x0000FF);
  red->SetDib(std::move(dib));
  images->AddMasked(red.get(), clFuchsia);
  f->Label->SetImages(images.get());
  const TPainted p = Paint(f->Label);
  EXPECT_EQ(p.At(1, 0), RGB(255, 0, 0));
  EXPECT_EQ(p.At(16, 15), RGB(255, 0, 0));
  EXPECT_NE(p.At(17, 8), RGB(255, 0, 0));
  // The index read as -1 takes no room.
  const int withBad = f->Label->PaintedTextSize().cx;
  f->Label->GetHTMLText()->Clear();
  f->Label->GetHTMLText()->Add("<IMG SRC=\"IDX:0\">x");
  Paint(f->Label);
  EXPECT_EQ(withBad, f->Label->PaintedTextSize().cx);
  EXPECT_GT(withBad, 16);

  HtmlShellApi saved = GetHtmlShellApi();
  GetHtmlShellApi().GetFileInfo = &ShellInfoCalls::GetFileInfo;
  ShellInfoCalls::Calls().clear();
  f->Label->GetHTMLText()->Clear();
  f->Label->GetHTMLText()->Add("<IMG SRC=\"SSYS:c:\\windows\"><IMG SRC=\"LSYS:readme.txt\"><IMG SRC=\"ssys:3\">");
  Paint(f->Label);
  GetHtmlShellApi() = saved;
  const auto& calls = ShellInfoCalls::Calls();
  auto seen = [&](const std::string& call) { return std::find(calls.begin(), calls.end(), call) != calls.end(); };
  EXPECT_TRUE(seen("c:\\windows on disk small"));
  EXPECT_TRUE(seen("readme.txt by name large"));
  EXPECT_TRUE(seen(" by name small"));  // a number is the index itself: only the list is asked for
  for (const auto& c : calls) EXPECT_EQ(c.find("3 "), std::string::npos) << c;
}

TEST_F(HtmlLabelTest, RemovedImagesAndContainersAreForgotten) {
  THtmlForm* f = Read("      '<IMG SRC=\"IDX:0\">')\r\n");
  auto* images = New<TImageList>(nullptr);
  f->Label->SetImages(images);
  EXPECT_EQ(f->Label->GetImages(), images);
  images->Free();
  EXPECT_EQ(f->Label->GetImages(), nullptr);
  f->Pictures->Free();
  f->Pictures = nullptr;
  EXPECT_EQ(f->Label->GetPictureContainer(), nullptr);
  Paint(f->Label);
}

}  // namespace

// The canvas surface holds the rotation as part of its font: a font with an
// angle selects a turned copy of the canvas font (made again for another
// style), angle 0 selects the canvas font itself, and a render ends upright.
TEST(HtmlCanvasSurfaceTest, TheAngleIsPartOfTheFontItSelects) {
  TOwned<TBitmap> b = Drawn(nullptr);
  TCanvas* canvas = b->Canvas();
  HDC dc = canvas->Handle();
  auto selected = [&] {
    LOGFONTA lf{};
    GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof lf, &lf);
    return lf;
  };
  HtmlCanvasSurface surface(canvas, nullptr, nullptr, nullptr);
  HtmlFont f = surface.Font();
  EXPECT_EQ(f.angle, 0);
  f.angle = 900;
  surface.SetFont(f);
  EXPECT_EQ(surface.Font().angle, 900);
  surface.TextExtent("x");
  EXPECT_EQ(selected().lfEscapement, 900);
  EXPECT_LT(selected().lfWeight, FW_BOLD);
  f.style = kHtmlBold;
  surface.SetFont(f);
  surface.TextExtent("x");
  EXPECT_EQ(selected().lfEscapement, 900);
  EXPECT_GE(selected().lfWeight, FW_BOLD);
  f.angle = 0;
  surface.SetFont(f);
  EXPECT_EQ(surface.Font().angle, 0);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), canvas->Font()->Handle());

  // A render that leaves a rotation open ends with the canvas font selected.
  const HtmlRect rect{0, 0, 64, 64};
  RenderHtml(surface, "a<R a=\"90\">b<B>c", rect, HtmlRenderOptions{});
  EXPECT_EQ(surface.Font().angle, 0);
  EXPECT_EQ(selected().lfEscapement, 0);
}
