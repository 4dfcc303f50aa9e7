#include "QvGIFWin.h"

#include <algorithm>
#include <cstring>

#include "AniFileWin.h"
#include "Clipbrd.h"
#include "DrawUtils.h"
#include "Exceptions.h"
#include "PictureRegistry.h"
#include "QvGraphWin.h"
#include "Streams.h"
#include "SysUtils.h"
#include "SysUtilsWin.h"

bool LoadCorruptedGIF = true;

namespace {

std::uint32_t g_gifFormat = 0;

[[noreturn]] void GifFail(const ResString& text) {
  throw EInvalidGraphicOperation(LoadResString(text));
}

[[noreturn]] void StreamReadError() {
  throw EReadError("Stream read error");
}

// The raster item's fields of a container frame.
void CopyItem(const TGifFrameData& from, TGIFItem& to) {
  to.RasterData = from.RasterData;
  to.Width = from.Width;
  to.Height = from.Height;
  to.Packed = from.Packed;
  to.ColorBits = from.ColorBits;
  to.FrameColors = from.FrameColors;
}

std::shared_ptr<TGIFData> GlobalsOf(const TGifContainer& c) {
  auto d = std::make_shared<TGIFData>();
  d->CommentText = c.CommentText;
  d->PixelAspect = c.PixelAspect;
  d->ColorBits = c.ColorBits;
  d->ColorResolution = c.ColorResolution;
  d->GlobalColors = c.GlobalColors;
  return d;
}

void CopyGlobals(const TGifContainer& from, TGIFData& to) {
  to.CommentText = from.CommentText;
  to.PixelAspect = from.PixelAspect;
  to.ColorBits = from.ColorBits;
  to.ColorResolution = from.ColorResolution;
  to.GlobalColors = from.GlobalColors;
}

TColor NearestColor(TBitmap* bitmap, TColor color) {
  HDC dc = bitmap->Canvas()->Handle();
  return static_cast<TColor>(static_cast<std::int32_t>(GetNearestColor(dc, ColorToRGB(color))));
}

}  // namespace

// --- TGIFFrame ---------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TGIFFrame)

TGIFFrame::TGIFFrame(TGIFImage* owner) : owner_(owner) {
  ResetFrame();
}

void TGIFFrame::Destroy() {
  FreeAndNil(bitmap_);
  item_.reset();
  inherited::Destroy();
}

void TGIFFrame::ResetFrame() {
  item_ = std::make_shared<TGIFItem>();
  Fields = TGifFrameData{};
}

void TGIFFrame::ResetBitmap() {
  FreeAndNil(bitmap_);
  bitmap_ = New<TBitmap>();
}

TGifFrameData TGIFFrame::Combined() const {
  TGifFrameData c = Fields;
  CopyItem(*item_, c);
  return c;
}

void TGIFFrame::TakeFrom(const TGifFrameData& data) {
  Fields = data;
  Fields.RasterData.clear();
  CopyItem(data, *item_);
}

std::vector<std::string>& TGIFFrame::CommentLines() {
  for (auto& b : Fields.ExtensionBlocks)
    if (b.Kind == bkComment) {
      b.HasData = true;
      return b.Data;
    }
  TGifExtension comment;
  comment.Kind = bkComment;
  comment.HasData = true;
  Fields.ExtensionBlocks.push_back(std::move(comment));
  return Fields.ExtensionBlocks.back().Data;
}

std::string TGIFFrame::DecodeToDIB() {
  TGifFrameData c = Combined();
  TGifProgressEvent progress;
  if (owner_) progress = TGifProgressEvent::Bind<&TGIFImage::ReportFrameProgress>(owner_);
  std::string bmp = DecodeGifFrameToDIB(c, progress, LoadCorruptedGIF);
  Fields.DamagedData = c.DamagedData;
  return bmp;
}

TBitmap* TGIFFrame::FrameBitmap() {
  if (bitmap_ && !bitmap_->Empty()) return bitmap_;
  ResetBitmap();
  // A size still 0 after the screen's was taken has no pixels to decode.
  if (HasRasterData() && item_->Width > 0 && item_->Height > 0) {
    const std::string bmp = DecodeToDIB();
    TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(bmp.data(), bmp.size()));
    bitmap_->LoadFromStream(*s);
  }
  return bitmap_;
}

