#include "IcoListWin.h"

#include <algorithm>
#include <string>

#include "Exceptions.h"
#include "Filer.h"
#include "SysUtils.h"

namespace {

// Copies `source` into `dest`; none empties it.
void AssignIcon(TIcon* dest, TIcon* source) {
  if (source)
    dest->Assign(source);
  else
    dest->SetHandle(nullptr);
}

// Runs `change` inside an update of `list`, which reports once at the end,
// also when `change` fails.
template <typename F>
void InsideUpdate(TIconList& list, F change) {
  list.LockUpdates();
  try {
    change();
  } catch (...) {
    list.UnlockUpdates();
    throw;
  }
  list.UnlockUpdates();
}

}  // namespace

// Appends the entries of the layout to a list.
class TIconListReader : public IconListBuilder {
 public:
  explicit TIconListReader(TIconList& list) : list_(list) {}
  void Append(std::string_view iconFile) override {
    if (iconFile.empty()) {
      list_.icons_.push_back(nullptr);
      return;
    }
    TIcon* icon = New<TIcon>();
    try {
      TOwned<TReadOnlyMemoryStream> s(New<TReadOnlyMemoryStream>(iconFile.data(), iconFile.size()));
      icon->LoadFromStream(*s);
    } catch (...) {
      icon->Free();
      throw;
    }
    list_.Adopt(list_.IconCount(), icon);
  }

 private:
  TIconList& list_;
};

FW_IMPLEMENT_CLASS(TIconList)

void TIconList::Destroy() {
  OnListChange = {};
  RemoveAll();
  inherited::Destroy();
}

void TIconList::UnlockUpdates() {
  if (updateCount_ > 0 && --updateCount_ == 0) NotifyChange();
}

void TIconList::NotifyChange() {
  if (updateCount_ == 0 && OnListChange) OnListChange(this);
}

void TIconList::CheckIndex(int index, int limit) const {
  if (index < 0 || index >= limit) throw EListError(Format("List index out of bounds (%d)", index));
}

TIcon* TIconList::IconAt(int index) const {
  CheckIndex(index, IconCount());
  return icons_[static_cast<std::size_t>(index)];
}

void TIconList::IconChanged(TObject*) {
  NotifyChange();
}

// Puts the icon into the list at `index`, its changes reported as the list's.
void TIconList::Adopt(int index, TIcon* icon) {
  icons_.insert(icons_.begin() + index, icon);
  icon->OnChange = TNotifyEvent::Bind<&TIconList::IconChanged>(this);
}

TIcon* TIconList::NewIcon(TIcon* source) {
  TIcon* icon = New<TIcon>();
  try {
    AssignIcon(icon, source);
  } catch (...) {
    icon->Free();
    throw;
  }
  return icon;
}

TIcon* TIconList::ResourceIcon(HINSTANCE instance, const char* resName) {
  TIcon* icon = New<TIcon>();
  icon->SetHandle(LoadIconA(instance, resName));
  return icon;
}

void TIconList::SetIconAt(int index, TIcon* icon) {
  CheckIndex(index, IconCount() + 1);
  InsideUpdate(*this, [&] {
    if (index == IconCount()) AppendIcon(nullptr);
    TIcon*& entry = icons_[static_cast<std::size_t>(index)];
    if (!entry) {
      entry = New<TIcon>();
      entry->OnChange = TNotifyEvent::Bind<&TIconList::IconChanged>(this);
    }
    AssignIcon(entry, icon);
  });
}

int TIconList::AppendIcon(TIcon* icon) {
  const int index = IconCount();
  Adopt(index, NewIcon(icon));
  NotifyChange();
  return index;
}

int TIconList::AppendResourceIcon(HINSTANCE instance, const char* resName) {
  const int index = IconCount();
  Adopt(index, ResourceIcon(instance, resName));
  NotifyChange();
  return index;
}

void TIconList::InsertIcon(int index, TIcon* icon) {
  CheckIndex(index, IconCount() + 1);
  Adopt(index, NewIcon(icon));
  NotifyChange();
}

void TIconList::InsertResourceIcon(int index, HINSTANCE instance, const char* resName) {
  CheckIndex(index, IconCount() + 1);
  Adopt(index, ResourceIcon(instance, resName));
  NotifyChange();
}

void TIconList::RemoveIcon(int index) {
  CheckIndex(index, IconCount());
  TIcon* icon = icons_[static_cast<std::size_t>(index)];
  icons_.erase(icons_.begin() + index);
  if (icon) {
    icon->OnChange = {};
    icon->Free();
  }
  NotifyChange();
}

void TIconList::RemoveAll() {
  InsideUpdate(*this, [&] {
    for (int i = IconCount() - 1; i >= 0; --i) RemoveIcon(i);
  });
}

void TIconList::SwapIcons(int index1, int index2) {
  CheckIndex(index1, IconCount());
  CheckIndex(index2, IconCount());
  std::swap(icons_[static_cast<std::size_t>(index1)], icons_[static_cast<std::size_t>(index2)]);
  NotifyChange();
}

void TIconList::MoveIcon(int curIndex, int newIndex) {
  CheckIndex(curIndex, IconCount());
  CheckIndex(newIndex, IconCount());
  TIcon* icon = icons_[static_cast<std::size_t>(curIndex)];
  icons_.erase(icons_.begin() + curIndex);
  icons_.insert(icons_.begin() + newIndex, icon);
  NotifyChange();
}

int TIconList::FindIcon(TIcon* icon) const {
  auto it = std::find(icons_.begin(), icons_.end(), icon);
  return it == icons_.end() ? -1 : static_cast<int>(it - icons_.begin());
}

void TIconList::ReadIcons(TStream& stream) {
  InsideUpdate(*this, [&] {
    RemoveAll();
    TIconListReader reader(*this);
    ReadIconsLayout(stream, reader);
  });
}

void TIconList::WriteIcons(TStream& stream) {
  std::vector<std::string> files;
  files.reserve(icons_.size());
  for (TIcon* icon : icons_) {
    std::string file;
    if (icon && !icon->Empty()) {
      TOwned<TMemoryStream> s(New<TMemoryStream>());
      icon->SaveToStream(*s);
      file = s->DataString();
    }
    files.push_back(std::move(file));
  }
  WriteIconsLayout(stream, files);
}

void TIconList::Assign(TPersistent* source) {
  if (source == this) return;
  if (!source) {
    RemoveAll();
    return;
  }
  if (auto* list = dynamic_cast<TIconList*>(source)) {
    InsideUpdate(*this, [&] {
      RemoveAll();
      for (TIcon* icon : list->icons_) AppendIcon(icon);
    });
    return;
  }
  if (auto* icon = dynamic_cast<TIcon*>(source)) {
    InsideUpdate(*this, [&] {
      RemoveAll();
      AppendIcon(icon);
    });
    return;
  }
  inherited::Assign(source);
}

void TIconList::DefineProperties(TFiler& filer) {
  // Against an ancestor list of the same count the icons are written when one
  // of them differs; against any other ancestor, or none, when there are any.
  bool hasData = IconCount() > 0;
  auto* ancestor = dynamic_cast<TIconList*>(filer.Ancestor);
  if (ancestor && hasData && ancestor->IconCount() == IconCount())
    hasData = !std::equal(icons_.begin(), icons_.end(), ancestor->icons_.begin());
  filer.DefineBinaryProperty(
      "Icons", [this](TStream& s) { ReadIcons(s); }, [this](TStream& s) { WriteIcons(s); }, hasData);
}
