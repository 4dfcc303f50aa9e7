#include "UcxControlsCore.h"

#include <cstdint>

#include "Swallow.h"
#include "UcxClasses.h"
#include "UcxSysUtils.h"

FW_IMPLEMENT_CLASS(TWideCaptionHolder)

namespace {

TList& HolderList() {
  static TList* list = new TList;  // freed by FreeWideCaptionHolders; outlives static destruction order
  return *list;
}

int CompareHolderControl(void* item, const void* target) {
  const auto a = reinterpret_cast<std::uintptr_t>(static_cast<TWideCaptionHolder*>(item)->Control());
  const auto b = reinterpret_cast<std::uintptr_t>(target);
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

const TAnsiConverter& LayerAnsiConverter() {
  static const TAnsiConverter conv{&NarrowToAnsi, &WidenFromAnsi};
  return conv;
}

WideString GetSyncedWideString(WideString& stored, const std::string& ansi, const TAnsiConverter& conv) {
  if (conv.Narrow(stored) != ansi) stored = conv.Widen(ansi);
  return stored;
}

void SetSyncedWideString(const WideString& value, WideString& stored, const std::string& ansi,
                         const std::function<void(const std::string&)>& setAnsi, const TAnsiConverter& conv) {
  if (GetSyncedWideString(stored, ansi, conv) == value) return;
  const std::string narrow = conv.Narrow(value);
  if (conv.Widen(narrow) != value && narrow == ansi) setAnsi(std::string());
  stored = value;
  setAnsi(narrow);
}

WideString WideGetShortHint(const WideString& hint) {
  const std::size_t bar = hint.find(u'|');
  return bar == WideString::npos ? hint : hint.substr(0, bar);
}

WideString WideGetLongHint(const WideString& hint) {
  const std::size_t bar = hint.find(u'|');
  return bar == WideString::npos ? hint : hint.substr(bar + 1);
}

TWideCaptionHolder::TWideCaptionHolder(TComponent* control) : TComponent(nullptr), control_(control) {
  if (control_) control_->FreeNotification(this);
}

void TWideCaptionHolder::Destroy() {
  HolderList().Remove(this);
  inherited::Destroy();
}

void TWideCaptionHolder::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == opRemove && component == control_) {
    HolderList().Remove(this);
    control_ = nullptr;
    Free();
  }
}

bool FindWideCaptionHolderIndex(const TComponent* control, int& index) {
  return FindInSortedList(HolderList(), &CompareHolderControl, control, index);
}

TWideCaptionHolder* FindWideCaptionHolder(TComponent* control, bool create) {
  int index = 0;
  if (FindWideCaptionHolderIndex(control, index)) {
    auto* holder = static_cast<TWideCaptionHolder*>(HolderList()[index]);
    if (holder->Control() != control) throw EUcxInternalError("UCX Internal Error: FindWideCaptionHolderIndex failed.");
    return holder;
  }
  if (!create) return nullptr;
  auto* holder = New<TWideCaptionHolder>(control);
  HolderList().Insert(index, holder);
  return holder;
}

const TList& WideCaptionHolders() {
  return HolderList();
}

void FreeWideCaptionHolders() noexcept {
  TList& list = HolderList();
  while (list.Count() > 0) {
    auto* holder = static_cast<TWideCaptionHolder*>(list.Last());
    list.Delete(list.Count() - 1);
    try {
      holder->Free();
    } catch (...) {
      SwallowException("FreeWideCaptionHolders: freeing a holder");
    }
  }
}
