// Extra controls: TTimer, TPanel, TRadioGroup, TNotebook with its TPage children.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "Component.h"
#include "Graphics.h"
#include "Messages.h"
#include "StdCtrls.h"
#include "Strings.h"

// A timer whose OnTimer runs on the main thread every Interval milliseconds
// while Enabled. Its hidden window belongs to the main thread, and only that
// thread calls SetTimer/KillTimer: Enabled and Interval may be changed from
// any thread, and a change made elsewhere posts a request that the main
// thread carries out. OnTimer may be set from any thread too (it is kept under
// a lock and read by the main thread when the timer fires). A WM_TIMER that
// arrives after the timer was disabled is ignored.
class TTimer : public TComponent {
  FW_CLASS(TTimer, TComponent)
 public:
  explicit TTimer(TComponent* owner);
  void Destroy() override;

  bool GetEnabled() const { return enabled_.load(); }
  void SetEnabled(bool value);
  unsigned GetInterval() const { return interval_.load(); }
  void SetInterval(unsigned value);
  TNotifyEvent GetOnTimer() const;
  void SetOnTimer(TNotifyEvent value);

  HWND WindowHandle() const { return wnd_.load(); }

 protected:
  virtual void Timer();  // fires OnTimer

 private:
  void WndProc(TMessage& msg);
  void Changed();      // carries out the settings (on the main thread) or posts a request
  void UpdateTimer();  // main thread only

  std::atomic<HWND> wnd_{nullptr};  // made and destroyed on the main thread, read anywhere
  std::atomic<bool> enabled_{true};
  std::atomic<unsigned> interval_{1000};
  mutable std::mutex handlerLock_;
  TNotifyEvent onTimer_;  // under handlerLock_
  bool armed_ = false;    // main thread only
};

FW_ENUM(TBevelCut, bvNone, bvLowered, bvRaised, bvSpace);

// A panel: a bevelled frame with a caption, and a container for controls.
class TPanel : public TCustomControl {
  FW_CLASS(TPanel, TCustomControl)
 public:
  explicit TPanel(TComponent* owner);
  TBevelCut GetBevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut v);
  TBevelCut GetBevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut v);
  TAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  void Dispatch(TMessage& msg) override;

 protected:
  void Paint(HDC dc) override;
  void AdjustClientRect(RECT& rect) override;  // inside the bevels

 private:
  TBevelCut bevelOuter_ = bvRaised;
  TBevelCut bevelInner_ = bvNone;
  TAlignment alignment_ = taCenter;
};

// A group of radio buttons made from Items; ItemIndex is the checked one (-1: none).
// OnClick fires when a button is checked (by the user or by setting ItemIndex).
class TRadioGroup : public TGroupBox {
  FW_CLASS(TRadioGroup, TGroupBox)
 public:
  explicit TRadioGroup(TComponent* owner);
  void Destroy() override;
  TStrings* GetItems() const { return items_; }
  void SetItems(TStrings* v);
  int GetItemIndex() const { return itemIndex_; }
  void SetItemIndex(int v);
  int GetColumns() const { return columns_; }
  void SetColumns(int v);
  int ButtonCount() const { return static_cast<int>(buttons_.size()); }
  TRadioButton* Buttons(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
  void Loaded() override;
  void SetBounds(int left, int top, int width, int height) override;

 private:
  void ItemsChanged(TObject* sender);
  void ButtonClick(TObject* sender);
  void UpdateButtons();
  void ArrangeButtons();

  TStringList* items_ = nullptr;
  std::vector<TRadioButton*> buttons_;
  int itemIndex_ = -1;
  int columns_ = 1;
  bool updating_ = false;
};

class TNotebook;

// One page of a notebook (unnamed in form text: "object TPage").
class TPage : public TCustomControl {
  FW_CLASS(TPage, TCustomControl)
 public:
  explicit TPage(TComponent* owner);
};

// Pages stacked in one place; only the page at PageIndex shows. Pages read
// from a form are owned by the notebook.
class TNotebook : public TCustomControl {
  FW_CLASS(TNotebook, TCustomControl)
 public:
  explicit TNotebook(TComponent* owner);
  int GetPageIndex() const { return pageIndex_; }
  void SetPageIndex(int v);
  std::string GetActivePage() const;
  void SetActivePage(const std::string& caption);
  int PageCount() const;
  TPage* Pages(int index) const;
  TComponent* GetChildOwner() override { return this; }
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override;
  void Loaded() override;
  void SetBounds(int left, int top, int width, int height) override;
  TNotifyEvent OnPageChanged;

 private:
  std::vector<TPage*> PageList() const;
  void ShowPage();
  int pageIndex_ = 0;
};

// A picture on the parent's window.
class TImage : public TGraphicControl {
  FW_CLASS(TImage, TGraphicControl)
 public:
  explicit TImage(TComponent* owner);
  void Destroy() override;
  TPicture* GetPicture() const { return picture_; }
  void SetPicture(TPicture* v) { picture_->Assign(v); }
  bool GetCenter() const { return center_; }
  void SetCenter(bool v);
  bool GetStretch() const { return stretch_; }
  void SetStretch(bool v);
  bool GetTransparent() const { return transparent_; }
  void SetTransparent(bool v);
  void Paint(HDC dc) override;

 private:
  void PictureChanged(TObject*);
  TPicture* picture_ = nullptr;
  bool center_ = false, stretch_ = false, transparent_ = false;
};
