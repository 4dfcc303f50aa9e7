// TAnimatedImage: shows one frame of a strip of equally sized frames held in
// one bitmap (Glyph) and, while Active, steps through the frames. This plain
// version steps on the framework's timer; magenta pixels are transparent.
#pragma once

#include "Controls.h"
#include "ExtCtrls.h"
#include "Graphics.h"

FW_ENUM(TGlyphOrientation, goHorizontal, goVertical);

class TAnimatedImage : public TGraphicControl {
  FW_CLASS(TAnimatedImage, TGraphicControl)
 public:
  explicit TAnimatedImage(TComponent* owner);
  void Destroy() override;

  bool GetActive() const { return active_; }
  void SetActive(bool v);
  TBitmap* GetGlyph() const { return glyph_; }
  void SetGlyph(TBitmap* v);  // copied
  int GetGlyphNum() const { return glyphNum_; }
  void SetGlyphNum(int v);  // kept within 0 .. NumGlyphs - 1
  int GetNumGlyphs() const { return numGlyphs_; }
  void SetNumGlyphs(int v);  // at least 1
  unsigned GetInterval() const;
  void SetInterval(unsigned v);
  TGlyphOrientation Orientation = goHorizontal;
  int InactiveGlyph = -1;

  void Paint(HDC dc) override;
  void Loaded() override;

 private:
  void Step(TObject*);
  void UpdateTimer();
  TBitmap* glyph_ = nullptr;
  TTimer* timer_ = nullptr;
  bool active_ = false;
  int glyphNum_ = 0;
  int numGlyphs_ = 1;
};

// The unit's initialization: registers the class for form streaming.
void InitAnimate();
