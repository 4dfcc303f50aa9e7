#include "PhoneList.h"

#include <algorithm>
#include <memory>

#include "Registry.h"
#include "Strings.h"
#include "SysUtils.h"

namespace {

struct FreeObjectDeleter {
  void operator()(TObject* obj) const { FreeObject(obj); }
};

struct NamedValue {
  std::string name;
  std::string value;
};

// The values "Common" is to hold for `phones` (none: the cleared state), each
// name once, in the order first written; a later phone on the same port wins.
std::vector<NamedValue> TargetValues(const TMobilePhones* phones) {
  std::vector<NamedValue> values{{"IrDA", "0"}, {"DKU-2", "0"}, {"DKU-5", "0"}};
  auto set = [&values](const std::string& name, const std::string& value) {
    for (NamedValue& v : values)
      if (SameText(v.name, name)) {
        v.value = value;
        return;
      }
    values.push_back({name, value});
  };
  if (phones)
    for (int i = 0; i < phones->PhoneCount(); ++i) {
      const TPhone* phone = phones->PhoneAt(i);
      if (!phone) continue;
      switch (phone->Kind) {
        case ConnFbusCable:
        case ConnDlr3Cable:
        case ConnBluetooth:
          set("COM" + IntToStr(phone->Port), IntToStr(phone->Kind));
          break;
        case ConnDku5:
          set("DKU-5", "1");
          break;
        case ConnIrDA:
          set("IrDA", "1");
          break;
        case ConnDku2:
          set("DKU-2", "1");
          break;
        default:
          break;
      }
    }
  return values;
}

// "COM1" to "COM255" (letters in any case): the names a save starts afresh.
bool IsPortValueName(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || !SameText(name.substr(0, 3), "COM") || name[3] == '0') return false;
  int n = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= 255;
}

// Writes every target value first and only then removes the port values that
// are no longer wanted: a failure at any point leaves each earlier value
// either as it was or replaced by its new value.
void WriteConnections(TRegistryIniFile& ini, const TMobilePhones* phones) {
  const std::vector<NamedValue> values = TargetValues(phones);
  for (const NamedValue& v : values) ini.WriteString(CorvessaCommonSection, v.name, v.value);

  std::unique_ptr<TStringList, FreeObjectDeleter> present(New<TStringList>());
  ini.ReadSection(CorvessaCommonSection, present.get());
  for (int i = 0; i < present->Count(); ++i) {
    const std::string name = present->Strings(i);
    if (!IsPortValueName(name)) continue;
    if (std::any_of(values.begin(), values.end(), [&](const NamedValue& v) { return SameText(v.name, name); }))
      continue;
    ini.DeleteKey(CorvessaCommonSection, name);
    if (ini.ValueExists(CorvessaCommonSection, name)) throw ERegistryException(Format("Failed to delete '%s'", name));
  }
}

}  // namespace

FW_IMPLEMENT_CLASS(TPhone)
FW_IMPLEMENT_CLASS(TMobilePhones)

void TMobilePhones::Destroy() {
  std::vector<TPhone*> owned;
  owned.swap(phones_);
  std::sort(owned.begin(), owned.end());
  owned.erase(std::unique(owned.begin(), owned.end()), owned.end());
  for (TPhone* phone : owned) phone->Free();
  inherited::Destroy();
}

TPhone* TMobilePhones::PhoneAt(int index) const {
  if (index < 0 || index >= PhoneCount()) throw EListError(Format("List index out of bounds (%d)", index));
  return phones_[static_cast<std::size_t>(index)];
}

int TMobilePhones::AddPhone(TPhone* phone) {
  if (!phone) return -1;
  phones_.push_back(phone);
  return PhoneCount() - 1;
}

void SaveConnections(const TMobilePhones& phones, RegistryBackend* backend) {
  std::unique_ptr<TRegistryIniFile, FreeObjectDeleter> ini(
      New<TRegistryIniFile>(std::string(CorvessaOptionsKey), RegKeyAllAccess, RegCurrentUser, backend));
  WriteConnections(*ini, &phones);
}

void ClearSavedConnections(TRegistryIniFile* ini) {
  if (ini) WriteConnections(*ini, nullptr);
}
