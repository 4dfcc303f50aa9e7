// The translucent picture that follows the mouse during a drag: handed to
// the system's drag-image service when the drag carries a data object and
// the service takes it, else drawn straight onto the screen over a saved
// copy of what lies beneath, which is repaired as the picture moves.
#pragma once

#include <windows.h>

#include <ole2.h>

#include <cstdint>

#include "Graphics.h"
#include "VirtualTreeHeaderMouse.h"

class TBaseVirtualTree;

class TVTDragImage : public TObject {
  FW_CLASS(TVTDragImage, TObject)
 public:
  // Transparency 128, no biases, no fade, free moves, no colour key.
  explicit TVTDragImage(TBaseVirtualTree* owner);
  ~TVTDragImage() override;
  // Ends the drag first.
  void Destroy() override;

  // Takes `picture` (any bitmap; copied) to show with its top-left at
  // `imagePosition` (screen); the mouse is at `hotSpot`. With a data object
  // the system's service is tried first.
  void PrepareDrag(HBITMAP picture, POINT imagePosition, IDataObject* dataObject, POINT hotSpot);
  void ShowImage();
  void HideImage();
  // Moves the picture with the mouse; true when it moved.
  bool DragTo(POINT screenPoint, bool force);
  bool WillMove(POINT screenPoint) const { return model_.WillMove(screenPoint.x, screenPoint.y); }
  // The tree repainted part of itself under the picture: `clientRect` (the
  // tree's client coordinates) is painted into the saved screen, with
  // `nonClient` the frame and header too, and with `redraw` the picture is
  // drawn again. `clip` (client coordinates, may be null) limits the update.
  void RecaptureBackground(TBaseVirtualTree* tree, const RECT& clientRect, HRGN clip, bool redraw, bool nonClient);
  // The screen rectangle the picture covers; empty when not visible.
  RECT ScreenRect() const;
  // Hides the picture, leaves the drag and frees the bitmaps.
  void FinishDrag();
  bool Visible() const { return model_.Visible(); }
  std::uint8_t States() const { return model_.States; }
  TBaseVirtualTree* Owner() const { return owner_; }

  std::uint8_t Transparency = 128;
  std::uint8_t PreBlendBias = 0;
  std::uint8_t PostBlendBias = 0;
  bool Fade = false;
  std::uint8_t MoveRestriction = kDragMoveFree;
  TColor ColorKey = clNone;

 private:
  // A 32-bit top-down DIB section selected into its own memory DC.
  struct Surface {
    HDC DC = nullptr;
    HBITMAP Bitmap = nullptr;
    HGDIOBJ Old = nullptr;
    std::uint32_t* Bits = nullptr;
    bool Create(int width, int height);
    void Free();
  };
  bool TrySystemService(HBITMAP picture, int width, int height, IDataObject* dataObject);
  void Blend(HDC screen);
  void FreeSurfaces();

  TBaseVirtualTree* owner_;
  TVTDragImageModel model_;
  Surface drag_, alpha_, back_;
};
