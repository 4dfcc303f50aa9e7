// The mark-up renderer's text surface on a framework canvas: fonts, brush,
// text through DrawText, fills and lines through GDI, pictures from a picture
// container and a label's picture cache, images from an image list, and icons
// from the shell's system image lists.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <string>

#include "Graphics.h"
#include "HtmlRender.h"
#include "ImgList.h"
#include "PictureContainer.h"

// The shell calls of the mark-up label, replaceable so that tests can record them.
struct HtmlShellApi {
  DWORD_PTR(WINAPI* GetFileInfo)(LPCSTR path, DWORD attributes, SHFILEINFOA* info, UINT size, UINT flags);
  HINSTANCE(WINAPI* Execute)(HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR folder, INT show);
};
HtmlShellApi& GetHtmlShellApi();

class HtmlCanvasSurface : public HtmlSurface {
 public:
  HtmlCanvasSurface(TCanvas* canvas, TPictureContainer* container, THTMLPictureCache* cache, TCustomImageList* images);
  ~HtmlCanvasSurface() override;

  HtmlFont Font() override;
  void SetFont(const HtmlFont& font) override;
  HtmlColor BrushColor() override;
  void SetBrushColor(HtmlColor color) override;
  void SetTransparentBackground() override;
  HtmlRect ClipBounds() override;
  HtmlSize TextExtent(std::string_view text) override;
  HtmlSize MeasureText(std::string_view text, const HtmlRect& rect, unsigned flags) override;
  void DrawRun(std::string_view text, const HtmlRect& rect, unsigned flags) override;
  void FillRect(const HtmlRect& rect, HtmlColor color) override;
  void DrawLine(int x0, int y0, int x1, int y1, HtmlColor color) override;
  std::uint32_t ColorToRGB(HtmlColor color) override;
  int PixelsPerInchX() override;
  int PixelsPerInchY() override;
  HtmlPicture NamedPicture(std::string_view name) override;
  HtmlPicture LocatedPicture(std::string_view location) override;
  void DrawPicture(const HtmlPicture& picture, const HtmlRect& dest, bool stretch, const HtmlRect& clip) override;
  bool ImageListSize(int& count, int& width, int& height) override;
  void DrawListImage(int index, int x, int y) override;
  bool ShellIconSize(bool large, int& width, int& height) override;
  void DrawShellIcon(std::string_view source, bool large, int x, int y) override;

 private:
  HDC PrepareText();
  // A font with an angle is the canvas font's turned copy, made again when the
  // canvas font or the angle changes; angle 0 selects the canvas font again.
  void Rotate(int tenthsOfDegree);
  void EndRotation();
  TCanvas* canvas_;
  TPictureContainer* container_;
  THTMLPictureCache* cache_;
  TCustomImageList* images_;
  HFONT rotated_ = nullptr;
  LOGFONTA rotatedFrom_{};  // the canvas font the turned copy was made from
  int angle_ = 0;
};