int TGIFFrame::GetWidth() {
  if (!bitmap_ && !HasRasterData()) return 0;
  return FrameBitmap()->GetWidth();
}

int TGIFFrame::GetHeight() {
  if (!bitmap_ && !HasRasterData()) return 0;
  return FrameBitmap()->GetHeight();
}

void TGIFFrame::StretchDraw(TCanvas& canvas, const RECT& r, bool transparent) {
  TBitmap* bitmap = FrameBitmap();
  if (bitmap->Empty()) return;
  if (Fields.TransparentColor != kGifNoColor && transparent) {
    const RECT whole{0, 0, bitmap->GetWidth(), bitmap->GetHeight()};
    DrawBitmapRectTransparent(&canvas, r.left, r.top, r.right - r.left, r.bottom - r.top, whole, bitmap,
                              static_cast<std::int32_t>(Fields.TransparentColor));
  } else {
    canvas.StretchDraw(r, bitmap);
  }
}

void TGIFFrame::CompressDIB(const std::string& bmp) {
  TGifFrameData c = Combined();
  TGifContainer globals;
  if (owner_) globals = owner_->Container();
  globals.Frames.clear();
  TGifProgressEvent progress;
  if (owner_) progress = TGifProgressEvent::Bind<&TGIFImage::ReportFrameProgress>(owner_);
  try {
    CompressDIBToGifFrame(bmp, c, globals, progress);
  } catch (const EAbort&) {
    ResetFrame();
    throw;
  }
  TakeFrom(c);
  if (owner_) {
    CopyGlobals(globals, *owner_->data_);
    owner_->ScreenWidth = globals.ScreenWidth;
    owner_->ScreenHeight = globals.ScreenHeight;
  }
}

void TGIFFrame::CompressBitmap() {
  if (!bitmap_ || bitmap_->Empty()) GifFail(SGIFNoData);
  const TPixelFormat format = PixelFormatOfBitmap(*bitmap_);
  TOwned<TMemoryStream> s;
  if (format == pf1bit || format == pf4bit || format == pf8bit) {
    s.reset(New<TMemoryStream>());
    bitmap_->SaveToStream(*s);
  } else {
    s.reset(BitmapToReducedStream(*bitmap_, pf8bit, Fields.GrayReduction ? rmLuminance : DefaultReduction));
  }
  CompressDIB(s->DataString());
}

void TGIFFrame::Assign(TPersistent* source) {
  if (source == this) return;
  if (!source) {
    ResetFrame();
    FreeAndNil(bitmap_);
  } else if (auto* f = dynamic_cast<TGIFFrame*>(source)) {
    item_ = f->item_;
    const bool local = f->owner_ == owner_ ? f->Fields.LocalColorTable : true;
    Fields.LocalColorTable = local;
    Fields.Left = f->Fields.Left;
    Fields.Top = f->Fields.Top;
    Fields.InterlacedRows = f->Fields.InterlacedRows;
    // A bitmap of the old item would show another picture: it goes too.
    TBitmap* copy = nullptr;
    if (f->bitmap_) {
      copy = New<TBitmap>();
      copy->Assign(f->bitmap_);
    }
    FreeAndNil(bitmap_);
    bitmap_ = copy;
    Fields.TransparentColor = f->Fields.TransparentColor;
    Fields.DelayTime = f->Fields.DelayTime;
    Fields.DisposalMethod = f->Fields.DisposalMethod;
    Fields.GrayReduction = f->Fields.GrayReduction;
    Fields.DamagedData = f->Fields.DamagedData;
    for (const auto& b : f->Fields.ExtensionBlocks)
      if (b.Kind == bkComment && b.HasData && !b.Data.empty()) {
        CommentLines() = b.Data;
        break;
      }
  } else if (auto* image = dynamic_cast<TGIFImage*>(source)) {
    if (image->Empty())
      Assign(nullptr);
    else
      Assign(image->frames_.at(static_cast<std::size_t>(std::max(image->CurrentFrame, 0))));
    return;  // the inner assignment recalculated the owner's size
  } else if (auto* g = dynamic_cast<TGraphic*>(source)) {
    if (g->Empty()) {
      Assign(nullptr);
      return;
    }
    ResetFrame();
    ResetBitmap();
    try {
      bitmap_->Assign(g);
    } catch (const Exception&) {
      // A graphic that cannot become a bitmap is drawn on the mask colour.
      bitmap_->Canvas()->Brush()->SetColor(static_cast<std::int32_t>(0xFF00FF));
      bitmap_->SetSize(g->GetWidth(), g->GetHeight());
      bitmap_->Canvas()->FillRect(RECT{0, 0, g->GetWidth(), g->GetHeight()});
      bitmap_->Canvas()->Draw(0, 0, g);
    }
    if (g->GetTransparent()) {
      if (auto* b = dynamic_cast<TBitmap*>(g))
        Fields.TransparentColor = static_cast<std::uint32_t>(static_cast<std::int32_t>(b->GetTransparentColor()));
      else
        Fields.TransparentColor = static_cast<std::uint32_t>(
            static_cast<std::int32_t>(NearestColor(bitmap_, bitmap_->Canvas()->Brush()->GetColor())));
    }
  } else {
    inherited::Assign(source);
  }
  if (owner_) owner_->RecalcScreenSize();
}

