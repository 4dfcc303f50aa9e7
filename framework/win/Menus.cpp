#include "Menus.h"

#include <algorithm>
#include <set>

#include "Forms.h"
#include "SysUtils.h"
#include "WndProc.h"

FW_BEGIN_CLASS(TMenuItem)
  FW_PROP(Action, GetAction, SetAction)
  FW_PROP(Bitmap, GetBitmap, SetBitmap)
  FW_STORED(HasBitmap)
  FW_PROP(Caption, GetCaption, SetCaption)
  FW_PROP(Checked, GetChecked, SetChecked)
  FW_DEFAULT(false)
  FW_PROP(Default, GetDefault, SetDefault)
  FW_DEFAULT(false)
  FW_PROP(Enabled, GetEnabled, SetEnabled)
  FW_DEFAULT(true)
  FW_PROP(GroupIndex, GetGroupIndex, SetGroupIndex)
  FW_DEFAULT(0)
  FW_PROP(HelpContext, GetHelpContext, SetHelpContext)
  FW_DEFAULT(0)
  FW_PROP(Hint, GetHint, SetHint)
  FW_PROP(ImageIndex, GetImageIndex, SetImageIndex)
  FW_DEFAULT(-1)
  FW_PROP(RadioItem, GetRadioItem, SetRadioItem)
  FW_DEFAULT(false)
  FW_PROP(ShortCut, GetShortCut, SetShortCut)
  FW_DEFAULT(0)
  FW_PROP(Visible, GetVisible, SetVisible)
  FW_DEFAULT(true)
  FW_EVENT(OnClick, OnClick)
  FW_EVENT(OnDrawItem, OnDrawItem)
  FW_EVENT(OnMeasureItem, OnMeasureItem)
FW_END_CLASS

FW_IMPLEMENT_CLASS(TMenu)

FW_BEGIN_CLASS(TMainMenu)
  FW_PROP(Images, GetImages, SetImages)
  FW_PROP(OwnerDraw, GetOwnerDraw, SetOwnerDraw)
  FW_DEFAULT(false)
FW_END_CLASS

FW_BEGIN_CLASS(TPopupMenu)
  FW_PROP(Alignment, GetAlignment, SetAlignment)
  FW_DEFAULT(paLeft)
  FW_PROP(Images, GetImages, SetImages)
  FW_PROP(OwnerDraw, GetOwnerDraw, SetOwnerDraw)
  FW_DEFAULT(false)
  FW_EVENT(OnPopup, OnPopup)
FW_END_CLASS

FW_IMPLEMENT_CLASS(TPopupList)
FW_IMPLEMENT_CLASS(TMenuActionLink)

TPopupList* PopupList = nullptr;

namespace {

// Command numbers in use; 0 is never given out.
std::set<std::uint16_t>& UsedCommands() {
  static std::set<std::uint16_t> used;
  return used;
}
std::uint16_t g_nextCommand = 1;

std::uint16_t AllocateCommand() {
  auto& used = UsedCommands();
  for (int tries = 0; tries < 0xFFFF; ++tries) {
    const std::uint16_t c = g_nextCommand;
    g_nextCommand = static_cast<std::uint16_t>(g_nextCommand == 0xFFFF ? 1 : g_nextCommand + 1);
    if (used.insert(c).second) return c;
  }
  throw EOutOfResources("Too many menu items");
}

void ReleaseCommand(std::uint16_t command) {
  UsedCommands().erase(command);
}

// The menu item a popup menu handle belongs to, below `item`.
TMenuItem* FindByHandle(TMenuItem* item, HMENU handle) {
  if (item->HandleAllocated() && item->Handle() == handle) return item;
  for (int i = 0; i < item->Count(); ++i)
    if (TMenuItem* found = FindByHandle(item->Items(i), handle)) return found;
  return nullptr;
}

}  // namespace

std::string StripHotkey(const std::string& caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] != '&') {
      out += caption[i];
      continue;
    }
    if (i + 1 < caption.size() && caption[i + 1] == '&') {
      out += '&';
      ++i;
    }
  }
  return out;
}

