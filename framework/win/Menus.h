// Menus: TMenuItem (a command or a sub-menu), TMainMenu (a form's menu bar)
// and TPopupMenu (a context menu), with their system menus built on demand.
//
// Every item has a command number unique in the program (WM_COMMAND carries
// it). An item with sub-items owns a popup menu handle; the root item of a
// menu holds the menu's own handle. A change of an item (caption, state,
// shortcut, sub-items) reaches its parent, which builds its system menu again,
// and the menu, which redraws a form's menu bar.
//
// Owner drawing: an item of a menu with OwnerDraw (or with Images) is an
// owner-drawn system item; WM_MEASUREITEM and WM_DRAWITEM reach its
// MeasureItem and AdvancedDrawItem, which draw the text through DoDrawText.
//
// Popup menus are tracked by the global PopupList, whose hidden window owns
// every popup while it shows: it routes their WM_COMMAND, WM_MENUSELECT (the
// application's hint) and owner-draw messages. Its window procedure is
// virtual, so a replacement list can take over.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ActnList.h"
#include "Controls.h"
#include "Graphics.h"
#include "ImgList.h"
#include "ShortCuts.h"

class TMenu;
class TMenuItem;
class TMenuActionLink;

using TMenuMeasureItemEvent = Method<void(TObject* sender, TCanvas* canvas, int& width, int& height)>;
using TMenuDrawItemEvent = Method<void(TObject* sender, TCanvas* canvas, RECT rect, bool selected)>;

FW_ENUM(TOwnerDrawStateItem, odSelected, odGrayed, odDisabled, odChecked, odFocused, odDefault, odHotLight, odInactive,
        odNoAccel, odNoFocusRect, odReserved1, odReserved2, odComboBoxEdit);
using TOwnerDrawState = Set<TOwnerDrawStateItem>;
// The owner-draw state of a WM_DRAWITEM record's itemState.
TOwnerDrawState OwnerDrawStateOf(UINT itemState);

FW_ENUM(TMenuItemAutoFlag, maAutomatic, maManual, maParent);
FW_ENUM(TPopupAlignment, paLeft, paRight, paCenter);
FW_ENUM(TFindItemKind, fkCommand, fkHandle, fkShortCut);

// The caption of a separator line.
inline constexpr const char* cLineCaption = "-";

class TMenuItem : public TComponent {
  FW_CLASS(TMenuItem, TComponent)
 public:
  explicit TMenuItem(TComponent* owner);
  void Destroy() override;

