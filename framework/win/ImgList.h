// Image lists: equal-sized images (with masks) in one system image list.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "Component.h"
#include "Graphics.h"

class TCustomImageList;

// One client's link to an image list: the list calls Change on every link
// registered with it after each change, and clears Sender when it goes.
// Freeing a link takes it off its list; a link hears of one list at a time.
class TChangeLink : public TObject {
  FW_CLASS(TChangeLink, TObject)
 public:
  void Destroy() override;
  TCustomImageList* Sender = nullptr;
  TNotifyEvent OnChange;
  virtual void Change();
};

// Form data ("Bitmap"): u32 count, width, height, flags, background colour,
// then the image strip and the mask strip, each a u32 size and a BMP file.
class TCustomImageList : public TComponent {
  FW_CLASS(TCustomImageList, TComponent)
 public:
  explicit TCustomImageList(TComponent* owner);
  void Destroy() override;

  int GetWidth() const { return width_; }
  void SetWidth(int v);
  int GetHeight() const { return height_; }
  void SetHeight(int v);
  bool GetMasked() const { return masked_; }
  void SetMasked(bool v) { masked_ = v; }
  TColor GetBkColor() const { return bkColor_; }
  void SetBkColor(TColor v);
  int Count();
  HIMAGELIST Handle();
  // Adopts a system image list made elsewhere (with flags of its own, such
  // as a colour depth); the list owns it and takes its image size. The old
  // handle is destroyed. Null drops the handle.
  void SetHandle(HIMAGELIST list);

  // Adds the images of a strip (width a multiple of Width); returns the first index.
  int Add(TBitmap* image, TBitmap* mask);
  int AddMasked(TBitmap* image, TColor maskColor);
  void Delete(int index);
  void Clear();
  // The image drawn on a bitmap of the list's size (over the background colour, or clBtnFace).
  void GetBitmap(int index, TBitmap* image);
  void Draw(TCanvas* canvas, int x, int y, int index, bool enabled = true);
  void DefineProperties(TFiler& filer) override;
  TNotifyEvent OnChange;
  // Links told of every change, besides OnChange (registering twice is one link).
  void RegisterChanges(TChangeLink* link);
  void UnRegisterChanges(TChangeLink* link);

 private:
  std::vector<TChangeLink*> links_;
  void ReadData(TStream& stream);
  void WriteData(TStream& stream);
  void Changed();
  HIMAGELIST handle_ = nullptr;
  int width_ = 16, height_ = 16;
  bool masked_ = true;
  TColor bkColor_ = clNone;
};

class TImageList : public TCustomImageList {
  FW_CLASS(TImageList, TCustomImageList)
 public:
  explicit TImageList(TComponent* owner) : TCustomImageList(owner) {}
};