void TGIFFrame::AssignTo(TPersistent* dest) {
  if (dynamic_cast<TGIFFrame*>(dest) || dynamic_cast<TGIFImage*>(dest)) {
    dest->Assign(this);
  } else if (auto* g = dynamic_cast<TGraphic*>(dest)) {
    g->Assign(FrameBitmap());
    if (auto* b = dynamic_cast<TBitmap*>(g); b && Fields.TransparentColor != kGifNoColor) {
      b->SetTransparentColor(NearestColor(b, static_cast<std::int32_t>(Fields.TransparentColor)));
      b->SetTransparent(true);
    }
  } else {
    inherited::AssignTo(dest);
  }
}

// --- TGIFImage ---------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TGIFImage)

TGIFImage::TGIFImage() {
  ResetImage();
  SetTransparent(true);
}

void TGIFImage::Destroy() {
  OnChange = {};
  data_.reset();
  FreeFrames();
  inherited::Destroy();
}

void TGIFImage::FreeFrames() {
  for (TGIFFrame* f : frames_) f->Free();
  frames_.clear();
}

void TGIFImage::ResetImage() {
  data_ = std::make_shared<TGIFData>();
  FreeFrames();
  CurrentFrame = -1;
  BackgroundColor = clNone;
  LoopCount = 1;
  Looping = false;
  FileVersion = 0;
}

TGifContainer TGIFImage::Container() const {
  TGifContainer c = *data_;
  c.Frames.clear();
  c.FileVersion = FileVersion;
  c.ScreenWidth = ScreenWidth;
  c.ScreenHeight = ScreenHeight;
  c.BackgroundColor = static_cast<std::uint32_t>(static_cast<std::int32_t>(BackgroundColor));
  c.Looping = Looping;
  c.LoopCount = LoopCount;
  return c;
}

int TGIFImage::AddFrame(TGraphic* graphic) {
  TGIFFrame* frame = New<TGIFFrame>(this);
  frames_.push_back(frame);
  CurrentFrame = GetFrameCount() - 1;
  const int index = CurrentFrame;
  frame->Assign(graphic);
  if (FileVersion == 0) FileVersion = 1;
  if (GetFrameCount() > 1) FileVersion = 2;
  return index;
}

