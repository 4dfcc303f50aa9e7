// Graphics: bitmaps on the portable DIB with a GDI canvas, pictures, image lists, fonts.
#include <gtest/gtest.h>

#include <vector>

#include "Clipbrd.h"
#include "Exceptions.h"
#include "ExtCtrls.h"
#include "Filer.h"
#include "Forms.h"
#include "Graphics.h"
#include "ImgList.h"
#include "Streams.h"

namespace {

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitForms(); }
};

TEST_F(GraphicsTest, CanvasDrawingReachesTheDibAndBmpRoundTrips) {
  TOwned<TBitmap> bmp(New<TBitmap>());
  EXPECT_THROW(bmp->Handle(), EInvalidGraphic);
  bmp->SetDib(TDib(10, 8, 24));
  bmp->Canvas()->Brush()->SetColor(clRed);
  bmp->Canvas()->FillRect(RECT{0, 0, 5, 8});
  bmp->Canvas()->SetPixel(9, 7, clBlue);
  EXPECT_EQ(bmp->Dib().Pixel(2, 3), static_cast<std::uint32_t>(clRed));
  EXPECT_EQ(bmp->Dib().Pixel(7, 3), 0u);
  EXPECT_EQ(bmp->Dib().Pixel(9, 7), static_cast<std::uint32_t>(clBlue));
  EXPECT_EQ(bmp->Canvas()->Pixel(2, 3), clRed);
  EXPECT_EQ(bmp->GetPixelFormat(), pf24bit);

  TMemoryStream* s = New<TMemoryStream>();
  bmp->SaveToStream(*s);
  s->SetPosition(0);
  TOwned<TBitmap> copy(New<TBitmap>());
  copy->LoadFromStream(*s);
  EXPECT_TRUE(copy->Dib() == bmp->Dib());
  s->Free();

  // A handle from elsewhere (LoadBitmap and the like) is adopted.
  HDC screen = GetDC(nullptr);
  HBITMAP h = CreateCompatibleBitmap(screen, 4, 3);
  HDC mem = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(mem, h);
  RECT all{0, 0, 4, 3};
  HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
  FillRect(mem, &all, green);
  DeleteObject(green);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  copy->SetHandle(h);
  EXPECT_EQ(copy->GetWidth(), 4);
  EXPECT_EQ(copy->GetHeight(), 3);
  EXPECT_EQ(copy->Dib().Pixel(1, 1), static_cast<std::uint32_t>(clLime));
}

TEST_F(GraphicsTest, PictureCopiesItsGraphicAndImageListGivesBitmaps) {
  TOwned<TBitmap> bmp(New<TBitmap>());
  bmp->SetDib(TDib(48, 48, 24));
  bmp->Canvas()->Brush()->SetColor(clYellow);
  bmp->Canvas()->FillRect(RECT{0, 0, 48, 48});
  TOwned<TPicture> pic(New<TPicture>());
  pic->Assign(bmp.get());
  ASSERT_NE(pic->Graphic(), nullptr);
  EXPECT_NE(pic->Graphic(), bmp.get());
  EXPECT_EQ(pic->Width(), 48);
  EXPECT_EQ(pic->Bitmap()->Dib().Pixel(10, 10), static_cast<std::uint32_t>(clYellow));

  TOwned<TImageList> list(New<TImageList>(nullptr));
  list->SetWidth(48);
  list->SetHeight(48);
  EXPECT_EQ(list->AddMasked(bmp.get(), clFuchsia), 0);
  EXPECT_EQ(list->Count(), 1);
  TOwned<TBitmap> out(New<TBitmap>());
  list->GetBitmap(0, out.get());
  EXPECT_EQ(out->GetWidth(), 48);
  EXPECT_EQ(out->Dib().Pixel(20, 20), static_cast<std::uint32_t>(clYellow));
  EXPECT_THROW(list->GetBitmap(3, out.get()), EListError);
}

struct LinkCounter : TObject {
  int changes = 0;
  TObject* sender = nullptr;
  void Changed(TObject* s) {
    ++changes;
    sender = s;
  }
};

