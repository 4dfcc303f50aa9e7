#include "PictureContainer.h"

#include <olectl.h>

#include <cstring>

#include "Exceptions.h"
#include "HtmlGifFrames.h"
#include "HtmlMarkup.h"
#include "Streams.h"
#include "SysUtils.h"

// clang-format off
FW_BEGIN_CLASS(THTMLPicture)
  FW_PROP(Stretch, GetStretch, SetStretch)
  FW_DEFAULT(0)
  FW_PROP(Frame, GetFrame, SetFrame)
  FW_DEFAULT(1)
  FW_EVENT(OnFrameChange, OnFrameChange)
  FW_EVENT(OnDownLoadError, OnDownLoadError)
  FW_EVENT(OnDownLoadComplete, OnDownLoadComplete)
  FW_EVENT(OnDownLoadCancel, OnDownLoadCancel)
  FW_EVENT(OnDownLoadProgress, OnDownLoadProgress)
FW_END_CLASS
FW_IMPLEMENT_CLASS(THTMLPictureCache)
FW_BEGIN_CLASS(TPictureItem)
  FW_PROP(Picture, GetPicture, SetPicture)
  FW_PROP(Name, GetName, SetName)
  FW_PROP(Tag, GetTag, SetTag)
  FW_DEFAULT(0)
FW_END_CLASS
FW_IMPLEMENT_CLASS(TPictureCollection)
FW_BEGIN_CLASS(TPictureContainer)
  FW_PROP(Items, GetItems, SetItems)
  FW_PROP(Version, GetVersion, SetVersion)
FW_END_CLASS
// clang-format on

namespace {

std::string ReadAll(TStream& stream) {
  stream.SetPosition(0);
  const std::int64_t size = stream.Size();
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

int HimetricToPixels(OLE_XSIZE_HIMETRIC value, int dpi) {
  return MulDiv(static_cast<int>(value), dpi, 2540);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return text.size() >= n && SameText(std::string_view(text).substr(0, n), prefix);
}

}  // namespace

// --- THTMLPicture ------------------------------------------------------------------------------

THTMLPicture::THTMLPicture() = default;

void THTMLPicture::Destroy() {
  DropPicture();
  inherited::Destroy();
}

void THTMLPicture::DropPicture() {
  if (picture_) picture_->Release();
  picture_ = nullptr;
}

std::string THTMLPicture::Data() const {
  return data_;
}

void THTMLPicture::SetData(std::string bytes) {
  data_ = std::move(bytes);
  empty_ = false;
  RebuildPicture();
}

void THTMLPicture::Assign(TPersistent* source) {
  empty_ = true;
  DropPicture();
  frameCount_ = -1;
  frame_ = 1;
  if (!source) {
    data_.clear();
    return;
  }
  if (auto* other = dynamic_cast<THTMLPicture*>(source)) {
    SetData(other->data_);
    Changed();
  }
}

void THTMLPicture::LoadFromStream(TStream& stream) {
  SetData(ReadAll(stream));
  Changed();
}

void THTMLPicture::ReadData(TStream& stream) {
  SetData(ReadAll(stream));
}

void THTMLPicture::SaveToStream(TStream& stream) {
  stream.WriteBytes(data_);
}

void THTMLPicture::WriteData(TStream& stream) {
  stream.WriteBytes(data_);
}

void THTMLPicture::LoadFromFile(const std::string& fileName) {
  try {
    TOwned<TFileStream> file(New<TFileStream>(fileName, fmOpenRead | fmShareDenyWrite));
    SetData(ReadAll(*file));
    Changed();
  } catch (...) {
    empty_ = true;
  }
}

void THTMLPicture::LoadResourcePicture(ModuleHandle module, const std::string& name) {
  const auto data = FindResourceData(module, ResourceId(static_cast<std::uint16_t>(10)), ResourceId(name));
  if (!data) return;
  TOwned<TReadOnlyMemoryStream> stream(New<TReadOnlyMemoryStream>(data->data(), data->size()));
  LoadFromStream(*stream);
}

void THTMLPicture::LoadFromLocation(const std::string& location) {
  if (StartsWithNoCase(location, "RES://")) {
    id_ = location;
    const std::string name = location.substr(6);
    if (!name.empty()) LoadResourcePicture(MainInstance(), name);
  } else if (StartsWithNoCase(location, "FILE://")) {
    id_ = location;
    const std::string path = location.substr(7);
    if (!path.empty()) LoadFromFile(path);
  } else if (!background_) {
    address_ = location;
    id_ = location;
  } else if (!downloading_) {
    // A download would have nothing to fetch with: the request is recorded
    // and the picture stays empty.
    address_ = location;
    downloading_ = true;
  }
}

void THTMLPicture::SetFrame(int v) {
  frame_ = v;
  if (!data_.empty()) {
    RebuildPicture();
    if (OnFrameChange) OnFrameChange(this);
  }
}

int THTMLPicture::GifFrameCount() {
  if (frameCount_ >= 0) return frameCount_;
  const int count = CountGifFrames(data_);
  if (count >= 0) frameCount_ = count;
  return count;
}

int THTMLPicture::GetWidth() const {
  if (!picture_) return 0;
  OLE_XSIZE_HIMETRIC w = 0;
  picture_->get_Width(&w);
  return HimetricToPixels(w, 96);
}

int THTMLPicture::GetHeight() const {
  if (!picture_) return 0;
  OLE_YSIZE_HIMETRIC h = 0;
  picture_->get_Height(&h);
  return HimetricToPixels(h, 96);
}

int THTMLPicture::DisplayWidth() const {
  return screenWidth_ > 0 ? screenWidth_ : GetWidth();
}

int THTMLPicture::DisplayHeight() const {
  return screenHeight_ > 0 ? screenHeight_ : GetHeight();
}

void THTMLPicture::RebuildPicture() {
  DropPicture();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, data_.size());
  if (!block) throw Exception("Could not allocate memory for image");
  void* bytes = GlobalLock(block);
  if (!bytes) {
    GlobalFree(block);
    throw Exception("Could not allocate memory for image");
  }
  frameLeft_ = frameTop_ = frameWidth_ = frameHeight_ = 0;
  screenWidth_ = screenHeight_ = 0;
  if (HasGifSignature(data_) && GifFrameCount() > 0) {
    GifFrameSelection chosen = SelectGifFrame(data_, frame_);
    screenWidth_ = chosen.screenWidth;
    screenHeight_ = chosen.screenHeight;
    frameLeft_ = chosen.left;
    frameTop_ = chosen.top;
    frameWidth_ = chosen.width;
    frameHeight_ = chosen.height;
    std::memcpy(bytes, chosen.bytes.data(), chosen.bytes.size());
  } else if (!data_.empty()) {
    std::memcpy(bytes, data_.data(), data_.size());
  }
  GlobalUnlock(block);

  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    GlobalFree(block);
    throw Exception("Could not create image stream");
  }
  if (!stream) throw Exception("Empty image stream created");
  IPicture* picture = nullptr;
  const HRESULT hr =
      OleLoadPicture(stream, static_cast<LONG>(data_.size()), FALSE, IID_IPicture, reinterpret_cast<void**>(&picture));
  stream->Release();
  if (FAILED(hr)) {
    if (picture) picture->Release();
    throw Exception("Could not load image. Invalid format");
  }
  if (!picture) throw Exception("Could not load image");
  picture_ = picture;
}