void TGIFImage::Assign(TPersistent* source) {
  if (source == this) return;
  if (!source) {
    ResetImage();
  } else if (auto* g = dynamic_cast<TGIFImage*>(source)) {
    data_ = g->data_;
    FileVersion = g->FileVersion;
    BackgroundColor = g->BackgroundColor;
    LoopCount = g->LoopCount;
    Looping = g->Looping;
    FreeFrames();
    for (TGIFFrame* from : g->frames_) {
      TGIFFrame* f = New<TGIFFrame>(this);
      frames_.push_back(f);
      f->Assign(from);
      f->Fields.LocalColorTable = from->Fields.LocalColorTable;
    }
    ScreenWidth = g->ScreenWidth;
    ScreenHeight = g->ScreenHeight;
    CurrentFrame = g->CurrentFrame;
  } else if (auto* f = dynamic_cast<TGIFFrame*>(source)) {
    ResetImage();
    if (f->Owner()) CopyGlobals(f->Owner()->Data(), *data_);
    data_->CommentText.clear();
    TGIFFrame* frame = New<TGIFFrame>(this);
    frames_.push_back(frame);
    frame->Assign(f);
    CurrentFrame = 0;
    if (FileVersion == 0) FileVersion = 1;
  } else if (auto* b = dynamic_cast<TBitmap*>(source)) {
    ResetImage();
    AddFrame(b);
  } else if (auto* ani = dynamic_cast<TAnimatedCursorImage*>(source)) {
    ResetImage();
    BackgroundColor = clWindow;
    for (int i = 0; i < ani->GetFrameCount(); ++i) {
      TIconFrame* step = ani->GetFrame(i);
      const int index = AddFrame(step->FrameIcon());
      // Rates count sixtieths of a second; delays are kept in milliseconds.
      frames_[static_cast<std::size_t>(index)]->Fields.DelayTime =
          static_cast<std::uint32_t>(std::uint64_t{step->Rate} * 100 / 6);
    }
  } else {
    inherited::Assign(source);
    return;
  }
  Changed();
}

void TGIFImage::AssignTo(TPersistent* dest) {
  if (auto* g = dynamic_cast<TGIFImage*>(dest)) {
    g->Assign(this);
  } else if (auto* graphic = dynamic_cast<TGraphic*>(dest)) {
    if (Empty())
      graphic->Assign(nullptr);
    else if (CurrentFrame < 0)
      graphic->Assign(CurrentBitmap());
    else
      frames_.at(static_cast<std::size_t>(std::min(CurrentFrame, GetFrameCount() - 1)))->AssignTo(graphic);
  } else {
    inherited::AssignTo(dest);
  }
}

void TGIFImage::Draw(TCanvas& canvas, const RECT& r) {
  if (CurrentFrame >= 0 && CurrentFrame < GetFrameCount())
    frames_[static_cast<std::size_t>(CurrentFrame)]->StretchDraw(canvas, r, GetTransparent());
}

bool TGIFImage::Equals(TGraphic* other) {
  auto* g = dynamic_cast<TGIFImage*>(other);
  return g && g->data_ == data_;
}

bool TGIFImage::Empty() const {
  if (frames_.empty()) return true;
  const std::size_t i = static_cast<std::size_t>(std::max(CurrentFrame, 0));
  if (i >= frames_.size()) return true;
  return !frames_[i]->HasBitmap() && !frames_[i]->HasRasterData();
}

int TGIFImage::GetWidth() const {
  if (Empty() || CurrentFrame < 0 || CurrentFrame >= GetFrameCount()) return 0;
  return frames_[static_cast<std::size_t>(CurrentFrame)]->FrameBitmap()->GetWidth();
}

int TGIFImage::GetHeight() const {
  if (Empty() || CurrentFrame < 0 || CurrentFrame >= GetFrameCount()) return 0;
  return frames_[static_cast<std::size_t>(CurrentFrame)]->FrameBitmap()->GetHeight();
}

void TGIFImage::SetWidth(int) {
  GifFail(SGIFCannotResize);
}

void TGIFImage::SetHeight(int) {
  GifFail(SGIFCannotResize);
}

HPALETTE TGIFImage::GetPalette() {
  if (frames_.empty()) return nullptr;
  return CurrentBitmap()->Palette();
}

bool TGIFImage::GetTransparent() const {
  if (!inherited::GetTransparent()) return false;
  return std::any_of(frames_.begin(), frames_.end(),
                     [](const TGIFFrame* f) { return f->Fields.TransparentColor != kGifNoColor; });
}

