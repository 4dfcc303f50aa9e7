#include "ImgList.h"

#include <algorithm>

#include "Filer.h"
#include "Streams.h"

FW_BEGIN_CLASS(TCustomImageList)
  FW_PROP(Width, GetWidth, SetWidth)
  FW_DEFAULT(16)
  FW_PROP(Height, GetHeight, SetHeight)
  FW_DEFAULT(16)
  FW_PROP(Masked, GetMasked, SetMasked)
  FW_DEFAULT(1)
  FW_PROP(BkColor, GetBkColor, SetBkColor)
  FW_DEFAULT(clNone)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TImageList)

FW_IMPLEMENT_CLASS(TChangeLink)

void TChangeLink::Destroy() {
  if (Sender) Sender->UnRegisterChanges(this);
  inherited::Destroy();
}

void TChangeLink::Change() {
  if (OnChange) OnChange(Sender);
}

TCustomImageList::TCustomImageList(TComponent* owner) : TComponent(owner) {}

void TCustomImageList::RegisterChanges(TChangeLink* link) {
  if (!link) return;
  // A link hears of one list: registering it here takes it off the one before.
  if (link->Sender && link->Sender != this) link->Sender->UnRegisterChanges(link);
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
  link->Sender = this;
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link) {
  const auto it = std::find(links_.begin(), links_.end(), link);
  if (it == links_.end()) return;
  links_.erase(it);
  link->Sender = nullptr;
}

void TCustomImageList::Destroy() {
  for (TChangeLink* link : links_) link->Sender = nullptr;
  links_.clear();
  if (handle_) ImageList_Destroy(handle_);
  handle_ = nullptr;
  inherited::Destroy();
}

void TCustomImageList::SetWidth(int v) {
  if (v == width_ || v <= 0) return;
  width_ = v;
  Clear();
  if (handle_) ImageList_SetIconSize(handle_, width_, height_);
}

void TCustomImageList::SetHeight(int v) {
  if (v == height_ || v <= 0) return;
  height_ = v;
  Clear();
  if (handle_) ImageList_SetIconSize(handle_, width_, height_);
}

void TCustomImageList::SetBkColor(TColor v) {
  bkColor_ = v;
  if (handle_) ImageList_SetBkColor(handle_, v == clNone ? CLR_NONE : ColorToRGB(v));
}

HIMAGELIST TCustomImageList::Handle() {
  if (!handle_) {
    handle_ = ImageList_Create(width_, height_, ILC_COLOR32 | (masked_ ? ILC_MASK : 0), 4, 4);
    if (!handle_) throw EOutOfResources("Cannot create the image list");
    ImageList_SetBkColor(handle_, bkColor_ == clNone ? CLR_NONE : ColorToRGB(bkColor_));
  }
  return handle_;
}

void TCustomImageList::SetHandle(HIMAGELIST list) {
  if (list == handle_) return;
  if (handle_) ImageList_Destroy(handle_);
  handle_ = list;
  if (handle_) {
    int cx = 0, cy = 0;
    if (ImageList_GetIconSize(handle_, &cx, &cy) && cx > 0 && cy > 0) {
      width_ = cx;
      height_ = cy;
    }
  }
  Changed();
}

int TCustomImageList::Count() {
  return handle_ ? ImageList_GetImageCount(handle_) : 0;
}

void TCustomImageList::Changed() {
  // A link may unregister itself (or another) while told: walk a copy, skipping the gone.
  const std::vector<TChangeLink*> links = links_;
  for (TChangeLink* link : links)
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->Change();
  if (OnChange) OnChange(this);
}

int TCustomImageList::Add(TBitmap* image, TBitmap* mask) {
  if (!image || image->Empty()) throw EInvalidOperation("Invalid image");
  image->ReleaseCanvasContext();
  if (mask) mask->ReleaseCanvasContext();
  int r = ImageList_Add(Handle(), image->Handle(), mask && !mask->Empty() ? mask->Handle() : nullptr);
  if (r < 0) throw EInvalidOperation("Failed to add the image");
  Changed();
  return r;
}

int TCustomImageList::AddMasked(TBitmap* image, TColor maskColor) {
  if (!image || image->Empty()) throw EInvalidOperation("Invalid image");
  image->ReleaseCanvasContext();
  int r = ImageList_AddMasked(Handle(), image->Handle(), ColorToRGB(maskColor));
  if (r < 0) throw EInvalidOperation("Failed to add the image");
  Changed();
  return r;
}