TOwnerDrawState OwnerDrawStateOf(UINT s) {
  TOwnerDrawState state;
  if (s & ODS_SELECTED) state.Include(odSelected);
  if (s & ODS_GRAYED) state.Include(odGrayed);
  if (s & ODS_DISABLED) state.Include(odDisabled);
  if (s & ODS_CHECKED) state.Include(odChecked);
  if (s & ODS_FOCUS) state.Include(odFocused);
  if (s & ODS_DEFAULT) state.Include(odDefault);
  if (s & ODS_HOTLIGHT) state.Include(odHotLight);
  if (s & ODS_INACTIVE) state.Include(odInactive);
  if (s & ODS_NOACCEL) state.Include(odNoAccel);
  if (s & ODS_NOFOCUSRECT) state.Include(odNoFocusRect);
  return state;
}

bool IsTopLevelMainMenuItem(const TMenuItem* item) {
  return item->Parent() && !item->Parent()->Parent() && dynamic_cast<TMainMenu*>(item->GetParentMenu());
}

void HandleMenuOwnerDraw(TMenuItem* item, TMessage& msg) {
  TCanvas* canvas = New<TCanvas>();
  try {
    if (Screen) canvas->Font()->Assign(Screen->MenuFont());
    if (msg.Msg == WM_MEASUREITEM) {
      auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(msg.LParam);
      HDC dc = GetDC(nullptr);
      canvas->SetHandle(dc);
      int width = static_cast<int>(mis->itemWidth), height = static_cast<int>(mis->itemHeight);
      try {
        item->MeasureItem(canvas, width, height);
      } catch (...) {
        canvas->SetHandle(nullptr);
        ReleaseDC(nullptr, dc);
        throw;
      }
      canvas->SetHandle(nullptr);
      ReleaseDC(nullptr, dc);
      mis->itemWidth = static_cast<UINT>(std::max(width, 0));
      mis->itemHeight = static_cast<UINT>(std::max(height, 0));
    } else {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(msg.LParam);
      canvas->SetHandle(dis->hDC);
      try {
        item->AdvancedDrawItem(canvas, dis->rcItem, OwnerDrawStateOf(dis->itemState), IsTopLevelMainMenuItem(item));
      } catch (...) {
        canvas->SetHandle(nullptr);
        throw;
      }
      canvas->SetHandle(nullptr);
    }
  } catch (...) {
    canvas->Free();
    throw;
  }
  canvas->Free();
  msg.Result = 1;
}

// --- TMenuItem ---------------------------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {
  command_ = AllocateCommand();
}

void TMenuItem::Destroy() {
  FreeAndNil(actionLink_);
  if (parent_) parent_->Remove(this);
  while (!items_.empty()) {
    TMenuItem* child = items_.back();
    items_.pop_back();
    child->parent_ = nullptr;
    child->Free();
  }
  if (handle_) {
    // The sub-menus belong to their own items, which are gone by now.
    while (GetMenuItemCount(handle_) > 0) RemoveMenu(handle_, 0, MF_BYPOSITION);
    DestroyMenu(handle_);
    handle_ = nullptr;
  }
  FreeAndNil(bitmap_);
  ReleaseCommand(command_);
  inherited::Destroy();
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* item = this;
  while (item->parent_) item = item->parent_;
  return item->menu_;
}

HMENU TMenuItem::Handle() {
  if (!handle_) {
    handle_ = menu_ && dynamic_cast<TMainMenu*>(menu_) ? CreateMenu() : CreatePopupMenu();
    if (!handle_) throw EOutOfResources("Cannot create a menu");
    for (TMenuItem* child : items_)
      if (child->visible_) child->AppendTo(handle_);
    // Each child is told that its system item exists now.
    for (TMenuItem* child : std::vector<TMenuItem*>(items_))
      if (child->visible_) child->MenuChanged(false);
  }
  return handle_;
}

