#include "AniFileWin.h"

#include <algorithm>

#include "DrawUtils.h"
#include "Exceptions.h"
#include "IcoListWin.h"
#include "QvGraphWin.h"
#include "SysUtils.h"

namespace {

// A framework icon as the parser sees it; freed with the last frame that shows it.
class FrameworkAniIcon : public AniIcon {
 public:
  explicit FrameworkAniIcon(TIcon* icon) : icon_(icon) {}
  ~FrameworkAniIcon() override { icon_->Free(); }
  FrameworkAniIcon(const FrameworkAniIcon&) = delete;
  FrameworkAniIcon& operator=(const FrameworkAniIcon&) = delete;
  int Width() const override { return icon_->GetWidth(); }
  int Height() const override { return icon_->GetHeight(); }
  TIcon* Icon() const { return icon_; }

 private:
  TIcon* icon_;
};

class FrameworkIconFactory : public AniIconFactory {
 public:
  std::shared_ptr<AniIcon> LoadIcon(std::string_view iconFile) override { return LoadFrameworkAniIcon(iconFile); }
};

std::shared_ptr<AniIcon> NewAniIcon() {
  return std::make_shared<FrameworkAniIcon>(New<TIcon>());
}

}  // namespace

TIcon* FrameworkIconOf(const AniIcon* icon) {
  return icon ? static_cast<const FrameworkAniIcon*>(icon)->Icon() : nullptr;
}

std::shared_ptr<AniIcon> LoadFrameworkAniIcon(std::string_view iconFile) {
  std::shared_ptr<AniIcon> icon = NewAniIcon();
  TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(iconFile.data(), iconFile.size()));
  FrameworkIconOf(icon.get())->LoadFromStream(*s);
  return icon;
}

// --- TIconFrame ------------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TIconFrame)

TIcon* TIconFrame::FrameIcon() const {
  return FrameworkIconOf(icon_.get());
}

void TIconFrame::Assign(TPersistent* source) {
  auto* frame = dynamic_cast<TIconFrame*>(source);
  if (!frame) {
    inherited::Assign(source);
    return;
  }
  if (frame == this) return;
  if (frame->icon_) {
    // An icon of this frame's own, not shared with the source.
    std::shared_ptr<AniIcon> own = NewAniIcon();
    FrameworkIconOf(own.get())->Assign(frame->FrameIcon());
    icon_ = std::move(own);
  } else if (TIcon* mine = FrameIcon()) {
    mine->SetHandle(nullptr);
  }
  FromIconResource = frame->FromIconResource;
  ChunkHeader = frame->ChunkHeader;
  HotSpot = frame->HotSpot;
  Rate = frame->Rate;
  StepIndex = frame->StepIndex;
}

// --- TAnimatedCursorImage --------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TAnimatedCursorImage)

void TAnimatedCursorImage::Destroy() {
  ClearFrames();
  inherited::Destroy();
}

void TAnimatedCursorImage::ClearFrames() {
  for (TIconFrame* f : frames_) f->Free();
  frames_.clear();
  NameText.clear();
  ArtistText.clear();
  AniHeader = TAniHeader{};
  MaxImageColors = 0;
}

TIconFrame* TAnimatedCursorImage::GetFrame(int index) const {
  if (index < 0 || index >= GetFrameCount()) throw EListError(Format("List index out of bounds (%d)", index));
  return frames_[static_cast<std::size_t>(index)];
}

void TAnimatedCursorImage::Adopt(TAniCursor& parsed) {
  ClearFrames();
  AniHeader = parsed.Header;
  NameText = parsed.NameText;
  ArtistText = parsed.ArtistText;
  MaxImageColors = parsed.MaxImageColors;
  frames_.reserve(parsed.Frames.size());
  for (TAniFrame& f : parsed.Frames) {
    TIconFrame* frame = New<TIconFrame>(f.StepIndex, f.Rate);
    frame->SetSharedIcon(std::move(f.Icon));
    frame->FromIconResource = f.FromIconResource;
    frame->ChunkHeader = f.ChunkHeader;
    frame->HotSpot = f.HotSpot;
    frames_.push_back(frame);
  }
}