void THTMLPicture::Draw(TCanvas& canvas, const RECT& r) {
  if (empty_ || !picture_) return;
  OLE_XSIZE_HIMETRIC hmWidth = 0;
  OLE_YSIZE_HIMETRIC hmHeight = 0;
  picture_->get_Width(&hmWidth);
  picture_->get_Height(&hmHeight);
  HDC dc = canvas.Handle();
  if (stretch_) {
    picture_->Render(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, hmHeight, hmWidth, -hmHeight, &r);
  } else {
    const int w = HimetricToPixels(hmWidth, GetDeviceCaps(dc, LOGPIXELSX));
    const int h = HimetricToPixels(hmHeight, GetDeviceCaps(dc, LOGPIXELSY));
    picture_->Render(dc, r.left, r.top, w, h, 0, hmHeight, hmWidth, -hmHeight, &r);
  }
}

// --- THTMLPictureCache -------------------------------------------------------------------------

void THTMLPictureCache::Destroy() {
  FreeCachePictures();
  inherited::Destroy();
}

THTMLPicture* THTMLPictureCache::NewCachePicture() {
  THTMLPicture* picture = New<THTMLPicture>();
  pictures_.push_back(picture);
  return picture;
}

THTMLPicture* THTMLPictureCache::CachePictureById(const std::string& id) const {
  for (THTMLPicture* p : pictures_)
    if (p->ID() == id) return p;
  return nullptr;
}

THTMLPicture* THTMLPictureCache::CachePictureAt(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return pictures_[static_cast<std::size_t>(index)];
}

void THTMLPictureCache::FreeCachePictures() {
  std::vector<THTMLPicture*> pictures;
  pictures.swap(pictures_);
  for (THTMLPicture* p : pictures) p->Free();
}

// --- TPictureItem, TPictureCollection, TPictureContainer ---------------------------------------

TPictureItem::TPictureItem(TCollection* collection) : TCollectionItem(collection), picture_(New<THTMLPicture>()) {}

void TPictureItem::Destroy() {
  FreeAndNil(picture_);
  inherited::Destroy();
}

void TPictureItem::SetPicture(THTMLPicture* picture) {
  picture_->Assign(picture);
}

void TPictureItem::Assign(TPersistent* source) {
  if (auto* item = dynamic_cast<TPictureItem*>(source)) {
    name_ = item->name_;
    tag_ = item->tag_;
    picture_->Assign(item->picture_);
    return;
  }
  inherited::Assign(source);
}

TPictureCollection::TPictureCollection(TPictureContainer* owner)
    : TOwnedCollection(owner, TPictureItem::StaticClass()), container_(owner) {}

TPictureContainer::TPictureContainer(TComponent* owner) : TComponent(owner), items_(New<TPictureCollection>(this)) {
  items_->PropName = "Items";
}

void TPictureContainer::Destroy() {
  FreeAndNil(items_);
  inherited::Destroy();
}

void TPictureContainer::SetItems(TPictureCollection* items) {
  if (items != items_) items_->Assign(items);
}

THTMLPicture* TPictureContainer::PictureByName(const std::string& name) {
  for (int i = 0; i < items_->Count(); ++i) {
    TPictureItem* item = items_->Items(i);
    if (SameText(item->GetName(), name)) return item->GetPicture();
  }
  return nullptr;
}

void RegisterPictureContainerClasses() {
  RegisterClasses({&TPictureContainer::StaticClass(), &TPictureItem::StaticClass(), &THTMLPicture::StaticClass()});
}