std::string TMenuItem::MenuText() const {
  std::string text = caption_;
  const bool topOfMainMenu = parent_ && !parent_->parent_ && dynamic_cast<TMainMenu*>(parent_->menu_);
  if (shortCut_ != scNone && items_.empty() && !topOfMainMenu) {
    const std::string keys = ShortCutToText(shortCut_);
    if (!keys.empty()) text += "\t" + keys;
  }
  return text;
}

void TMenuItem::AppendTo(HMENU menu) {
  TMenu* owner = GetParentMenu();
  std::string text = MenuText();
  MENUITEMINFOA mii{};
  mii.cbSize = sizeof(mii);
  mii.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_DATA | MIIM_SUBMENU;
  mii.wID = command_;
  mii.dwItemData = reinterpret_cast<ULONG_PTR>(this);
  mii.hSubMenu = items_.empty() ? nullptr : Handle();
  if (IsLine()) {
    mii.fType = MFT_SEPARATOR;
  } else if (owner && owner->IsOwnerDraw()) {
    mii.fType = MFT_OWNERDRAW;
  } else {
    mii.fType = MFT_STRING;
    mii.fMask |= MIIM_STRING;
    mii.dwTypeData = text.data();
    mii.cch = static_cast<UINT>(text.size());
  }
  if (radioItem_) mii.fType |= MFT_RADIOCHECK;
  if (owner && owner->IsRightToLeft()) mii.fType |= MFT_RIGHTORDER;
  if (checked_) mii.fState |= MFS_CHECKED;
  if (!enabled_) mii.fState |= MFS_GRAYED;
  if (default_) mii.fState |= MFS_DEFAULT;
  InsertMenuItemA(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &mii);
}

void TMenuItem::RebuildHandle() {
  if (!handle_) return;
  while (GetMenuItemCount(handle_) > 0) RemoveMenu(handle_, 0, MF_BYPOSITION);
  for (TMenuItem* child : items_)
    if (child->visible_) child->AppendTo(handle_);
  // Each child is told that its system item was made again (a descendant may write more into it).
  for (TMenuItem* child : std::vector<TMenuItem*>(items_))
    if (child->visible_) child->MenuChanged(false);
}

void TMenuItem::MenuChanged(bool rebuild) {
  if (parent_) parent_->SubItemChanged(rebuild);
}

void TMenuItem::SubItemChanged(bool rebuild) {
  if (IsLoading() || IsDestroying()) return;
  if (rebuild) RebuildHandle();
  if (parent_)
    parent_->SubItemChanged(false);
  else if (menu_)
    menu_->MenuChanged(this, rebuild);
}

void TMenuItem::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  MenuChanged(true);
}

void TMenuItem::SetHint(const std::string& value) {
  hint_ = value;
}

void TMenuItem::SetShortCut(TShortCut value) {
  if (value == shortCut_) return;
  shortCut_ = value;
  MenuChanged(true);
}

void TMenuItem::TurnSiblingsOff() {
  if (!parent_) return;
  for (TMenuItem* sibling : parent_->items_)
    if (sibling != this && sibling->radioItem_ && sibling->groupIndex_ == groupIndex_) sibling->SetChecked(false);
}

void TMenuItem::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  if (value && radioItem_) TurnSiblingsOff();
  MenuChanged(true);
}

void TMenuItem::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  MenuChanged(true);
}

void TMenuItem::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  MenuChanged(true);
}

void TMenuItem::SetDefault(bool value) {
  if (value == default_) return;
  if (value && parent_)
    for (TMenuItem* sibling : parent_->items_)
      if (sibling != this) sibling->default_ = false;
  default_ = value;
  MenuChanged(true);
}

void TMenuItem::SetRadioItem(bool value) {
  if (value == radioItem_) return;
  radioItem_ = value;
  if (checked_ && value) TurnSiblingsOff();
  MenuChanged(true);
}

void TMenuItem::SetGroupIndex(int value) {
  if (value == groupIndex_) return;
  groupIndex_ = value;
  if (checked_ && radioItem_) TurnSiblingsOff();
}