void TAnimatedCursorImage::LoadCursorStream(TStream& stream) {
  const std::int64_t left = stream.Size() - stream.Position();
  const std::string data = stream.ReadBytes(left < 0 ? 0 : left);
  if (data.empty()) return;
  FrameworkIconFactory icons;
  TAniCursor parsed;
  try {
    LoadAniCursor(data, icons, parsed);
  } catch (...) {
    // What the parse had built up to the failure stays.
    Adopt(parsed);
    throw;
  }
  Adopt(parsed);
}

void TAnimatedCursorImage::SaveCursorStream(TStream&) {
  ReportNotImplemented();
}

void TAnimatedCursorImage::LoadCursorFile(const std::string& fileName) {
  try {
    TOwned<TFileStream> file(New<TFileStream>(fileName, fmOpenRead | fmShareDenyNone));
    LoadCursorStream(*file);
  } catch (...) {
    ClearFrames();
    throw;
  }
}

void TAnimatedCursorImage::Assign(TPersistent* source) {
  if (!source) {
    ClearFrames();
    return;
  }
  auto* image = dynamic_cast<TAnimatedCursorImage*>(source);
  if (!image) {
    inherited::Assign(source);
    return;
  }
  if (image == this) return;
  ClearFrames();
  AniHeader = image->AniHeader;
  NameText = image->NameText;
  ArtistText = image->ArtistText;
  MaxImageColors = image->MaxImageColors;
  try {
    for (TIconFrame* from : image->frames_) {
      TIconFrame* frame = New<TIconFrame>(-1, AniHeader.DisplayRate);
      try {
        frame->Assign(from);
      } catch (...) {
        frame->Free();
        throw;
      }
      frames_.push_back(frame);
    }
  } catch (...) {
    ClearFrames();
    throw;
  }
}

void TAnimatedCursorImage::AssignTo(TPersistent* dest) {
  if (auto* icon = dynamic_cast<TIcon*>(dest)) {
    TIcon* first = frames_.empty() ? nullptr : frames_[0]->FrameIcon();
    if (first)
      icon->Assign(first);
    else
      icon->SetHandle(nullptr);
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    if (frames_.empty())
      bitmap->Assign(nullptr);
    else
      DrawFrameStrip(bitmap, bitmap->Canvas()->Brush()->GetColor(), false, true);
    return;
  }
  if (auto* list = dynamic_cast<TIconList*>(dest)) {
    list->LockUpdates();
    try {
      list->RemoveAll();
      for (TIconFrame* f : frames_) list->AppendIcon(f->FrameIcon());
    } catch (...) {
      list->UnlockUpdates();
      throw;
    }
    list->UnlockUpdates();
    return;
  }
  inherited::AssignTo(dest);
}

void TAnimatedCursorImage::DrawFrameStrip(TBitmap* bitmap, TColor backColor, bool vertical, bool reduceColors) {
  TOwned<TBitmap> strip(New<TBitmap>());
  if (!frames_.empty()) {
    TIcon* first = frames_[0]->FrameIcon();
    const int w = first ? first->GetWidth() : 0;
    const int h = first ? first->GetHeight() : 0;
    const int n = GetFrameCount();
    strip->SetMonochrome(false);
    strip->SetSize(vertical ? w : w * n, vertical ? h * n : h);
    if (!strip->Empty()) {
      strip->Canvas()->Brush()->SetColor(backColor);
      strip->Canvas()->FillRect(RECT{0, 0, strip->GetWidth(), strip->GetHeight()});
      for (int i = 0; i < n; ++i) {
        TIcon* icon = frames_[static_cast<std::size_t>(i)]->FrameIcon();
        if (!icon || icon->Empty()) continue;
        if (vertical)
          strip->Canvas()->Draw(0, i * icon->GetHeight(), icon);
        else
          strip->Canvas()->Draw(i * icon->GetWidth(), 0, icon);
      }
      if (reduceColors) {
        TOwned<TMemoryStream> reduced(BitmapToStreamForColors(*strip, std::max<int>(MaxImageColors, 16)));
        strip->LoadFromStream(*reduced);
      }
    }
  }
  bitmap->Assign(strip.get());
}