void TCustomImageList::Delete(int index) {
  if (handle_ && ImageList_Remove(handle_, index)) Changed();
}

void TCustomImageList::Clear() {
  if (handle_ && ImageList_GetImageCount(handle_) > 0) {
    ImageList_RemoveAll(handle_);
    Changed();
  }
}

void TCustomImageList::GetBitmap(int index, TBitmap* image) {
  if (!image) return;
  if (index < 0 || index >= Count()) throw EListError("Image index out of bounds");
  image->SetDib(TDib(width_, height_, 24));
  TCanvas* c = image->Canvas();
  c->Brush()->SetColor(bkColor_ == clNone ? clBtnFace : bkColor_);
  RECT r{0, 0, width_, height_};
  c->FillRect(r);
  ImageList_Draw(handle_, index, c->Handle(), 0, 0, ILD_NORMAL);
}

void TCustomImageList::Draw(TCanvas* canvas, int x, int y, int index, bool enabled) {
  if (!canvas || index < 0 || index >= Count()) return;
  ImageList_DrawEx(handle_, index, canvas->Handle(), x, y, 0, 0, CLR_NONE, CLR_NONE,
                   ILD_NORMAL | (enabled ? 0 : ILD_BLEND50));
}

void TCustomImageList::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);  // Left and Top on the form
  filer.DefineBinaryProperty(
      "Bitmap", [this](TStream& s) { ReadData(s); }, [this](TStream& s) { WriteData(s); }, Count() > 0);
}

void TCustomImageList::ReadData(TStream& s) {
  const std::uint32_t count = s.ReadU32();
  const std::uint32_t w = s.ReadU32(), h = s.ReadU32();
  const std::uint32_t flags = s.ReadU32();
  const std::uint32_t bk = s.ReadU32();
  if (w == 0 || h == 0 || w > 1024 || h > 1024) throw EReadError("Invalid image list data");
  width_ = static_cast<int>(w);
  height_ = static_cast<int>(h);
  masked_ = (flags & 1) != 0;
  if (handle_) ImageList_Destroy(handle_);
  handle_ = nullptr;
  SetBkColor(static_cast<TColor>(bk));
  auto readBmp = [&s](TBitmap* b) {
    const std::uint32_t size = s.ReadU32();
    if (size == 0) return;
    TDib dib = TDib::LoadFromBmp(s.ReadBytes(size));
    b->SetDib(std::move(dib));
  };
  TBitmap* image = New<TBitmap>();
  TBitmap* mask = New<TBitmap>();
  try {
    readBmp(image);
    readBmp(mask);
    if (count > 0) {
      if (image->GetWidth() < static_cast<int>(w * count) || image->GetHeight() < static_cast<int>(h))
        throw EReadError("Invalid image list data");
      Add(image, mask->Empty() ? nullptr : mask);
    }
  } catch (...) {
    image->Free();
    mask->Free();
    throw;
  }
  image->Free();
  mask->Free();
}

void TCustomImageList::WriteData(TStream& s) {
  const int count = Count();
  s.WriteU32(static_cast<std::uint32_t>(count));
  s.WriteU32(static_cast<std::uint32_t>(width_));
  s.WriteU32(static_cast<std::uint32_t>(height_));
  s.WriteU32(masked_ ? 1u : 0u);
  s.WriteU32(static_cast<std::uint32_t>(bkColor_));
  TBitmap* strip = New<TBitmap>();
  TBitmap* mask = New<TBitmap>();
  strip->SetDib(TDib(width_ * (count ? count : 1), height_, 24));
  mask->SetDib(TDib(width_ * (count ? count : 1), height_, 1));
  for (int i = 0; i < count; ++i) {
    ImageList_Draw(handle_, i, strip->Canvas()->Handle(), i * width_, 0, ILD_NORMAL);
    ImageList_Draw(handle_, i, mask->Canvas()->Handle(), i * width_, 0, ILD_MASK);
  }
  for (TBitmap* b : {strip, mask}) {
    const std::string bmp = b->Dib().SaveToBmp();
    s.WriteU32(static_cast<std::uint32_t>(bmp.size()));
    s.WriteBytes(bmp);
  }
  strip->Free();
  mask->Free();
}