void TMenuItem::SetImageIndex(int value) {
  if (value == imageIndex_) return;
  imageIndex_ = value;
  MenuChanged(true);
}

TBitmap* TMenuItem::GetBitmap() const {
  if (!bitmap_) bitmap_ = New<TBitmap>();
  return bitmap_;
}

void TMenuItem::SetBitmap(TBitmap* value) {
  GetBitmap()->Assign(value);
  MenuChanged(true);
}

bool TMenuItem::HasBitmap() const {
  return bitmap_ && !bitmap_->Empty();
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (!item) return;
  if (item->parent_) throw EInvalidOperation("Menu inserted twice");
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  item->FreeNotification(this);
  MenuChanged(true);
  SubItemChanged(true);
}

void TMenuItem::Add(TMenuItem* item) {
  Insert(Count(), item);
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
  if (handle_) RemoveMenu(handle_, item->command_, MF_BYCOMMAND);
  MenuChanged(true);
  SubItemChanged(false);
}

void TMenuItem::Delete(int index) {
  Remove(Items(index));
}

void TMenuItem::Clear() {
  while (!items_.empty()) items_.back()->Free();
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TMenuItem* TMenuItem::Find(std::uint32_t value, TFindItemKind kind) {
  switch (kind) {
    case fkCommand:
      if (command_ == value && parent_) return this;
      break;
    case fkHandle:
      if (handle_ && reinterpret_cast<std::uintptr_t>(handle_) == value) return this;
      break;
    case fkShortCut:
      if (shortCut_ != scNone && shortCut_ == value) return this;
      break;
  }
  for (TMenuItem* child : items_)
    if (TMenuItem* found = child->Find(value, kind)) return found;
  return nullptr;
}

void TMenuItem::Click() {
  if (!enabled_) return;
  if (OnClick && actionLink_ && actionLink_->Action() && !(OnClick == actionLink_->Action()->GetOnExecute()))
    OnClick(this);
  else if (actionLink_ && actionLink_->Action() && !ComponentState().Contains(csDesigning))
    actionLink_->Execute(this);
  else if (OnClick)
    OnClick(this);
}

void TMenuItem::InitiateAction() {
  if (actionLink_) actionLink_->Update();
  for (TMenuItem* child : std::vector<TMenuItem*>(items_)) child->InitiateAction();
}

void TMenuItem::MeasureItem(TCanvas* canvas, int& width, int& height) {
  TMenu* menu = GetParentMenu();
  const bool topLevel = parent_ && !parent_->parent_ && dynamic_cast<TMainMenu*>(menu);
  if (IsLine()) {
    width = 10;
    height = 5;
  } else {
    RECT r{0, 0, 0, 0};
    DoDrawText(canvas, caption_, r, false, DT_CALCRECT | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE);
    int glyph = 0;
    if (menu && menu->GetImages())
      glyph = menu->GetImages()->GetWidth();
    else if (HasBitmap() || checked_)
      glyph = 16;
    width = (r.right - r.left) + (topLevel ? 0 : glyph + 12);
    height = std::max<int>(r.bottom - r.top + 4, menu && menu->GetImages() ? menu->GetImages()->GetHeight() + 2 : 0);
    if (shortCut_ != scNone && !topLevel) {
      RECT s{0, 0, 0, 0};
      DoDrawText(canvas, ShortCutToText(shortCut_), s, false, DT_CALCRECT | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE);
      width += (s.right - s.left) + 15;
    }
  }
  if (OnMeasureItem) OnMeasureItem(this, canvas, width, height);
}

void TMenuItem::DoDrawText(TCanvas* canvas, const std::string& caption, RECT& rect, bool selected, UINT flags) {
  TMenu* menu = GetParentMenu();
  if (menu && menu->IsRightToLeft()) flags |= DT_RIGHT | DT_RTLREADING;
  std::string text = caption;
  if ((flags & DT_CALCRECT) && (text.empty() || text == "&")) text = " ";  // an empty caption still has a height
  HDC dc = canvas->Handle();
  canvas->Brush()->SetStyle(bsClear);
  if (default_) {
    TFontStyles style = canvas->Font()->GetStyle();
    style.Include(fsBold);
    canvas->Font()->SetStyle(style);
  }
  HGDIOBJ old = SelectObject(dc, canvas->Font()->Handle());
  SetBkMode(dc, TRANSPARENT);
  if (!enabled_ && !(flags & DT_CALCRECT)) {
    if (!selected) {
      RECT shifted = rect;
      OffsetRect(&shifted, 1, 1);
      SetTextColor(dc, ColorToRGB(clBtnHighlight));
      DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &shifted, flags);
    }
    SetTextColor(
        dc, ColorToRGB(selected && ColorToRGB(clHighlight) == ColorToRGB(clBtnShadow) ? clBtnHighlight : clBtnShadow));
  } else if (!(flags & DT_CALCRECT)) {
    SetTextColor(dc, ColorToRGB(selected ? clHighlightText : clMenuText));
  }
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, flags);
  SelectObject(dc, old);
}