TEST_F(GraphicsTest, ImageListsTellEveryRegisteredLinkOfTheirChanges) {
  LinkCounter a, b, own;
  TOwned<TChangeLink> first(New<TChangeLink>()), second(New<TChangeLink>());
  first->OnChange = TNotifyEvent::Bind<&LinkCounter::Changed>(&a);
  second->OnChange = TNotifyEvent::Bind<&LinkCounter::Changed>(&b);
  auto* list = New<TImageList>(nullptr);
  list->OnChange = TNotifyEvent::Bind<&LinkCounter::Changed>(&own);
  list->RegisterChanges(first.get());
  list->RegisterChanges(second.get());
  list->RegisterChanges(second.get());
  EXPECT_EQ(second->Sender, list);
  TOwned<TBitmap> bmp(New<TBitmap>());
  bmp->SetDib(TDib(16, 16, 24));
  list->AddMasked(bmp.get(), clFuchsia);
  EXPECT_EQ(a.changes, 1);
  EXPECT_EQ(b.changes, 1);
  EXPECT_EQ(own.changes, 1);
  EXPECT_EQ(a.sender, list);

  list->UnRegisterChanges(first.get());
  EXPECT_EQ(first->Sender, nullptr);
  list->Clear();
  EXPECT_EQ(a.changes, 1);
  EXPECT_EQ(b.changes, 2);

  // A link moved to another list leaves the first one.
  auto* other = New<TImageList>(nullptr);
  other->RegisterChanges(second.get());
  EXPECT_EQ(second->Sender, other);
  list->AddMasked(bmp.get(), clFuchsia);
  EXPECT_EQ(b.changes, 2);
  EXPECT_EQ(own.changes, 3);
  list->RegisterChanges(second.get());

  second.reset();  // a freed link leaves its list
  list->AddMasked(bmp.get(), clFuchsia);
  EXPECT_EQ(b.changes, 2);
  EXPECT_EQ(own.changes, 4);

  TOwned<TChangeLink> third(New<TChangeLink>());
  list->RegisterChanges(third.get());
  other->RegisterChanges(first.get());
  other->Free();  // the list going clears its links' sender; freeing the link afterwards is safe
  EXPECT_EQ(first->Sender, nullptr);
  first.reset();
  list->Free();
  EXPECT_EQ(third->Sender, nullptr);
}

TEST_F(GraphicsTest, ImagePictureAndImageListSurviveAFormStreamRoundTrip) {
  auto* form = TCustomForm::CreateNew<TForm>(nullptr);
  form->SetName("F");
  auto* image = New<TImage>(form);
  image->SetName("Img");
  image->SetParent(form);
  TOwned<TBitmap> bmp(New<TBitmap>());
  bmp->SetDib(TDib(6, 4, 24));
  bmp->Canvas()->Brush()->SetColor(clTeal);
  bmp->Canvas()->FillRect(RECT{0, 0, 6, 4});
  image->GetPicture()->Assign(bmp.get());
  auto* list = New<TImageList>(form);
  list->SetName("Images");
  list->SetWidth(6);
  list->SetHeight(4);
  list->AddMasked(bmp.get(), clFuchsia);
  list->AddMasked(bmp.get(), clFuchsia);

  TMemoryStream* s = New<TMemoryStream>();
  TWriter* w = New<TWriter>(*s);
  w->WriteRootComponent(form);
  w->Free();
  form->Free();

  s->SetPosition(0);
  TOwned<TForm> copy(TCustomForm::CreateNew<TForm>(nullptr));
  TReader* r = New<TReader>(*s);
  r->ReadRootComponent(copy.get());
  r->Free();
  s->Free();
  auto* img = dynamic_cast<TImage*>(copy->FindComponent("Img"));
  ASSERT_NE(img, nullptr);
  ASSERT_NE(img->GetPicture()->Graphic(), nullptr);
  EXPECT_STREQ(img->GetPicture()->Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(img->GetPicture()->Bitmap()->Dib().Pixel(3, 2), static_cast<std::uint32_t>(clTeal));
  auto* images = dynamic_cast<TImageList*>(copy->FindComponent("Images"));
  ASSERT_NE(images, nullptr);
  EXPECT_EQ(images->Count(), 2);
  TOwned<TBitmap> out(New<TBitmap>());
  images->GetBitmap(1, out.get());
  EXPECT_EQ(out->Dib().Pixel(3, 2), static_cast<std::uint32_t>(clTeal));
}

// The icon drawn on white and on black: its colours and its transparent part.
std::vector<std::uint32_t> IconPixels(TIcon* icon) {
  std::vector<std::uint32_t> px;
  for (TColor back : {clWhite, clBlack}) {
    TOwned<TBitmap> b(New<TBitmap>());
    b->SetDib(TDib(icon->GetWidth(), icon->GetHeight(), 24));
    b->Canvas()->Brush()->SetColor(back);
    b->Canvas()->FillRect(RECT{0, 0, icon->GetWidth(), icon->GetHeight()});
    b->Canvas()->Draw(0, 0, icon);
    for (int y = 0; y < icon->GetHeight(); ++y)
      for (int x = 0; x < icon->GetWidth(); ++x) px.push_back(b->Dib().Pixel(x, y));
  }
  return px;
}

TEST_F(GraphicsTest, IconsMadeFromHandlesSaveAsIconFiles) {
  // A system icon in colour, and a monochrome one made from two masks.
  const BYTE andMask[32 * 4] = {0x0F, 0xF0, 0xFF, 0x00};
  BYTE xorMask[32 * 4] = {};
  for (int i = 0; i < 32 * 4; i += 3) xorMask[i] = 0xA5;
  const HICON handles[] = {CopyIcon(LoadIconA(nullptr, IDI_APPLICATION)),
                           CreateIcon(nullptr, 32, 32, 1, 1, andMask, xorMask)};
  for (HICON handle : handles) {
    ASSERT_NE(handle, nullptr);
    TOwned<TIcon> icon(New<TIcon>());
    icon->SetHandle(handle);
    TOwned<TMemoryStream> s(New<TMemoryStream>());
    icon->SaveToStream(*s);
    const std::string file = s->DataString();
    s->SetPosition(0);
    TOwned<TIcon> back(New<TIcon>());
    back->LoadFromStream(*s);
    EXPECT_EQ(back->GetWidth(), icon->GetWidth());
    EXPECT_EQ(back->GetHeight(), icon->GetHeight());
    EXPECT_EQ(IconPixels(back.get()), IconPixels(icon.get()));
    // Loaded from its file, it saves that file.
    TOwned<TMemoryStream> again(New<TMemoryStream>());
    back->SaveToStream(*again);
    EXPECT_EQ(again->DataString(), file);
  }
  TOwned<TIcon> empty(New<TIcon>());
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  EXPECT_THROW(empty->SaveToStream(*s), EInvalidGraphicOperation);
}

TEST_F(GraphicsTest, FontChangesKeepTheCanvasUsable) {
  TOwned<TBitmap> bmp(New<TBitmap>());
  bmp->SetDib(TDib(100, 30, 32));
  TCanvas* c = bmp->Canvas();
  c->Font()->SetName("Arial");
  c->Font()->SetHeight(-19);
  c->Font()->SetStyle({fsBold});
  const int bold = c->TextWidth("Pellory");
  c->Font()->SetHeight(-9);
  const int small = c->TextWidth("Pellory");
  EXPECT_GT(bold, small);
  EXPECT_GT(small, 0);
  c->Font()->SetColor(clBlue);
  c->Brush()->SetStyle(bsClear);
  c->TextOut(0, 0, "Pellory");
  EXPECT_EQ(ColorToRGB(clBtnFace), GetSysColor(COLOR_BTNFACE));
}

}  // namespace