  std::string GetCaption() const { return caption_; }
  void SetCaption(const std::string& value);
  std::string GetHint() const { return hint_; }
  void SetHint(const std::string& value);
  TShortCut GetShortCut() const { return shortCut_; }
  void SetShortCut(TShortCut value);
  bool GetChecked() const { return checked_; }
  void SetChecked(bool value);
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool GetVisible() const { return visible_; }
  void SetVisible(bool value);
  bool GetDefault() const { return default_; }
  void SetDefault(bool value);
  bool GetRadioItem() const { return radioItem_; }
  void SetRadioItem(bool value);
  int GetGroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int value);
  int GetImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  int GetHelpContext() const { return helpContext_; }
  void SetHelpContext(int value) { helpContext_ = value; }
  // The item's own glyph (an empty bitmap shows none).
  TBitmap* GetBitmap() const;
  void SetBitmap(TBitmap* value);
  bool HasBitmap() const;
  bool IsLine() const { return caption_ == cLineCaption; }

  std::uint16_t Command() const { return command_; }
  // The popup menu of the sub-items (the menu's own handle for a menu's root item).
  HMENU Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  void Add(TMenuItem* item);
  void Insert(int index, TMenuItem* item);
  void Remove(TMenuItem* item);
  void Delete(int index);
  void Clear();
  int IndexOf(const TMenuItem* item) const;
  TMenuItem* Parent() const { return parent_; }
  // The menu the item belongs to (through its parents), or null.
  TMenu* GetParentMenu() const;
  // The item with `value` below this one (itself included), by kind; null when none.
  TMenuItem* Find(std::uint32_t value, TFindItemKind kind);
  // The caption as the system menu shows it: with a tab and the shortcut text
  // for an item that is not a top-level item of a main menu.
  std::string MenuText() const;

  virtual void Click();
  // Updates the action of the item and its sub-items.
  virtual void InitiateAction();
  TNotifyEvent OnClick;

  // Owner drawing: the measurement (the framework's size first, then
  // OnMeasureItem may change it), the drawing of the whole item, and the text.
  virtual void MeasureItem(TCanvas* canvas, int& width, int& height);
  virtual void AdvancedDrawItem(TCanvas* canvas, RECT rect, TOwnerDrawState state, bool topLevel);
  virtual void DoDrawText(TCanvas* canvas, const std::string& caption, RECT& rect, bool selected, UINT flags);
  TMenuMeasureItemEvent OnMeasureItem;
  TMenuDrawItemEvent OnDrawItem;

  TBasicAction* GetAction() const;
  void SetAction(TBasicAction* value);
  TMenuActionLink* ActionLink() const { return actionLink_; }

  // Streaming: the sub-items are children; a top-level item's parent is its menu.
  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int order) override;
  void Loaded() override;

 protected:
  friend class TMenu;
  // The item changed; `rebuild` asks the parent's system menu to be built again.
  virtual void MenuChanged(bool rebuild);
  virtual void ActionChange(TObject* sender, bool checkDefaults);
  virtual TBasicActionLinkClass GetActionLinkClass();
  void Notification(TComponent* component, TOperation operation) override;
  // Rebuilds the system menu of the sub-items.
  void RebuildHandle();
  std::string caption_;
  std::string hint_;

 private:
  void DoActionChange(TObject* sender);
  void SubItemChanged(bool rebuild);
  void AppendTo(HMENU menu);
  void TurnSiblingsOff();
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr;  // set on a menu's root item only
  HMENU handle_ = nullptr;
  std::uint16_t command_ = 0;
  TShortCut shortCut_ = scNone;
  bool checked_ = false, enabled_ = true, visible_ = true, default_ = false, radioItem_ = false;
  int groupIndex_ = 0, imageIndex_ = -1, helpContext_ = 0;
  mutable TBitmap* bitmap_ = nullptr;
  TMenuActionLink* actionLink_ = nullptr;
};

class TMenu : public TComponent {
  FW_CLASS(TMenu, TComponent)
 public:
  explicit TMenu(TComponent* owner);
  void Destroy() override;

  TMenuItem* Items() const { return items_; }
  HMENU Handle() { return items_->Handle(); }
  bool HandleAllocated() const { return items_->HandleAllocated(); }
  // The window the menu belongs to (a main menu's form; the popup list's window).
  virtual HWND WindowHandle() const { return nullptr; }
  bool GetOwnerDraw() const { return ownerDraw_; }
  void SetOwnerDraw(bool value);
  TCustomImageList* GetImages() const { return images_; }
  void SetImages(TCustomImageList* value);
  TBiDiMode GetBiDiMode() const { return biDiMode_; }
  void SetBiDiMode(TBiDiMode value);
  bool IsRightToLeft() const { return biDiMode_ != bdLeftToRight; }
  // Whether the items are owner-drawn system items.
  bool IsOwnerDraw() const { return ownerDraw_ || images_ != nullptr; }

  TMenuItem* FindItem(std::uint32_t value, TFindItemKind kind) { return items_->Find(value, kind); }
  // WM_COMMAND of an item: its click; false when no item has the command.
  bool DispatchCommand(std::uint16_t command);
  // WM_INITMENUPOPUP of a sub-menu: its item's click (the OnClick before it opens).
  bool DispatchPopup(HMENU menu);

  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int order) override;

 protected:
  friend class TMenuItem;
  // An item changed: a main menu redraws its form's bar.
  virtual void MenuChanged(TMenuItem* source, bool rebuild);
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TMenuItem* items_ = nullptr;
  bool ownerDraw_ = false;
  TCustomImageList* images_ = nullptr;
  TBiDiMode biDiMode_ = bdLeftToRight;
};