void TMenuItem::AdvancedDrawItem(TCanvas* canvas, RECT rect, TOwnerDrawState state, bool topLevel) {
  const bool selected = state.Contains(odSelected);
  if (OnDrawItem) {
    OnDrawItem(this, canvas, rect, selected);
    return;
  }
  TMenu* menu = GetParentMenu();
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(selected && !topLevel ? clHighlight : clMenu);
  canvas->FillRect(rect);
  if (IsLine()) {
    RECT line{rect.left, rect.top + (rect.bottom - rect.top) / 2 - 1, rect.right, 0};
    line.bottom = line.top + 2;
    DrawEdge(canvas->Handle(), &line, EDGE_ETCHED, BF_TOP);
    return;
  }
  int glyph = 0;
  if (!topLevel) {
    if (menu && menu->GetImages()) {
      glyph = menu->GetImages()->GetWidth();
      if (imageIndex_ >= 0) menu->GetImages()->Draw(canvas, rect.left + 1, rect.top + 1, imageIndex_, enabled_);
    } else if (HasBitmap()) {
      glyph = 16;
      canvas->Draw(rect.left + 1, rect.top + 1, bitmap_);
    } else if (checked_) {
      glyph = 16;
      RECT check{rect.left + 1, rect.top, rect.left + 17, rect.bottom};
      DrawFrameControl(canvas->Handle(), &check, DFC_MENU, radioItem_ ? DFCS_MENUBULLET : DFCS_MENUCHECK);
    }
  }
  RECT text = rect;
  text.left += topLevel ? 6 : glyph + 6;
  UINT flags = DT_LEFT | DT_EXPANDTABS | DT_SINGLELINE | DT_VCENTER;
  if (state.Contains(odNoAccel)) flags |= DT_HIDEPREFIX;
  DoDrawText(canvas, caption_, text, selected, flags);
  if (shortCut_ != scNone && !topLevel) {
    RECT keys = rect;
    keys.right -= 10;
    DoDrawText(canvas, ShortCutToText(shortCut_), keys, selected, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
  }
}

TBasicAction* TMenuItem::GetAction() const {
  return actionLink_ ? actionLink_->Action() : nullptr;
}

void TMenuItem::SetAction(TBasicAction* value) {
  if (!value) {
    FreeAndNil(actionLink_);
    return;
  }
  if (!actionLink_) actionLink_ = As<TMenuActionLink>(CreateActionLink(GetActionLinkClass(), this));
  actionLink_->SetAction(value);
  actionLink_->OnChange = TNotifyEvent::Bind<&TMenuItem::DoActionChange>(this);
  ActionChange(value, value->ComponentState().Contains(csLoading));
  value->FreeNotification(this);
}

TBasicActionLinkClass TMenuItem::GetActionLinkClass() {
  return &TMenuActionLink::StaticClass();
}

void TMenuItem::DoActionChange(TObject* sender) {
  if (actionLink_ && sender == actionLink_->Action()) ActionChange(sender, false);
}

void TMenuItem::ActionChange(TObject* sender, bool checkDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(sender);
  if (!action) return;
  if (!checkDefaults || caption_.empty()) SetCaption(action->GetCaption());
  if (!checkDefaults || !checked_) SetChecked(action->GetChecked());
  if (!checkDefaults || enabled_) SetEnabled(action->GetEnabled());
  if (!checkDefaults || helpContext_ == 0) SetHelpContext(action->GetHelpContext());
  if (!checkDefaults || hint_.empty()) SetHint(action->GetHint());
  if (!checkDefaults || imageIndex_ == -1) SetImageIndex(action->GetImageIndex());
  if (!checkDefaults || shortCut_ == scNone) SetShortCut(action->GetShortCut());
  if (!checkDefaults || visible_) SetVisible(action->GetVisible());
  if (!checkDefaults || !OnClick) OnClick = action->GetOnExecute();
}

void TMenuItem::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != opRemove || !component) return;
  if (component == GetAction()) SetAction(nullptr);
  auto it = std::find(items_.begin(), items_.end(), component);
  if (it != items_.end()) {
    (*it)->parent_ = nullptr;
    items_.erase(it);
  }
}

