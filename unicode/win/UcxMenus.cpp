#include "UcxMenus.h"

#include <windows.h>

#include <vector>

#include "Forms.h"
#include "Swallow.h"
#include "UcxActnList.h"
#include "UcxClasses.h"
#include "UcxControlsCore.h"
#include "UcxSysUtils.h"
#include "UcxWindows.h"

FW_BEGIN_CLASS(TUcxMenuItem)
  FW_PROP(Caption, ReadCaption, SetWideCaption)
  FW_STORED(IsCaptionStored)
  FW_PROP(Hint, ReadHint, SetWideHint)
  FW_STORED(IsHintStored)
  FW_EVENT(OnMeasureItem, UserMeasureItem)
FW_END_CLASS

FW_IMPLEMENT_CLASS(TUcxPopupList)

bool IsMiddleEastSystem = false;

namespace {

TUcxPopupList* g_popupList = nullptr;
WideHintSink g_hintSink = nullptr;

// The keyboard's characters and key names (the wide calls).
class KeyboardKeyNames : public WideKeyNames {
 public:
  char16_t KeyChar(std::uint8_t key) override { return static_cast<char16_t>(MapVirtualKeyW(key, 2) & 0xFFFF); }
  WideString KeyName(std::uint8_t key) override {
    const UINT scan = MapVirtualKeyW(key, 0);
    if (!scan) return {};
    wchar_t name[256] = {};
    const int len = GetKeyNameTextW(static_cast<LONG>(scan << 16), name, 256);
    return len > 0 ? WideString(reinterpret_cast<const char16_t*>(name), static_cast<std::size_t>(len)) : WideString();
  }
};
KeyboardKeyNames g_keys;
WideKeyNames* g_oldKeys = nullptr;

bool IsReadingOrDestroying(TComponent* c) {
  return c->ComponentState().Contains(csReading) || c->ComponentState().Contains(csLoading) || c->IsDestroying();
}

UINT AlignmentFlags(TMenuItem* item) {
  auto* popup = dynamic_cast<TPopupMenu*>(item->GetParentMenu());
  if (!popup) return DT_LEFT;
  static const UINT kAlign[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
  return kAlign[popup->GetAlignment()];
}

int WideWidth(HDC dc, const WideString& text, UINT flags) {
  RECT r{0, 0, 0, 0};
  DrawTextWide(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | DT_CALCRECT);
  return r.right - r.left;
}

int AnsiWidth(HDC dc, const std::string& text, UINT flags) {
  RECT r{0, 0, 0, 0};
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | DT_CALCRECT);
  return r.right - r.left;
}

bool IsStringMenuItem(TMenuItem* item) {
  return !item->IsLine();
}

}  // namespace

// --- Captions and hints ------------------------------------------------------------------------

TUcxMenuItem::TUcxMenuItem(TComponent* owner) : TMenuItem(owner) {
  InstallOwnMeasureHandler();
}

void TUcxMenuItem::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  DefineWideProperties(filer, this);
}

WideString TUcxMenuItem::GetWideCaption() {
  const std::string ansi = GetCaption();
  // The framework may have moved the hot key of the ANSI caption.
  if (NarrowToAnsi(wideCaption_) != ansi) wideCaption_ = SyncHotKeyPosition(WidenFromAnsi(ansi), wideCaption_);
  return GetSyncedWideString(wideCaption_, ansi);
}

void TUcxMenuItem::SetWideCaption(const WideString& value) {
  GetWideCaption();
  SetSyncedWideString(value, wideCaption_, GetCaption(), [this](const std::string& s) { TMenuItem::SetCaption(s); });
}

WideString TUcxMenuItem::GetWideHint() {
  return GetSyncedWideString(wideHint_, hint_);
}

void TUcxMenuItem::SetWideHint(const WideString& value) {
  SetSyncedWideString(value, wideHint_, hint_, [this](const std::string& s) { hint_ = s; });
}

WideString WideMenuItemGetCaption(TMenuItem* item) {
  if (auto* wide = dynamic_cast<TUcxMenuItem*>(item)) return wide->GetWideCaption();
  return WidenFromAnsi(item->GetCaption());
}

void WideMenuItemSetCaption(TMenuItem* item, const WideString& value) {
  if (auto* wide = dynamic_cast<TUcxMenuItem*>(item))
    wide->SetWideCaption(value);
  else
    item->SetCaption(NarrowToAnsi(value));
}

WideString WideGetMenuItemHint(TMenuItem* item) {
  if (auto* wide = dynamic_cast<TUcxMenuItem*>(item)) return wide->GetWideHint();
  return WidenFromAnsi(item->GetHint());
}