void TGIFImage::RecalcScreenSize() {
  std::int64_t w = 0, h = 0;
  for (TGIFFrame* f : frames_) {
    w = std::max<std::int64_t>(w, std::int64_t{f->Fields.Left} + f->GetWidth());
    h = std::max<std::int64_t>(h, std::int64_t{f->Fields.Top} + f->GetHeight());
  }
  ScreenWidth = static_cast<std::uint16_t>(std::clamp<std::int64_t>(w, 0, 0xFFFF));
  ScreenHeight = static_cast<std::uint16_t>(std::clamp<std::int64_t>(h, 0, 0xFFFF));
}

TBitmap* TGIFImage::CurrentBitmap() {
  if (frames_.empty()) {
    CurrentFrame = 0;
    TOwned<TBitmap> empty(New<TBitmap>());
    Assign(empty.get());
    if (frames_.empty()) AddFrame(empty.get());
    CurrentFrame = 0;
    return frames_[0]->FrameBitmap();
  }
  const int i = CurrentFrame >= 0 && CurrentFrame < GetFrameCount() ? CurrentFrame : 0;
  return frames_[static_cast<std::size_t>(i)]->FrameBitmap();
}

void TGIFImage::ReportFrameProgress(int stage, int percent, const std::string& message) {
  Progress(this, static_cast<TProgressStage>(std::clamp(stage, 0, 2)),
           static_cast<std::uint8_t>(std::clamp(percent, 0, 100)), false, RECT{0, 0, 0, 0}, message);
}

void TGIFImage::LoadGIF(std::int64_t size, TStream& stream, bool buildBitmap) {
  ResetImage();
  // The size comes from the data itself (form data, another program's
  // clipboard): it must fit in what the stream still holds.
  if (size < 0 || size > stream.Size() - stream.Position()) StreamReadError();
  const std::string bytes = size > 0 ? stream.ReadBytes(size) : std::string();
  TGifContainer c;
  auto adopt = [&] {
    data_ = GlobalsOf(c);
    FileVersion = c.FileVersion;
    ScreenWidth = c.ScreenWidth;
    ScreenHeight = c.ScreenHeight;
    BackgroundColor = static_cast<std::int32_t>(c.BackgroundColor);
    Looping = c.Looping;
    LoopCount = c.LoopCount;
    for (const TGifFrameData& fd : c.Frames) {
      TGIFFrame* f = New<TGIFFrame>(this);
      f->TakeFrom(fd);
      frames_.push_back(f);
    }
  };
  try {
    LoadGifData(bytes, LoadCorruptedGIF, c);
  } catch (...) {
    adopt();  // the frames read before the failure stay
    if (!frames_.empty()) CurrentFrame = 0;
    throw;
  }
  adopt();
  if (!frames_.empty()) {
    CurrentFrame = 0;
    if (buildBitmap) {
      try {
        CurrentBitmap();
      } catch (...) {
        frames_[0]->Free();
        frames_.erase(frames_.begin());
        if (frames_.empty()) CurrentFrame = -1;
        throw;
      }
    }
  }
  SetPaletteModified(true);
  Changed();
}

void TGIFImage::EncodeAllFrames(bool rebuildBitmaps) {
  for (TGIFFrame* f : frames_) {
    if (!f->HasRasterData()) {
      f->CompressBitmap();
      if (rebuildBitmaps && f->HasBitmap() && !f->FrameBitmap()->Palette()) {
        f->bitmap_->Free();
        f->bitmap_ = nullptr;
        try {
          f->FrameBitmap();
        } catch (const EAbort&) {
        }
      }
    }
  }
}

void TGIFImage::StoreGIF(TStream& stream, bool withLength) {
  if (frames_.empty()) GifFail(SGIFNoData);
  EncodeAllFrames(false);
  RecalcScreenSize();
  TGifContainer c = Container();
  for (TGIFFrame* f : frames_) c.Frames.push_back(f->Combined());
  const std::string file = StoreGifData(c);  // brings the control blocks in line
  FileVersion = c.FileVersion;
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    frames_[i]->Fields.ExtensionBlocks = c.Frames[i].ExtensionBlocks;
    frames_[i]->Item().ColorBits = c.Frames[i].ColorBits;
  }
  stream.WriteBytes(withLength ? LengthPrefixed(file) : file);
}