TComponent* TMenuItem::GetParentComponent() const {
  if (parent_ && parent_->menu_) return parent_->menu_;
  return parent_;
}

void TMenuItem::SetParentComponent(TComponent* parent) {
  if (parent_) parent_->Remove(this);
  if (auto* menu = dynamic_cast<TMenu*>(parent))
    menu->Items()->Add(this);
  else if (auto* item = dynamic_cast<TMenuItem*>(parent))
    item->Add(this);
}

void TMenuItem::GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) {
  for (TMenuItem* child : std::vector<TMenuItem*>(items_))
    if (child->Owner() == root) proc(child);
}

void TMenuItem::SetChildOrder(TComponent* child, int order) {
  auto* item = dynamic_cast<TMenuItem*>(child);
  const int cur = IndexOf(item);
  if (cur < 0) return;
  items_.erase(items_.begin() + cur);
  items_.insert(items_.begin() + std::clamp(order, 0, Count()), item);
  SubItemChanged(true);
}

void TMenuItem::Loaded() {
  inherited::Loaded();
  if (actionLink_ && actionLink_->Action()) ActionChange(actionLink_->Action(), true);
  MenuChanged(true);
}

// --- TMenu -------------------------------------------------------------------------------------

TMenu::TMenu(TComponent* owner) : TComponent(owner) {
  items_ = New<TMenuItem>(nullptr);
  items_->menu_ = this;
}

void TMenu::Destroy() {
  FreeAndNil(items_);
  inherited::Destroy();
}

void TMenu::SetOwnerDraw(bool value) {
  if (value == ownerDraw_) return;
  ownerDraw_ = value;
  items_->SubItemChanged(true);
}

void TMenu::SetImages(TCustomImageList* value) {
  if (images_) images_->RemoveFreeNotification(this);
  images_ = value;
  if (images_) images_->FreeNotification(this);
  items_->SubItemChanged(true);
}

void TMenu::SetBiDiMode(TBiDiMode value) {
  if (value == biDiMode_) return;
  biDiMode_ = value;
  items_->SubItemChanged(true);
}

bool TMenu::DispatchCommand(std::uint16_t command) {
  TMenuItem* item = FindItem(command, fkCommand);
  if (!item) return false;
  item->Click();
  return true;
}

bool TMenu::DispatchPopup(HMENU menu) {
  TMenuItem* item = FindByHandle(items_, menu);
  if (!item) return false;
  item->Click();
  return true;
}

void TMenu::GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) {
  items_->GetChildren(proc, root);
}

void TMenu::SetChildOrder(TComponent* child, int order) {
  items_->SetChildOrder(child, order);
}

void TMenu::MenuChanged(TMenuItem*, bool) {}

void TMenu::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == images_) {
    images_ = nullptr;
    items_->SubItemChanged(true);
  }
}