// Bitmaps on the clipboard as CF_BITMAP, through the clipboard object: the
// pixels come back, and the format is seen while it is there.
TEST_F(GraphicsTest, BitmapsGoToTheClipboardAndComeBack) {
  for (TPixelFormat format : {pf24bit, pf8bit, pf1bit}) {
    SCOPED_TRACE(static_cast<int>(format));
    TOwned<TBitmap> b(New<TBitmap>());
    b->SetPixelFormat(format);
    b->SetSize(9, 5);
    TDib d = b->Dib();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) d.SetPixel(x, y, (x + y) % 2 ? 0xFFFFFFu : (format == pf1bit ? 0u : 0x2040C0u));
    b->SetDib(d);
    std::uint32_t cf = 0;
    HANDLE data = nullptr;
    HPALETTE palette = nullptr;
    b->SaveToClipboardFormat(cf, data, palette);
    EXPECT_EQ(cf, static_cast<std::uint32_t>(CF_BITMAP));
    EXPECT_EQ(palette != nullptr, format != pf24bit) << "palettised bitmaps give their palette";
    Clipboard()->Open();
    Clipboard()->Open();  // nested: the inner Close keeps it open
    Clipboard()->SetAsHandle(CF_BITMAP, data);
    Clipboard()->Close();
    EXPECT_TRUE(Clipboard()->HasFormat(CF_BITMAP));
    TOwned<TBitmap> back(New<TBitmap>());
    back->LoadFromClipboardFormat(CF_BITMAP, Clipboard()->GetAsHandle(CF_BITMAP), palette);
    Clipboard()->Close();
    if (palette) DeleteObject(palette);
    ASSERT_EQ(back->GetWidth(), 9);
    ASSERT_EQ(back->GetHeight(), 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) EXPECT_EQ(back->Dib().Pixel(x, y), d.Pixel(x, y)) << x << ", " << y;
    EXPECT_TRUE(back->Equals(back.get()));
    TOwned<TBitmap> copy(New<TBitmap>());
    copy->Assign(back.get());
    EXPECT_TRUE(copy->Equals(back.get()));
    copy->Canvas()->SetPixel(1, 0, clBlack);  // a white pixel
    EXPECT_FALSE(copy->Equals(back.get()));
  }
  TOwned<TBitmap> none(New<TBitmap>());
  EXPECT_THROW(none->LoadFromClipboardFormat(CF_TEXT, nullptr, nullptr), EInvalidGraphic);
  TOwned<TIcon> icon(New<TIcon>());
  EXPECT_THROW(icon->LoadFromClipboardFormat(CF_BITMAP, nullptr, nullptr), EInvalidGraphic);
  EXPECT_FALSE(icon->Equals(none.get()));
}
