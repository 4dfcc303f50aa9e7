// The hint window the tree hands the framework's hint handling: the tree's
// hint, or in tooltip mode (hint mode 3) the full text of a cut-off cell at
// the cell's own place in the tree's font. It can fade or slide in, and with
// MMX it casts a soft shadow at its right and bottom.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Forms.h"

class TBaseVirtualTree;
struct TVTNode;

class TVirtualTreeHintWindow : public THintWindow {
  FW_CLASS(TVirtualTreeHintWindow, THintWindow)
 public:
  explicit TVirtualTreeHintWindow(TComponent* owner);
  ~TVirtualTreeHintWindow() override;
  void Destroy() override;

  // The window rectangle for the hint (`data`: the tree's hint data).
  RECT CalcHintRect(int maxWidth, const std::string& text, void* data) override;
  // Held on the desktop's work area, the screen under it saved, shown topmost without activation.
  void ActivateHintData(RECT rect, const std::string& text, void* data) override;
  void ActivateHint(RECT rect, const std::string& text) override;
  // Mouse moves over the header band (non-client moves) leave the hint alone.
  bool IsHintMsg(const MSG& msg) override;
  // One step of a fade or slide; false once the window is going or hidden.
  bool AnimationStep(int position, int step);

  // The tree the hint belongs to (null once it went) and its node and column.
  TBaseVirtualTree* Tree() const { return tree_; }
  TVTNode* Node() const;
  int Column() const { return column_; }
  int ShadowSize() const { return shadow_; }
  // A tree that goes takes its hint with it: hidden, and nothing of the tree read afterwards.
  static void TreeGoing(TBaseVirtualTree* tree);

 protected:
  void CreateParams(TCreateParams& params) override;
  void Dispatch(TMessage& msg) override;
  void Paint(HDC dc) override;

 private:
  struct Surface {
    HDC DC = nullptr;
    HBITMAP Bitmap = nullptr;
    HGDIOBJ Old = nullptr;
    bool Create(int width, int height);
    void Free();
  };
  bool TooltipMode() const;
  // Paints the hint into the draw buffer (position 0) and puts the frame of
  // an animation step (or the whole hint, step < 1) on `dc`.
  void InternalPaint(HDC dc, int position, int step);
  void AddShadow(HDC dc, int width, int height);
  void FreeSurfaces();

  TBaseVirtualTree* tree_ = nullptr;
  TVTNode* node_ = nullptr;
  int column_ = -1;
  std::u16string text_;
  int textHeight_ = 0;
  int shadow_ = 0;
  int animationKind_ = 0;
  bool rightToLeft_ = false;
  Surface target_, buffer_, background_;
};
