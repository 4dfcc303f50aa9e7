// GIF pictures: TGIFImage, a picture class of the framework's registry for
// the "gif" extension and the "GIF Image" clipboard format, over the file
// container of QvGIF.h. Frames keep their raster data as read and build their
// bitmap when it is first asked for; frames made from graphics are compressed
// when the picture is written, and keep that raster data from then on.
// Images assigned from one another share their global data and the frames'
// raster items.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Graphics.h"
#include "QvGIF.h"

class TGIFImage;

// The global part of a picture: comment, aspect, colour bits and resolution,
// global colour table (the container's frames stay unused).
using TGIFData = TGifContainer;
// A frame's raster item: raster data, size, descriptor byte, colour bits and table.
using TGIFItem = TGifFrameData;

class TGIFFrame : public TPersistent {
  FW_CLASS(TGIFFrame, TPersistent)
 public:
  explicit TGIFFrame(TGIFImage* owner = nullptr);
  void Destroy() override;
  void Assign(TPersistent* source) override;
  void AssignTo(TPersistent* dest) override;

  // The frame's bitmap, built from the raster data when it has none yet. A
  // frame whose width or height is 0 gets an empty bitmap.
  TBitmap* FrameBitmap();
  bool HasBitmap() const { return bitmap_ != nullptr; }
  bool HasRasterData() const { return !item_->RasterData.empty(); }
  int GetWidth();
  int GetHeight();
  void StretchDraw(TCanvas& canvas, const RECT& r, bool transparent);
  // The bitmap into raster data (reduced to 256 colours when it has more);
  // "No GIF Data to write" without a bitmap or with an empty one.
  void CompressBitmap();
  // A BMP file of 1, 4 or 8 bits into raster data.
  void CompressDIB(const std::string& bmp);
  // A BMP file of the raster data.
  std::string DecodeToDIB();
  void ResetFrame();
  TGIFImage* Owner() const { return owner_; }
  // The comment lines of the frame's comment block (made on first use).
  std::vector<std::string>& CommentLines();

  // The raster item, shared with the frames this one was assigned from.
  TGIFItem& Item() { return *item_; }
  const std::shared_ptr<TGIFItem>& SharedItem() const { return item_; }
  // The frame's own fields (origin, blocks, delay, transparency, disposal, flags).
  TGifFrameData Fields;

  // The frame as the container holds it, and back.
  TGifFrameData Combined() const;
  void TakeFrom(const TGifFrameData& data);

 private:
  friend class TGIFImage;
  void ResetBitmap();
  TGIFImage* owner_;
  TBitmap* bitmap_ = nullptr;
  std::shared_ptr<TGIFItem> item_;
};

class TGIFImage : public TGraphic {
  FW_CLASS(TGIFImage, TGraphic)
 public:
  TGIFImage();
  void Destroy() override;
  void Assign(TPersistent* source) override;
  void AssignTo(TPersistent* dest) override;

  void Draw(TCanvas& canvas, const RECT& r) override;
  bool Equals(TGraphic* other) override;
  bool Empty() const override;
  int GetWidth() const override;
  int GetHeight() const override;
  // "Cannot change the Size of a GIF image".
  void SetWidth(int) override;
  void SetHeight(int) override;
  HPALETTE GetPalette() override;
  bool GetTransparent() const override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // The "GIF Image" data on the clipboard (and CF_BITMAP for frame 0's
  // bitmap); without it, a bitmap loaded from (format, data, palette).
  void LoadFromClipboardFormat(std::uint32_t format, HANDLE data, HPALETTE palette) override;
  // Frame 0's bitmap into the outputs; the picture as "GIF Image" beside it
  // when every frame holds raster data. The caller keeps the clipboard open
  // over this and its handing over of the outputs: the first handle given in
  // one opening empties the clipboard.
  void SaveToClipboardFormat(std::uint32_t& format, HANDLE& data, HPALETTE& palette) override;

  virtual int AddFrame(TGraphic* graphic);
  void ResetImage();
  // `size` bytes of the stream (exactly; else "Stream read error"), then the
  // first frame's bitmap built when `buildBitmap`.
  void LoadGIF(std::int64_t size, TStream& stream, bool buildBitmap);
  // The GIF file, its size first as 32 bits with `withLength`.
  void StoreGIF(TStream& stream, bool withLength);
  void EncodeAllFrames(bool rebuildBitmaps);
  void RecalcScreenSize();
  TBitmap* CurrentBitmap();

  int GetFrameCount() const { return static_cast<int>(frames_.size()); }
  TGIFFrame* GetFrame(int index) const { return frames_.at(static_cast<std::size_t>(index)); }
  TGIFData& Data() { return *data_; }
  const std::shared_ptr<TGIFData>& SharedData() const { return data_; }

  std::uint8_t FileVersion = 0;
  int CurrentFrame = -1;
  std::uint16_t ScreenWidth = 0, ScreenHeight = 0;
  TColor BackgroundColor = clNone;
  bool Looping = false;
  std::uint16_t LoopCount = 1;

  void ReportFrameProgress(int stage, int percent, const std::string& message);

 protected:
  // Form data: a 32-bit length, then the GIF file.
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) override;

 private:
  friend class TGIFFrame;
  void FreeFrames();
  TGifContainer Container() const;
  std::shared_ptr<TGIFData> data_;
  std::vector<TGIFFrame*> frames_;
};

// Damaged raster data is accepted (the frame marked DamagedData) instead of
// raising; on by default.
extern bool LoadCorruptedGIF;

// The unit's start-up: the "GIF Image" clipboard format, the classes for
// streaming, and the picture registry entries. Running it again is harmless.
void InitQvGIF();
void DoneQvGIF();
// The "GIF Image" format's number (0 before start-up).
std::uint32_t GIFClipboardFormat();