void WideMenuItemSetHint(TMenuItem* item, const WideString& value) {
  if (auto* wide = dynamic_cast<TUcxMenuItem*>(item))
    wide->SetWideHint(value);
  else
    item->SetHint(NarrowToAnsi(value));
}

// --- Life and refresh --------------------------------------------------------------------------

bool TUcxMenuItem::HasOwnMeasureHandler() const {
  return OnMeasureItem == TMenuMeasureItemEvent::Bind<&TUcxMenuItem::OwnMeasureItem>(const_cast<TUcxMenuItem*>(this));
}

void TUcxMenuItem::InstallOwnMeasureHandler() {
  const auto own = TMenuMeasureItemEvent::Bind<&TUcxMenuItem::OwnMeasureItem>(this);
  if (OnMeasureItem == own) return;
  if (OnMeasureItem) UserMeasureItem = OnMeasureItem;  // someone put a handler there: it is the user's
  OnMeasureItem = own;
}

void TUcxMenuItem::Loaded() {
  inherited::Loaded();
  UpdateUnicodeMenuItem(this, GetParentMenu());
}

void TUcxMenuItem::MenuChanged(bool rebuild) {
  if (updating_) return;
  inherited::MenuChanged(rebuild);
  TMenu* menu = GetParentMenu();
  RefreshMenuItems(this, menu);
  RefreshMenuForMiddleEast(menu);
}

void TUcxMenuItem::ActionChange(TObject* sender, bool checkDefaults) {
  auto* action = dynamic_cast<TCustomAction*>(sender);
  if (action && dynamic_cast<IWideTextAction*>(action)) {
    if (!checkDefaults || GetWideCaption().empty()) SetWideCaption(GetActionWideCaption(action));
    if (!checkDefaults || GetWideHint().empty()) SetWideHint(GetActionWideHint(action));
  }
  inherited::ActionChange(sender, checkDefaults);
}

TBasicActionLinkClass TUcxMenuItem::GetActionLinkClass() {
  return &TUcxMenuActionLink::StaticClass();
}

void UpdateUnicodeMenuItem(TUcxMenuItem* item, TMenu* menu) {
  item->InstallOwnMeasureHandler();
  if (!IsUnicodePlatform || !item->Parent() || !menu || IsReadingOrDestroying(item) || !item->GetVisible()) return;
  TMenuItem* parent = item->Parent();
  if (!parent->HandleAllocated()) return;  // its system menu is made later, from the ANSI caption and then this
  HMENU handle = parent->Handle();
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_TYPE;
  if (!GetMenuItemInfoW(handle, item->Command(), FALSE, &info)) return;
  if (info.fType & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW)) return;
  WideString text = item->GetWideCaption();
  if (item->Count() == 0 && item->GetShortCut() != scNone && !IsTopLevelMainMenuItem(item))
    text += u"\t" + WideShortCutToText(item->GetShortCut());
  const int len = GetMenuStringW(handle, item->Command(), nullptr, 0, MF_BYCOMMAND);
  std::vector<wchar_t> buf(static_cast<std::size_t>(len > 0 ? len : 0) + 1);
  const int got = GetMenuStringW(handle, item->Command(), buf.data(), static_cast<int>(buf.size()), MF_BYCOMMAND);
  const WideString current(reinterpret_cast<const char16_t*>(buf.data()), static_cast<std::size_t>(got > 0 ? got : 0));
  if (current == text) return;
  info.fMask = MIIM_TYPE;
  info.dwTypeData = reinterpret_cast<LPWSTR>(text.data());
  info.cch = static_cast<UINT>(text.size());
  if (!SetMenuItemInfoW(handle, item->Command(), FALSE, &info)) RaiseLastWin32Failure();
  if (IsTopLevelMainMenuItem(item))
    if (HWND wnd = menu->WindowHandle()) DrawMenuBar(wnd);
}

void RefreshMenuItems(TMenuItem* item, TMenu* menu) {
  if (!item || IsReadingOrDestroying(item)) return;
  for (int i = item->Count() - 1; i >= 0; --i) RefreshMenuItems(item->Items(i), menu);
  if (auto* wide = dynamic_cast<TUcxMenuItem*>(item)) UpdateUnicodeMenuItem(wide, menu);
}

void RefreshMenuForMiddleEast(TMenu* menu) {
  if (!IsMiddleEastSystem || !menu || menu->Items()->Count() == 0) return;
  if (auto* first = dynamic_cast<TUcxMenuItem*>(menu->Items()->Items(0))) UpdateUnicodeMenuItem(first, menu);
}

// --- Measuring and drawing ---------------------------------------------------------------------