void TGIFImage::LoadFromStream(TStream& stream) {
  LoadGIF(stream.Size() - stream.Position(), stream, true);
}

void TGIFImage::SaveToStream(TStream& stream) {
  StoreGIF(stream, false);
}

void TGIFImage::ReadData(TStream& stream) {
  const std::string file = ReadLengthPrefixedGif(stream);
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(file.data(), file.size()));
  LoadGIF(s->Size(), *s, true);
}

void TGIFImage::WriteData(TStream& stream) {
  StoreGIF(stream, true);
}

void TGIFImage::LoadFromClipboardFormat(std::uint32_t format, HANDLE data, HPALETTE palette) {
  TClipboard* clipboard = Clipboard();
  // Open for the whole load: the clipboard's handles are valid only while it is.
  clipboard->Open();
  HANDLE gif = g_gifFormat ? clipboard->GetAsHandle(g_gifFormat) : nullptr;
  const void* bytes = gif ? GlobalLock(gif) : nullptr;
  if (!bytes) {
    clipboard->Close();
    TOwned<TBitmap> bitmap(New<TBitmap>());
    bitmap->LoadFromClipboardFormat(format, data, palette);
    Assign(bitmap.get());
    return;
  }
  try {
    TOwned<TReadOnlyMemoryStream> data(New<TReadOnlyMemoryStream>(bytes, GlobalSize(gif)));
    const std::string file = ReadLengthPrefixedGif(*data);  // another program's bytes
    TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(file.data(), file.size()));
    LoadGIF(s->Size(), *s, false);
    if (!frames_.empty()) {
      CurrentFrame = 0;
      if (HANDLE bitmap = clipboard->GetAsHandle(CF_BITMAP)) {
        TBitmap* b = frames_[0]->bitmap_ ? frames_[0]->bitmap_ : New<TBitmap>();
        frames_[0]->bitmap_ = b;
        b->LoadFromClipboardFormat(CF_BITMAP, bitmap, palette);
      }
    }
  } catch (...) {
    GlobalUnlock(gif);
    clipboard->Close();
    throw;
  }
  GlobalUnlock(gif);
  clipboard->Close();
}

void TGIFImage::SaveToClipboardFormat(std::uint32_t& format, HANDLE& data, HPALETTE& palette) {
  if (frames_.empty()) return;
  frames_[0]->FrameBitmap()->SaveToClipboardFormat(format, data, palette);
  if (!g_gifFormat) return;
  if (!std::all_of(frames_.begin(), frames_.end(), [](TGIFFrame* f) { return f->HasRasterData(); })) return;
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  StoreGIF(*s, true);
  const std::string bytes = s->DataString();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes.size());
  if (!memory) RaiseLastOSError();
  if (void* p = GlobalLock(memory)) {
    std::memcpy(p, bytes.data(), bytes.size());
    GlobalUnlock(memory);
  }
  try {
    Clipboard()->SetAsHandle(g_gifFormat, memory);
  } catch (...) {
    GlobalFree(memory);
    throw;
  }
}

// --- start-up ----------------------------------------------------------------------------------

void InitQvGIF() {
  g_gifFormat = TClipboard::RegisterFormat("GIF Image");
  RegisterClasses({&TGIFFrame::StaticClass(), &TGIFImage::StaticClass()});
  RegisterPictureFileFormat("gif", LoadResString(SGIFDescription), TGIFImage::StaticClass());
  if (g_gifFormat) RegisterPictureClipboardFormat(g_gifFormat, TGIFImage::StaticClass());
}

void DoneQvGIF() {
  UnregisterPictureGraphicClass(TGIFImage::StaticClass());
}

std::uint32_t GIFClipboardFormat() {
  return g_gifFormat;
}
