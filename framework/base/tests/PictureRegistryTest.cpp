#include "PictureRegistry.h"

#include <gtest/gtest.h>

#include "Object.h"

namespace {

class TFakeGraphic : public TObject {
  FW_CLASS(TFakeGraphic, TObject)
};
class TFakeBitmap : public TFakeGraphic {
  FW_CLASS(TFakeBitmap, TFakeGraphic)
};
class TFakeGif : public TFakeGraphic {
  FW_CLASS(TFakeGif, TFakeGraphic)
};
class TFakeAnimatedGif : public TFakeGif {
  FW_CLASS(TFakeAnimatedGif, TFakeGif)
};

}  // namespace

FW_IMPLEMENT_CLASS(TFakeGraphic)
FW_IMPLEMENT_CLASS(TFakeBitmap)
FW_IMPLEMENT_CLASS(TFakeGif)
FW_IMPLEMENT_CLASS(TFakeAnimatedGif)

namespace {

TEST(PictureRegistry, RegistersLooksUpAndUnregistersByClass) {
  ClearPictureRegistry();
  RegisterPictureFileFormat("bmp", "Bitmaps", TFakeBitmap::StaticClass());
  RegisterPictureFileFormat(".GIF", "GIF Image", TFakeGif::StaticClass());
  RegisterPictureFileFormat("agif", "Animated GIF", TFakeAnimatedGif::StaticClass());
  RegisterPictureClipboardFormat(2, TFakeBitmap::StaticClass());
  RegisterPictureClipboardFormat(0xC100, TFakeGif::StaticClass());

  struct Case {
    const char* name;
    const ClassInfo* cls;
  } cases[] = {{"bmp", &TFakeBitmap::StaticClass()},
               {".Gif", &TFakeGif::StaticClass()},
               {"C:\\Logos\\phone.GIF", &TFakeGif::StaticClass()},
               {"dir.bmp/file", nullptr},
               {"jpg", nullptr},
               {"", nullptr}};
  for (const Case& c : cases) EXPECT_EQ(FindGraphicClassForExtension(c.name), c.cls) << c.name;
  EXPECT_EQ(FindGraphicClassForClipboardFormat(0xC100), &TFakeGif::StaticClass());
  EXPECT_EQ(GraphicFileMask(TFakeGraphic::StaticClass()), "*.bmp;*.gif;*.agif");
  EXPECT_EQ(GraphicFilter(TFakeGif::StaticClass()),
            "All (*.gif;*.agif)|*.gif;*.agif|GIF Image (*.gif)|*.gif|Animated GIF (*.agif)|*.agif");
  EXPECT_EQ(GraphicExtension(TFakeBitmap::StaticClass()), "bmp");

  // Re-registering an extension replaces it; unregistering a class takes its descendants too.
  RegisterPictureFileFormat("BMP", "Device bitmaps", TFakeBitmap::StaticClass());
  EXPECT_EQ(PictureFileFormats().size(), 3u);
  UnregisterPictureGraphicClass(TFakeGif::StaticClass());
  EXPECT_EQ(FindGraphicClassForExtension("agif"), nullptr);
  EXPECT_FALSE(SupportsPictureClipboardFormat(0xC100));
  EXPECT_TRUE(SupportsPictureClipboardFormat(2));
  EXPECT_EQ(GraphicFilter(TFakeGraphic::StaticClass()), "All (*.bmp)|*.bmp|Device bitmaps (*.bmp)|*.bmp");
  ClearPictureRegistry();
  EXPECT_TRUE(PictureFileFormats().empty());
}

}  // namespace