void TUcxMenuItem::OwnMeasureItem(TObject*, TCanvas* canvas, int& width, int& height) {
  if (!IsUnicodePlatform || !IsStringMenuItem(this)) {
    // The framework measures and calls the user's event itself.
    const TMenuMeasureItemEvent own = OnMeasureItem;
    OnMeasureItem = UserMeasureItem;
    try {
      TMenuItem::MeasureItem(canvas, width, height);
    } catch (...) {
      OnMeasureItem = own;
      throw;
    }
    OnMeasureItem = own;
    return;
  }
  const TMenuMeasureItemEvent own = OnMeasureItem;
  OnMeasureItem = nullptr;
  try {
    TMenuItem::MeasureItem(canvas, width, height);
  } catch (...) {
    OnMeasureItem = own;
    throw;
  }
  OnMeasureItem = own;
  HDC dc = canvas->Handle();
  HGDIOBJ old = SelectObject(dc, canvas->Font()->Handle());
  const UINT flags = AlignmentFlags(this) | DT_NOCLIP | DT_EXPANDTABS | DT_SINGLELINE;
  width += WideWidth(dc, GetWideCaption(), flags) - AnsiWidth(dc, GetCaption(), flags);
  if (GetShortCut() != scNone)
    width +=
        WideWidth(dc, WideShortCutToText(GetShortCut()), flags) - AnsiWidth(dc, ShortCutToText(GetShortCut()), flags);
  SelectObject(dc, old);
  if (UserMeasureItem) UserMeasureItem(this, canvas, width, height);
}

void TUcxMenuItem::DoDrawText(TCanvas* canvas, const std::string& caption, RECT& rect, bool selected, UINT flags) {
  if (!IsUnicodePlatform) {
    inherited::DoDrawText(canvas, caption, rect, selected, flags);
    return;
  }
  DoDrawWideText(canvas, caption == GetCaption() ? GetWideCaption() : WidenFromAnsi(caption), rect, selected, flags);
}

void TUcxMenuItem::DoDrawWideText(TCanvas* canvas, WideString caption, RECT& rect, bool selected, UINT flags) {
  TMenu* menu = GetParentMenu();
  if (menu && menu->IsRightToLeft()) flags |= DT_RIGHT | DT_RTLREADING;
  if ((flags & DT_CALCRECT) && (caption.empty() || caption == u"&")) caption = u" ";
  canvas->Brush()->SetStyle(bsClear);
  if (GetDefault()) {
    TFontStyles style = canvas->Font()->GetStyle();
    style.Include(fsBold);
    canvas->Font()->SetStyle(style);
  }
  HDC dc = canvas->Handle();
  HGDIOBJ old = SelectObject(dc, canvas->Font()->Handle());
  SetBkMode(dc, TRANSPARENT);
  const int n = static_cast<int>(caption.size());
  if (!GetEnabled() && !(flags & DT_CALCRECT)) {
    if (!selected) {
      RECT shifted = rect;
      OffsetRect(&shifted, 1, 1);
      SetTextColor(dc, ColorToRGB(clBtnHighlight));
      DrawTextWide(dc, caption.c_str(), n, &shifted, flags);
      SetTextColor(dc, ColorToRGB(clBtnShadow));
    } else {
      SetTextColor(dc, ColorToRGB(ColorToRGB(clHighlight) == ColorToRGB(clBtnShadow) ? clBtnHighlight : clBtnShadow));
    }
  } else if (!(flags & DT_CALCRECT)) {
    SetTextColor(dc, ColorToRGB(selected ? clHighlightText : clMenuText));
  }
  DrawTextWide(dc, caption.c_str(), n, &rect, flags);
  SelectObject(dc, old);
}