class TMainMenu : public TMenu {
  FW_CLASS(TMainMenu, TMenu)
 public:
  explicit TMainMenu(TComponent* owner) : TMenu(owner) {}
  HWND WindowHandle() const override;
  // The form whose bar it is (set by the form).
  TWinControl* Form() const { return form_; }
  void SetForm(TWinControl* form) { form_ = form; }

 protected:
  void MenuChanged(TMenuItem* source, bool rebuild) override;

 private:
  TWinControl* form_ = nullptr;
};

class TPopupMenu : public TMenu {
  FW_CLASS(TPopupMenu, TMenu)
 public:
  explicit TPopupMenu(TComponent* owner);
  void Destroy() override;
  HWND WindowHandle() const override;
  // Shows the menu at a screen point and returns when it closes (its command,
  // if one was chosen, is handled by then).
  virtual void Popup(int x, int y);
  TPopupAlignment GetAlignment() const { return alignment_; }
  void SetAlignment(TPopupAlignment value) { alignment_ = value; }
  // The component that showed the menu last (set by whoever pops it up).
  TComponent* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TComponent* value);
  TNotifyEvent OnPopup;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TPopupAlignment alignment_ = paLeft;
  TComponent* popupComponent_ = nullptr;
};

// The list of live popup menus, with the window that owns them while they show.
class TPopupList : public TObject {
  FW_CLASS(TPopupList, TObject)
 public:
  TPopupList();
  void Destroy() override;
  HWND Window() const { return window_; }
  int Count() const { return static_cast<int>(menus_.size()); }
  TPopupMenu* Items(int index) const { return menus_.at(static_cast<std::size_t>(index)); }
  void Add(TPopupMenu* menu);
  void Remove(TPopupMenu* menu);

 protected:
  virtual void WndProc(TMessage& msg);

 private:
  void MainWndProc(TMessage& msg);
  std::vector<TPopupMenu*> menus_;
  HWND window_ = nullptr;
};

// The framework's popup list (made by InitMenus; a replacement may be put here).
extern TPopupList* PopupList;
// The menus unit: the popup list. Its unit-table entry follows the forms unit.
void InitMenus();
void DoneMenus();

// The link of a menu item: caption, checked and enabled state, help context,
// hint, image, shortcut, visibility and the click handler.
class TMenuActionLink : public TActionLink {
  FW_CLASS(TMenuActionLink, TActionLink)
 public:
  TMenuActionLink() = default;
  void AssignClient(TObject* client) override;
  TMenuItem* Client() const { return client_; }
  bool IsCaptionLinked() override;
  bool IsCheckedLinked() override;
  bool IsEnabledLinked() override;
  bool IsHelpContextLinked() override;
  bool IsHintLinked() override;
  bool IsImageIndexLinked() override;
  bool IsShortCutLinked() override;
  bool IsVisibleLinked() override;
  bool IsOnExecuteLinked() override;
  void SetCaption(const std::string& value) override;
  void SetChecked(bool value) override;
  void SetEnabled(bool value) override;
  void SetHelpContext(int value) override;
  void SetHint(const std::string& value) override;
  void SetImageIndex(int value) override;
  void SetShortCut(TShortCut value) override;
  void SetVisible(bool value) override;
  void SetOnExecute(const TNotifyEvent& value) override;

 protected:
  TCustomAction* CustomAction() const { return dynamic_cast<TCustomAction*>(action_); }
  TMenuItem* client_ = nullptr;
};

// WM_MEASUREITEM / WM_DRAWITEM of an owner-drawn item (on a canvas with the screen's menu font).
void HandleMenuOwnerDraw(TMenuItem* item, TMessage& msg);
// A top-level item of a main menu (its bar shows it).
bool IsTopLevelMainMenuItem(const TMenuItem* item);

// The "&"-marked caption without its marks ("&&" is one "&").
std::string StripHotkey(const std::string& caption);
