// JPEG pictures: TJPEGImage, the picture class of the framework's registry for
// the "jpg" and "jpeg" extensions, over the codec of JpegCodec.h. A picture
// keeps the JPEG file it was loaded from (saving writes those bytes again) and
// the bitmap decoded from it; one assigned from another graphic keeps that
// bitmap and is compressed when it is first saved. Errors are EInvalidGraphic
// "JPEG error #<n>".
#pragma once

#include <windows.h>

#include <string>

#include "Graphics.h"

class TJPEGImage : public TGraphic {
  FW_CLASS(TJPEGImage, TGraphic)
 public:
  void Destroy() override;
  // Another JPEG picture (its file and bitmap), or any graphic drawn into a
  // bitmap; null empties the picture.
  void Assign(TPersistent* source) override;
  // Into a bitmap: the decoded pixels.
  void AssignTo(TPersistent* dest) override;

  void Draw(TCanvas& canvas, const RECT& r) override;
  bool Empty() const override;
  int GetWidth() const override;
  int GetHeight() const override;
  // The rest of the stream as a JPEG file, decoded at once.
  void LoadFromStream(TStream& stream) override;
  // The JPEG file (made from the bitmap first when there is none); nothing for an empty picture.
  void SaveToStream(TStream& stream) override;

  // The bitmap into a new JPEG file at CompressionQuality (and Grayscale).
  void Compress();
  // The decoded picture (an empty bitmap for an empty picture); the picture owns it.
  TBitmap* Bitmap();
  const std::string& JpegData() const { return data_; }

  // 1..100, for pictures compressed from a bitmap.
  int CompressionQuality = 90;
  // Compressed as a grey picture; set on loading a grey file.
  bool Grayscale = false;
  bool ProgressiveEncoding() const { return progressive_; }

 protected:
  // Form data: a 32-bit length, then the JPEG file.
  void ReadData(TStream& stream) override;
  void WriteData(TStream& stream) override;

 private:
  void LoadJpeg(std::string file);
  void Clear();
  std::string data_;
  TBitmap* bitmap_ = nullptr;
  bool progressive_ = false;
};

// The unit's start-up: the class for streaming and the picture registry's
// "jpg" and "jpeg" entries. Running it again is harmless.
void InitJpegImage();
void DoneJpegImage();