void TUcxMenuItem::AdvancedDrawItem(TCanvas* canvas, RECT rect, TOwnerDrawState state, bool topLevel) {
  TMenu* menu = GetParentMenu();
  const bool ownDraw = menu && menu->IsOwnerDraw() && OnDrawItem;
  if (ownDraw || !IsUnicodePlatform || IsLine()) {
    inherited::AdvancedDrawItem(canvas, rect, state, topLevel);
    return;
  }
  // 1. The framework draws background, check mark and image without the text.
  const WideString caption = GetWideCaption();
  const std::string ansiCaption = GetCaption();
  const TShortCut shortCut = GetShortCut();
  ++updating_;
  try {
    TMenuItem::SetCaption("");
    TMenuItem::SetShortCut(scNone);
    inherited::AdvancedDrawItem(canvas, rect, state, topLevel);
  } catch (...) {
    TMenuItem::SetCaption(ansiCaption);
    TMenuItem::SetShortCut(shortCut);
    wideCaption_ = caption;
    --updating_;
    throw;
  }
  TMenuItem::SetCaption(ansiCaption);
  TMenuItem::SetShortCut(shortCut);
  wideCaption_ = caption;
  --updating_;

  // 2. The text rectangle: after the glyph column.
  const bool rtl = menu && menu->IsRightToLeft();
  const bool selected = state.Contains(odSelected);
  TCustomImageList* images = menu ? menu->GetImages() : nullptr;
  int glyph = 0;
  if (images && (GetImageIndex() >= 0 || (GetChecked() && !HasBitmap())))
    glyph = images->GetWidth();
  else if (HasBitmap())
    glyph = 16;
  else if (images && !topLevel)
    glyph = images->GetWidth();
  int left = 1 + (GetChecked() ? 1 : 0);
  int columnRight = left + glyph;
  if (glyph) {
    left -= 1;
    columnRight += 2;
  }
  RECT text = rect;
  const int start = columnRight + ((selected && glyph) ? 3 : 1);
  if (rtl)
    text.right = rect.right - start;
  else
    text.left = rect.left + start;
  if (!topLevel) {
    text.left += rtl ? 1 : 2;
    text.right -= rtl ? 2 : 1;
  }
  if (topLevel && !selected && IsXPOrLater) OffsetRect(&text, 0, -1);

  // 3. Flags.
  UINT flags = AlignmentFlags(this) | DT_EXPANDTABS | DT_SINGLELINE;
  if (state.Contains(odNoAccel)) flags |= DT_HIDEPREFIX;

  // 4. The caption, centred vertically.
  RECT measured = text;
  DoDrawWideText(canvas, caption, measured, selected, flags | DT_CALCRECT | DT_NOCLIP);
  const int shift = ((rect.bottom - rect.top) - (measured.bottom - measured.top)) / 2;
  OffsetRect(&measured, 0, rect.top - measured.top + shift);
  if (topLevel && selected && IsXPOrLater) OffsetRect(&measured, 1, 0);
  DoDrawWideText(canvas, caption, measured, selected, flags);

  // 5. The shortcut, right-aligned.
  if (shortCut != scNone && !topLevel) {
    const WideString keys = WideShortCutToText(shortCut);
    RECT k = rect;
    if (rtl) {
      k.left = rect.left + 10;
      k.right = k.left + WideWidth(canvas->Handle(), keys, DT_SINGLELINE);
    } else {
      k.left = measured.right;
      k.right = rect.right - 10;
    }
    DoDrawWideText(canvas, keys, k, selected, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
  }
}

// --- The popup list ----------------------------------------------------------------------------

void SetWideHintSink(WideHintSink sink) {
  g_hintSink = sink;
}

void SetApplicationWideHint(const WideString& hint) {
  if (g_hintSink)
    g_hintSink(hint);
  else if (Application)
    Application->SetHint(NarrowToAnsi(hint));
}

void TUcxPopupList::WndProc(TMessage& msg) {
  if (msg.Msg == WM_MENUSELECT) {
    const UINT flags = HIWORD(msg.WParam);
    for (int i = 0; i < Count(); ++i) {
      TPopupMenu* menu = Items(i);
      TMenuItem* item = nullptr;
      if (flags & MF_POPUP) {
        HMENU sub = msg.LParam ? GetSubMenu(reinterpret_cast<HMENU>(msg.LParam), LOWORD(msg.WParam)) : nullptr;
        if (sub) item = menu->FindItem(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(sub)), fkHandle);
      } else {
        item = menu->FindItem(LOWORD(msg.WParam), fkCommand);
      }
      if (item) {
        SetApplicationWideHint(WideGetLongHint(WideGetMenuItemHint(item)));
        return;
      }
    }
    SetApplicationWideHint(u"");
  } else if (msg.Msg == WM_ENTERMENULOOP) {
    if (FrameworkList) PopupList = FrameworkList;
    for (int i = 0; i < Count(); ++i) RefreshMenuForMiddleEast(Items(i));
  }
  inherited::WndProc(msg);
}

TUcxPopupList* UcxPopupList() {
  return g_popupList;
}

void InitUcxMenus() {
  RegisterClasses({&TUcxMenuItem::StaticClass()});
  g_oldKeys = SetWideKeyNames(&g_keys);
  IsMiddleEastSystem = GetSystemMetrics(SM_MIDEASTENABLED) != 0;
  if (!g_popupList) {
    g_popupList = New<TUcxPopupList>();
    g_popupList->FrameworkList = PopupList;
  }
}

void DoneUcxMenus() noexcept {
  try {
    FreeAndNil(g_popupList);
  } catch (...) {
    SwallowException("DoneUcxMenus: freeing the popup list");
  }
  SetWideKeyNames(g_oldKeys);
  g_oldKeys = nullptr;
}
