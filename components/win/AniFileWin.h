// Animated cursor files as framework objects: TAnimatedCursorImage holds the
// "anih" record, the title and author texts and one TIconFrame per step of
// the animation (the parse is AniFile.h's, its icons framework icons). The
// image hands its first frame to an icon, draws its frames side by side into
// a bitmap and copies them into an icon list. There is no writer.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "AniFile.h"
#include "Graphics.h"

// One step of the animation. Steps of one image that show the same icon
// number share one icon, released with the last of them.
class TIconFrame : public TPersistent {
  FW_CLASS(TIconFrame, TPersistent)
 public:
  TIconFrame(std::int32_t stepIndex, std::uint32_t rate) : Rate(rate), StepIndex(stepIndex) {}
  // Another frame: every field, the icon into an icon object of this frame's own.
  void Assign(TPersistent* source) override;

  TIcon* FrameIcon() const;  // null when absent
  void SetSharedIcon(std::shared_ptr<AniIcon> icon) { icon_ = std::move(icon); }

  bool FromIconResource = false;
  TAniChunkHeader ChunkHeader;
  TAniHotSpot HotSpot;
  std::uint32_t Rate = 0;  // jiffies of 1/60 s
  std::int32_t StepIndex = 0;

 private:
  std::shared_ptr<AniIcon> icon_;
};

class TAnimatedCursorImage : public TPersistent {
  FW_CLASS(TAnimatedCursorImage, TPersistent)
 public:
  TAnimatedCursorImage() = default;
  void Destroy() override;
  // None clears; another image is copied, its frames into frames of this
  // image's own (a failure clears the image).
  void Assign(TPersistent* source) override;
  // A TIcon gets the first frame's icon (nothing without frames); a TBitmap
  // the horizontal strip of the frames on its brush colour, brought to the
  // frames' colour depth; a TIconList every frame's icon.
  void AssignTo(TPersistent* dest) override;

  // The rest of the stream, parsed when it holds a byte or more. A damaged
  // file raises EReadError "Stream read error" and leaves what was read.
  virtual void LoadCursorStream(TStream& stream);
  // Shows "Function not yet implemented" and aborts silently: there is no writer.
  virtual void SaveCursorStream(TStream& stream);
  // The file, opened for reading with full sharing; a failure clears the image.
  virtual void LoadCursorFile(const std::string& fileName);

  void ClearFrames();
  int GetFrameCount() const { return static_cast<int>(frames_.size()); }
  TIconFrame* GetFrame(int index) const;
  TIcon* GetFrameIcon(int index) const { return GetFrame(index)->FrameIcon(); }

  // The frames drawn side by side (or one below the other) on `backColor`,
  // with `reduceColors` brought to max(MaxImageColors, 16) colours.
  void DrawFrameStrip(TBitmap* bitmap, TColor backColor, bool vertical, bool reduceColors);

  TAniHeader AniHeader;
  std::string NameText;
  std::string ArtistText;
  std::uint16_t MaxImageColors = 0;

 private:
  void Adopt(TAniCursor& parsed);
  std::vector<TIconFrame*> frames_;
};

// The framework icon behind a frame's shared icon.
TIcon* FrameworkIconOf(const AniIcon* icon);
// An icon loaded from an icon file, for the parser; null when it is not one.
std::shared_ptr<AniIcon> LoadFrameworkAniIcon(std::string_view iconFile);