HWND TMainMenu::WindowHandle() const {
  return form_ && form_->HandleAllocated() ? form_->WindowHandle() : nullptr;
}

void TMainMenu::MenuChanged(TMenuItem* source, bool rebuild) {
  inherited::MenuChanged(source, rebuild);
  if (HWND wnd = WindowHandle()) DrawMenuBar(wnd);
}

// --- TPopupMenu --------------------------------------------------------------------------------

TPopupMenu::TPopupMenu(TComponent* owner) : TMenu(owner) {
  if (PopupList) PopupList->Add(this);
}

void TPopupMenu::Destroy() {
  if (PopupList) PopupList->Remove(this);
  SetPopupComponent(nullptr);
  inherited::Destroy();
}

HWND TPopupMenu::WindowHandle() const {
  return PopupList ? PopupList->Window() : nullptr;
}

void TPopupMenu::SetPopupComponent(TComponent* value) {
  if (value == popupComponent_) return;
  if (popupComponent_) popupComponent_->RemoveFreeNotification(this);
  popupComponent_ = value;
  if (popupComponent_) popupComponent_->FreeNotification(this);
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == popupComponent_) popupComponent_ = nullptr;
}

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  Items()->InitiateAction();
  static const UINT kAlign[] = {TPM_LEFTALIGN, TPM_RIGHTALIGN, TPM_CENTERALIGN};
  UINT flags = kAlign[alignment_] | TPM_RIGHTBUTTON;
  if (IsRightToLeft()) flags |= TPM_LAYOUTRTL;
  HWND owner = WindowHandle();
  TrackPopupMenu(Handle(), flags, x, y, 0, owner, nullptr);
  // The chosen command was posted to the owner: handle it before returning.
  MSG msg;
  if (owner && PeekMessageA(&msg, owner, WM_COMMAND, WM_COMMAND, PM_REMOVE)) DispatchMessageA(&msg);
}

// --- TPopupList --------------------------------------------------------------------------------

TPopupList::TPopupList() {
  window_ = AllocateHWnd(TWndMethod::Bind<&TPopupList::MainWndProc>(this));
}

void TPopupList::Destroy() {
  if (window_) DeallocateHWnd(window_);
  window_ = nullptr;
  inherited::Destroy();
}

void TPopupList::Add(TPopupMenu* menu) {
  if (std::find(menus_.begin(), menus_.end(), menu) == menus_.end()) menus_.push_back(menu);
}

void TPopupList::Remove(TPopupMenu* menu) {
  menus_.erase(std::remove(menus_.begin(), menus_.end(), menu), menus_.end());
}

void TPopupList::MainWndProc(TMessage& msg) {
  try {
    WndProc(msg);
  } catch (...) {
    if (Application) Application->HandleException(this);
  }
}

void TPopupList::WndProc(TMessage& msg) {
  switch (msg.Msg) {
    case WM_COMMAND:
      for (TPopupMenu* menu : std::vector<TPopupMenu*>(menus_))
        if (menu->DispatchCommand(LOWORD(msg.WParam))) return;
      break;
    case WM_INITMENUPOPUP:
      for (TPopupMenu* menu : std::vector<TPopupMenu*>(menus_))
        if (menu->DispatchPopup(reinterpret_cast<HMENU>(msg.WParam))) return;
      break;
    case WM_MENUSELECT: {
      const UINT flags = HIWORD(msg.WParam);
      if (flags == 0xFFFF && msg.LParam == 0) break;  // the menu closes
      for (TPopupMenu* menu : menus_) {
        TMenuItem* item = nullptr;
        if (flags & MF_POPUP) {
          HMENU sub = GetSubMenu(reinterpret_cast<HMENU>(msg.LParam), LOWORD(msg.WParam));
          item = sub ? menu->FindItem(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(sub)), fkHandle)
                     : nullptr;
        } else {
          item = menu->FindItem(LOWORD(msg.WParam), fkCommand);
        }
        if (item) {
          if (Application) Application->SetHint(GetLongHint(item->GetHint()));
          return;
        }
      }
      if (Application) Application->SetHint("");
      break;
    }
    case WM_MEASUREITEM:
    case WM_DRAWITEM:
      for (TPopupMenu* menu : menus_) {
        UINT id = msg.Msg == WM_MEASUREITEM ? reinterpret_cast<MEASUREITEMSTRUCT*>(msg.LParam)->itemID
                                            : reinterpret_cast<DRAWITEMSTRUCT*>(msg.LParam)->itemID;
        if (TMenuItem* item = menu->FindItem(id, fkCommand)) {
          HandleMenuOwnerDraw(item, msg);
          return;
        }
      }
      break;
    default:
      break;
  }
  HandleDefault(window_, msg);
}

