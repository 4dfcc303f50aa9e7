#include "JpegImage.h"

#include <utility>

#include "JpegCodec.h"
#include "PictureRegistry.h"
#include "Streams.h"

FW_IMPLEMENT_CLASS(TJPEGImage)

void TJPEGImage::Destroy() {
  OnChange = {};
  FreeAndNil(bitmap_);
  inherited::Destroy();
}

void TJPEGImage::Clear() {
  data_.clear();
  FreeAndNil(bitmap_);
  progressive_ = false;
}

void TJPEGImage::LoadJpeg(std::string file) {
  JpegInfo info;
  TDib dib = DecodeJpeg(file, &info);  // raises before anything is changed
  TBitmap* bitmap = New<TBitmap>();
  bitmap->SetDib(std::move(dib));
  FreeAndNil(bitmap_);
  bitmap_ = bitmap;
  data_ = std::move(file);
  Grayscale = info.Grayscale;
  progressive_ = info.Progressive;
  Changed();
}

void TJPEGImage::Assign(TPersistent* source) {
  if (source == this) return;
  if (!source) {
    Clear();
    Changed();
    return;
  }
  if (auto* j = dynamic_cast<TJPEGImage*>(source)) {
    TBitmap* bitmap = nullptr;
    if (j->bitmap_) {
      bitmap = New<TBitmap>();
      bitmap->Assign(j->bitmap_);
    }
    FreeAndNil(bitmap_);
    bitmap_ = bitmap;
    data_ = j->data_;
    CompressionQuality = j->CompressionQuality;
    Grayscale = j->Grayscale;
    progressive_ = j->progressive_;
    Changed();
    return;
  }
  if (auto* g = dynamic_cast<TGraphic*>(source)) {
    TBitmap* bitmap = New<TBitmap>();
    try {
      bitmap->Assign(g);
    } catch (...) {
      bitmap->Free();
      throw;
    }
    Clear();
    bitmap_ = bitmap;
    Grayscale = false;
    Changed();
    return;
  }
  inherited::Assign(source);
}

void TJPEGImage::AssignTo(TPersistent* dest) {
  if (auto* b = dynamic_cast<TBitmap*>(dest)) {
    b->Assign(Bitmap());
    return;
  }
  inherited::AssignTo(dest);
}

TBitmap* TJPEGImage::Bitmap() {
  if (!bitmap_) bitmap_ = New<TBitmap>();
  return bitmap_;
}

void TJPEGImage::Draw(TCanvas& canvas, const RECT& r) {
  if (!Empty()) canvas.StretchDraw(r, bitmap_);
}

bool TJPEGImage::Empty() const {
  return !bitmap_ || bitmap_->Empty();
}

int TJPEGImage::GetWidth() const {
  return bitmap_ ? bitmap_->GetWidth() : 0;
}

int TJPEGImage::GetHeight() const {
  return bitmap_ ? bitmap_->GetHeight() : 0;
}

void TJPEGImage::Compress() {
  if (Empty()) throw EInvalidGraphic("JPEG image is empty");
  data_ = EncodeJpeg(bitmap_->Dib(), CompressionQuality, Grayscale);
  progressive_ = false;
}

void TJPEGImage::LoadFromStream(TStream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  LoadJpeg(stream.ReadBytes(left < 0 ? 0 : left));
}

void TJPEGImage::SaveToStream(TStream& stream) {
  if (Empty()) return;
  if (data_.empty()) Compress();
  stream.WriteBytes(data_);
}

void TJPEGImage::ReadData(TStream& stream) {
  const std::uint32_t size = stream.ReadU32();
  if (size == 0) {
    Clear();
    Changed();
    return;
  }
  LoadJpeg(stream.ReadBytes(size));
}

void TJPEGImage::WriteData(TStream& stream) {
  if (!Empty() && data_.empty()) Compress();
  stream.WriteU32(static_cast<std::uint32_t>(data_.size()));
  stream.WriteBytes(data_);
}

void InitJpegImage() {
  RegisterClasses({&TJPEGImage::StaticClass()});
  RegisterPictureFileFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
  RegisterPictureFileFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
}

void DoneJpegImage() {
  UnregisterPictureGraphicClass(TJPEGImage::StaticClass());
}
