// Unicode menus: TUcxMenuItem, a menu item with a wide Caption and Hint. On
// the NT line it writes its wide caption (with the wide shortcut text) into
// the system menu, and when the menu is owner-drawn it measures and draws the
// wide caption itself; on the 9x line it is the framework's item.
//
// TUcxPopupList is a popup list that reports wide hints; the unit's start makes
// one and records the framework's list in it (the framework's list stays the
// one in use).
#pragma once

#include "Menus.h"
#include "UcxMenusCore.h"

class TUcxMenuItem : public TMenuItem {
  FW_CLASS(TUcxMenuItem, TMenuItem)
 public:
  explicit TUcxMenuItem(TComponent* owner);
  void DefineProperties(TFiler& filer) override;
  // The wide caption and hint are stored only when no action link supplies them.
  bool IsCaptionStored() const { return !ActionLink() || !ActionLink()->IsCaptionLinked(); }
  bool IsHintStored() const { return !ActionLink() || !ActionLink()->IsHintLinked(); }
  void Loaded() override;

  WideString GetWideCaption();
  void SetWideCaption(const WideString& value);
  WideString GetWideHint();
  void SetWideHint(const WideString& value);
  WideString ReadCaption() const { return const_cast<TUcxMenuItem*>(this)->GetWideCaption(); }
  WideString ReadHint() const { return const_cast<TUcxMenuItem*>(this)->GetWideHint(); }

  // The user's measure event (published as OnMeasureItem); the framework's own
  // measure event always holds the item's handler.
  TMenuMeasureItemEvent UserMeasureItem;
  void OwnMeasureItem(TObject* sender, TCanvas* canvas, int& width, int& height);
  bool HasOwnMeasureHandler() const;
  void InstallOwnMeasureHandler();

  void AdvancedDrawItem(TCanvas* canvas, RECT rect, TOwnerDrawState state, bool topLevel) override;
  void DoDrawText(TCanvas* canvas, const std::string& caption, RECT& rect, bool selected, UINT flags) override;
  // The DoDrawText step on a wide caption.
  void DoDrawWideText(TCanvas* canvas, WideString caption, RECT& rect, bool selected, UINT flags);

 protected:
  void MenuChanged(bool rebuild) override;
  void ActionChange(TObject* sender, bool checkDefaults) override;
  TBasicActionLinkClass GetActionLinkClass() override;

 private:
  friend void UpdateUnicodeMenuItem(TUcxMenuItem* item, TMenu* menu);
  WideString wideCaption_;
  WideString wideHint_;
  std::uint8_t updating_ = 0;
  bool drawingWide_ = false;
};

// Writes the item's wide caption and shortcut text into its system menu when
// they differ from what it shows (NT line, string items).
void UpdateUnicodeMenuItem(TUcxMenuItem* item, TMenu* menu);
// The sub-items from the last to the first (recursively), then the item.
void RefreshMenuItems(TMenuItem* item, TMenu* menu);
// On a Middle East system, the menu's first item again.
void RefreshMenuForMiddleEast(TMenu* menu);
// The system shows right-to-left menus (set by InitUcxMenus).
extern bool IsMiddleEastSystem;

// The wide caption and hint of any item (the ANSI ones widened for a framework item).
WideString WideMenuItemGetCaption(TMenuItem* item);
void WideMenuItemSetCaption(TMenuItem* item, const WideString& value);
WideString WideGetMenuItemHint(TMenuItem* item);
void WideMenuItemSetHint(TMenuItem* item, const WideString& value);

class TUcxPopupList : public TPopupList {
  FW_CLASS(TUcxPopupList, TPopupList)
 public:
  TUcxPopupList() = default;
  // The framework's list that was current when this one was made.
  TPopupList* FrameworkList = nullptr;
  // WM_MENUSELECT sets the companion's wide hint; WM_ENTERMENULOOP makes the
  // recorded list current again and refreshes right-to-left menus.
  void WndProc(TMessage& msg) override;
};

// The wide hint the popup list and the forms hand the application companion
// (installed by the forms unit; without it hints go to the framework's application).
using WideHintSink = void (*)(const WideString& hint);
void SetWideHintSink(WideHintSink sink);
void SetApplicationWideHint(const WideString& hint);

// The unit: the key names of the keyboard, the Middle East flag and the popup list.
void InitUcxMenus();
void DoneUcxMenus() noexcept;
TUcxPopupList* UcxPopupList();