// --- The unit ----------------------------------------------------------------------------------

void InitMenus() {
  RegisterClasses({&TMenuItem::StaticClass(), &TMainMenu::StaticClass(), &TPopupMenu::StaticClass()});
  if (!PopupList) PopupList = New<TPopupList>();
}

void DoneMenus() {
  FreeAndNil(PopupList);
}

// --- TMenuActionLink ---------------------------------------------------------------------------

void TMenuActionLink::AssignClient(TObject* client) {
  client_ = As<TMenuItem>(client);
}

bool TMenuActionLink::IsCaptionLinked() {
  // A menu caption may differ from the action's in its hot key and letter case.
  return inherited::IsCaptionLinked() &&
         AnsiSameText(StripHotkey(client_->GetCaption()), StripHotkey(CustomAction()->GetCaption()));
}
bool TMenuActionLink::IsCheckedLinked() {
  return inherited::IsCheckedLinked() && client_->GetChecked() == CustomAction()->GetChecked();
}
bool TMenuActionLink::IsEnabledLinked() {
  return inherited::IsEnabledLinked() && client_->GetEnabled() == CustomAction()->GetEnabled();
}
bool TMenuActionLink::IsHelpContextLinked() {
  return inherited::IsHelpContextLinked() && client_->GetHelpContext() == CustomAction()->GetHelpContext();
}
bool TMenuActionLink::IsHintLinked() {
  return inherited::IsHintLinked() && client_->GetHint() == CustomAction()->GetHint();
}
bool TMenuActionLink::IsImageIndexLinked() {
  return inherited::IsImageIndexLinked() && client_->GetImageIndex() == CustomAction()->GetImageIndex();
}
bool TMenuActionLink::IsShortCutLinked() {
  return inherited::IsShortCutLinked() && client_->GetShortCut() == CustomAction()->GetShortCut();
}
bool TMenuActionLink::IsVisibleLinked() {
  return inherited::IsVisibleLinked() && client_->GetVisible() == CustomAction()->GetVisible();
}
bool TMenuActionLink::IsOnExecuteLinked() {
  return action_ && client_->OnClick == action_->GetOnExecute();
}
void TMenuActionLink::SetCaption(const std::string& value) {
  if (IsCaptionLinked()) client_->SetCaption(value);
}
void TMenuActionLink::SetChecked(bool value) {
  if (IsCheckedLinked()) client_->SetChecked(value);
}
void TMenuActionLink::SetEnabled(bool value) {
  if (IsEnabledLinked()) client_->SetEnabled(value);
}
void TMenuActionLink::SetHelpContext(int value) {
  if (IsHelpContextLinked()) client_->SetHelpContext(value);
}
void TMenuActionLink::SetHint(const std::string& value) {
  if (IsHintLinked()) client_->SetHint(value);
}
void TMenuActionLink::SetImageIndex(int value) {
  if (IsImageIndexLinked()) client_->SetImageIndex(value);
}
void TMenuActionLink::SetShortCut(TShortCut value) {
  if (IsShortCutLinked()) client_->SetShortCut(value);
}
void TMenuActionLink::SetVisible(bool value) {
  if (IsVisibleLinked()) client_->SetVisible(value);
}
void TMenuActionLink::SetOnExecute(const TNotifyEvent& value) {
  if (IsOnExecuteLinked()) client_->OnClick = value;
}
