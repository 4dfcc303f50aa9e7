#include "Registry.h"

#include <atomic>

#include "Scope.h"
#include "Strings.h"
#include "SysUtils.h"

namespace {

std::atomic<RegistryBackend*> g_backend{nullptr};

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsRoot(RegKey key) {
  return key >= RegClassesRoot && key <= 0x80000006u;
}

std::string StringData(std::string_view s) {
  std::string d(s);
  d.push_back('\0');
  return d;
}

std::string StripZeros(std::string data) {
  std::size_t n = data.find('\0');
  if (n != std::string::npos) data.resize(n);
  return data;
}

std::string JoinPath(std::string_view a, std::string_view b) {
  if (a.empty()) return std::string(b);
  if (b.empty()) return std::string(a);
  return std::string(a) + "\\" + std::string(b);
}

}  // namespace

// --- MemoryRegistryBackend ---------------------------------------------------------------------

bool MemoryRegistryBackend::NoCase::operator()(const std::string& a, const std::string& b) const {
  return CompareText(a, b) < 0;
}

long MemoryRegistryBackend::Resolve(RegKey key, std::uint32_t need, std::shared_ptr<Node>& node) {
  if (IsRoot(key)) {
    auto& root = roots_[key];
    if (!root) root = std::make_shared<Node>();
    node = root;
    return RegOk;
  }
  auto h = handles_.find(key);
  if (h == handles_.end()) return RegInvalidHandle;
  if (h->second.node->deleted) return RegKeyDeleted;
  if ((h->second.access & need) != need) return RegAccessDenied;
  node = h->second.node;
  return RegOk;
}

long MemoryRegistryBackend::OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create,
                                    RegKey& out) {
  std::lock_guard<std::mutex> g(lock_);
  out = 0;
  std::shared_ptr<Node> node;
  if (long rc = Resolve(parent, 0, node)) return rc;
  for (const std::string& part : SplitPath(subKey)) {
    auto it = node->keys.find(part);
    if (it == node->keys.end()) {
      if (!create) return RegNotFound;
      it = node->keys.emplace(part, std::make_shared<Node>()).first;
    }
    node = it->second;
  }
  out = next_++;
  handles_[out] = Handle{node, access};
  return RegOk;
}

void MemoryRegistryBackend::CloseKey(RegKey key) {
  std::lock_guard<std::mutex> g(lock_);
  handles_.erase(key);
}

long MemoryRegistryBackend::DeleteKey(RegKey parent, std::string_view subKey) {
  std::lock_guard<std::mutex> g(lock_);
  std::shared_ptr<Node> node;
  if (long rc = Resolve(parent, 0, node)) return rc;
  std::vector<std::string> parts = SplitPath(subKey);
  if (parts.empty()) return RegAccessDenied;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    auto it = node->keys.find(parts[i]);
    if (it == node->keys.end()) return RegNotFound;
    node = it->second;
  }
  auto it = node->keys.find(parts.back());
  if (it == node->keys.end()) return RegNotFound;
  if (!it->second->keys.empty()) return RegAccessDenied;
  it->second->deleted = true;
  node->keys.erase(it);
  return RegOk;
}

long MemoryRegistryBackend::EnumKeys(RegKey key, std::vector<std::string>& names) {
  std::lock_guard<std::mutex> g(lock_);
  names.clear();
  std::shared_ptr<Node> node;
  if (long rc = Resolve(key, RegKeyEnumerateSubKeys, node)) return rc;
  for (const auto& kv : node->keys) names.push_back(kv.first);
  return RegOk;
}

long MemoryRegistryBackend::EnumValues(RegKey key, std::vector<std::string>& names) {
  std::lock_guard<std::mutex> g(lock_);
  names.clear();
  std::shared_ptr<Node> node;
  if (long rc = Resolve(key, RegKeyQueryValue, node)) return rc;
  for (const auto& kv : node->values) names.push_back(kv.first);
  return RegOk;
}

long MemoryRegistryBackend::QueryValue(RegKey key, std::string_view name, RegValue& out) {
  std::lock_guard<std::mutex> g(lock_);
  std::shared_ptr<Node> node;
  if (long rc = Resolve(key, RegKeyQueryValue, node)) return rc;
  auto it = node->values.find(std::string(name));
  if (it == node->values.end()) return RegNotFound;
  out = it->second;
  return RegOk;
}

long MemoryRegistryBackend::SetValue(RegKey key, std::string_view name, const RegValue& value) {
  std::lock_guard<std::mutex> g(lock_);
  std::shared_ptr<Node> node;
  if (long rc = Resolve(key, RegKeySetValue, node)) return rc;
  node->values[std::string(name)] = value;
  return RegOk;
}

long MemoryRegistryBackend::DeleteValue(RegKey key, std::string_view name) {
  std::lock_guard<std::mutex> g(lock_);
  std::shared_ptr<Node> node;
  if (long rc = Resolve(key, RegKeySetValue, node)) return rc;
  return node->values.erase(std::string(name)) ? RegOk : RegNotFound;
}

std::size_t MemoryRegistryBackend::OpenHandleCount() {
  std::lock_guard<std::mutex> g(lock_);
  return handles_.size();
}

void SetRegistryBackend(RegistryBackend* backend) {
  g_backend.store(backend);
}
RegistryBackend* GetRegistryBackend() {
  return g_backend.load();
}

// --- TRegistry ---------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TRegistry)

TRegistry::TRegistry(std::uint32_t access, RegistryBackend* backend)
    : Access(access), backend_(backend ? backend : GetRegistryBackend()) {
  if (!backend_) throw ERegistryException("No registry is available");
}

void TRegistry::Destroy() {
  CloseKey();
  inherited::Destroy();
}

void TRegistry::SetRootKey(RegKey root) {
  if (root == rootKey_) return;
  CloseKey();
  rootKey_ = root;
}

void TRegistry::CloseKey() {
  if (currentKey_) backend_->CloseKey(currentKey_);
  currentKey_ = 0;
  currentPath_.clear();
}

bool TRegistry::OpenWith(std::string_view key, std::uint32_t access, bool canCreate) {
  const bool relative = key.empty() || key.front() != '\\';
  if (!relative) key.remove_prefix(1);
  const RegKey base = (relative && currentKey_) ? currentKey_ : rootKey_;
  RegKey opened = 0;
  if (backend_->OpenKey(base, key, access, canCreate && !key.empty(), opened) != RegOk) return false;
  std::string path = (relative && currentKey_) ? JoinPath(currentPath_, key) : std::string(key);
  CloseKey();
  currentKey_ = opened;
  currentPath_ = std::move(path);
  return true;
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate) {
  return OpenWith(key, Access, canCreate);
}

bool TRegistry::OpenKeyReadOnly(std::string_view key) {
  return OpenWith(key, RegKeyRead, false);
}

bool TRegistry::CreateKey(std::string_view key) {
  const bool relative = key.empty() || key.front() != '\\';
  if (!relative) key.remove_prefix(1);
  RegKey k = 0;
  if (backend_->OpenKey((relative && currentKey_) ? currentKey_ : rootKey_, key, Access, true, k) != RegOk)
    throw ERegistryException(Format("Failed to create key %s", std::string(key)));
  backend_->CloseKey(k);
  return true;
}

long TRegistry::DeleteTree(RegKey parent, const std::string& subKey) {
  RegKey k = 0;
  if (long rc = backend_->OpenKey(parent, subKey, RegKeyAllAccess, false, k)) return rc;
  std::vector<std::string> names;
  backend_->EnumKeys(k, names);
  for (const std::string& n : names) DeleteTree(k, n);
  backend_->CloseKey(k);
  return backend_->DeleteKey(parent, subKey);
}

bool TRegistry::DeleteKey(std::string_view key) {
  const bool relative = key.empty() || key.front() != '\\';
  if (!relative) key.remove_prefix(1);
  if (key.empty()) return false;
  return DeleteTree((relative && currentKey_) ? currentKey_ : rootKey_, std::string(key)) == RegOk;
}

bool TRegistry::KeyExists(std::string_view key) {
  const bool relative = key.empty() || key.front() != '\\';
  if (!relative) key.remove_prefix(1);
  RegKey k = 0;
  if (backend_->OpenKey((relative && currentKey_) ? currentKey_ : rootKey_, key, RegKeyRead, false, k) != RegOk)
    return false;
  backend_->CloseKey(k);
  return true;
}

bool TRegistry::HasSubKeys() {
  std::vector<std::string> names;
  return backend_->EnumKeys(currentKey_, names) == RegOk && !names.empty();
}

void TRegistry::GetKeyNames(TStrings* strings) {
  std::vector<std::string> names;
  backend_->EnumKeys(currentKey_, names);
  TUpdateScope update(*strings);
  strings->Clear();
  for (const std::string& n : names) strings->Add(n);
}

void TRegistry::GetValueNames(TStrings* strings) {
  std::vector<std::string> names;
  backend_->EnumValues(currentKey_, names);
  TUpdateScope update(*strings);
  strings->Clear();
  for (const std::string& n : names) strings->Add(n);
}

bool TRegistry::ValueExists(std::string_view name) {
  RegValue v;
  return backend_->QueryValue(currentKey_, name, v) == RegOk;
}

bool TRegistry::DeleteValue(std::string_view name) {
  return backend_->DeleteValue(currentKey_, name) == RegOk;
}

TRegDataType TRegistry::GetDataType(std::string_view name) {
  RegValue v;
  if (backend_->QueryValue(currentKey_, name, v) != RegOk) return rdUnknown;
  switch (v.type) {
    case RegTypeSz:
      return rdString;
    case RegTypeExpandSz:
      return rdExpandString;
    case RegTypeDword:
      return rdInteger;
    case RegTypeBinary:
      return rdBinary;
    default:
      return rdUnknown;
  }
}

std::string TRegistry::ReadString(std::string_view name) {
  RegValue v;
  if (backend_->QueryValue(currentKey_, name, v) != RegOk) return {};
  if (v.type != RegTypeSz && v.type != RegTypeExpandSz)
    throw ERegistryException(Format("Invalid data type for '%s'", std::string(name)));
  return StripZeros(std::move(v.data));
}

int TRegistry::ReadInteger(std::string_view name) {
  RegValue v;
  if (backend_->QueryValue(currentKey_, name, v) != RegOk || v.type != RegTypeDword || v.data.size() != 4)
    throw ERegistryException(Format("Invalid data type for '%s'", std::string(name)));
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(v.data[static_cast<std::size_t>(i)]);
  return static_cast<int>(u);
}

bool TRegistry::ReadBool(std::string_view name) {
  return ReadInteger(name) != 0;
}

void TRegistry::Put(std::string_view name, const RegValue& v) {
  if (backend_->SetValue(currentKey_, name, v) != RegOk)
    throw ERegistryException(Format("Failed to set data for '%s'", std::string(name)));
}

void TRegistry::WriteString(std::string_view name, std::string_view value) {
  Put(name, RegValue{RegTypeSz, StringData(value)});
}

void TRegistry::WriteExpandString(std::string_view name, std::string_view value) {
  Put(name, RegValue{RegTypeExpandSz, StringData(value)});
}

void TRegistry::WriteInteger(std::string_view name, int value) {
  std::uint32_t u = static_cast<std::uint32_t>(value);
  std::string d(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) d[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
  Put(name, RegValue{RegTypeDword, d});
}

void TRegistry::WriteBool(std::string_view name, bool value) {
  WriteInteger(name, value ? 1 : 0);
}

// --- TRegistryIniFile --------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TRegistryIniFile)

TRegistryIniFile::TRegistryIniFile(std::string fileName, std::uint32_t access, RegKey root, RegistryBackend* backend)
    : fileName_(std::move(fileName)) {
  reg_ = New<TRegistry>(access, backend);
  reg_->SetRootKey(root);
  // Without its key every later section would land below the root instead; refuse that.
  const bool canCreate = (access & RegKeyCreateSubKey) != 0;
  if (!reg_->OpenKey(fileName_, canCreate)) {
    FreeAndNil(reg_);
    throw ERegistryException(Format("Failed to create key %s", fileName_));
  }
}

void TRegistryIniFile::Destroy() {
  FreeAndNil(reg_);
  inherited::Destroy();
}

RegKey TRegistryIniFile::OpenSection(std::string_view section, bool create) {
  RegKey k = 0;
  long rc = reg_->Backend().OpenKey(reg_->CurrentKey(), section, create ? reg_->Access : RegKeyRead, create, k);
  if (rc != RegOk) {
    if (create) throw ERegistryException(Format("Failed to create key %s", std::string(section)));
    return 0;
  }
  return k;
}

namespace {
// Closes a section key when it goes out of scope.
struct SectionKey {
  RegistryBackend& backend;
  RegKey key;
  ~SectionKey() {
    if (key) backend.CloseKey(key);
  }
};
}  // namespace

std::string TRegistryIniFile::ReadString(std::string_view section, std::string_view ident, std::string_view fallback) {
  SectionKey s{reg_->Backend(), OpenSection(section, false)};
  RegValue v;
  if (!s.key || s.backend.QueryValue(s.key, ident, v) != RegOk) return std::string(fallback);
  if (v.type != RegTypeSz && v.type != RegTypeExpandSz)
    throw ERegistryException(Format("Invalid data type for '%s'", std::string(ident)));
  return StripZeros(std::move(v.data));
}

int TRegistryIniFile::ReadInteger(std::string_view section, std::string_view ident, int fallback) {
  SectionKey s{reg_->Backend(), OpenSection(section, false)};
  RegValue v;
  if (!s.key || s.backend.QueryValue(s.key, ident, v) != RegOk) return fallback;
  if (v.type == RegTypeDword && v.data.size() == 4) {
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(v.data[static_cast<std::size_t>(i)]);
    return static_cast<int>(u);
  }
  if (v.type != RegTypeSz && v.type != RegTypeExpandSz) return fallback;
  return StrToIntDef(StripZeros(std::move(v.data)), fallback);
}

bool TRegistryIniFile::ReadBool(std::string_view section, std::string_view ident, bool fallback) {
  return ReadInteger(section, ident, fallback ? 1 : 0) != 0;
}

void TRegistryIniFile::WriteString(std::string_view section, std::string_view ident, std::string_view value) {
  SectionKey s{reg_->Backend(), OpenSection(section, true)};
  if (s.backend.SetValue(s.key, ident, RegValue{RegTypeSz, StringData(value)}) != RegOk)
    throw ERegistryException(Format("Failed to set data for '%s'", std::string(ident)));
}

void TRegistryIniFile::WriteInteger(std::string_view section, std::string_view ident, int value) {
  WriteString(section, ident, IntToStr(value));
}

void TRegistryIniFile::WriteBool(std::string_view section, std::string_view ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

void TRegistryIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  RegKey k = 0;
  if (reg_->Backend().OpenKey(reg_->CurrentKey(), section, reg_->Access, false, k) != RegOk) return;
  SectionKey s{reg_->Backend(), k};
  s.backend.DeleteValue(k, ident);
}

void TRegistryIniFile::EraseSection(std::string_view section) {
  if (!section.empty()) reg_->DeleteKey(section);
}

bool TRegistryIniFile::SectionExists(std::string_view section) {
  SectionKey s{reg_->Backend(), OpenSection(section, false)};
  return s.key != 0;
}

bool TRegistryIniFile::ValueExists(std::string_view section, std::string_view ident) {
  SectionKey s{reg_->Backend(), OpenSection(section, false)};
  RegValue v;
  return s.key && s.backend.QueryValue(s.key, ident, v) == RegOk;
}

void TRegistryIniFile::ReadSection(std::string_view section, TStrings* strings) {
  SectionKey s{reg_->Backend(), OpenSection(section, false)};
  std::vector<std::string> names;
  if (s.key) s.backend.EnumValues(s.key, names);
  TUpdateScope update(*strings);
  strings->Clear();
  for (const std::string& n : names) strings->Add(n);
}

void TRegistryIniFile::ReadSections(TStrings* strings) {
  reg_->GetKeyNames(strings);
}

void TRegistryIniFile::ReadSectionValues(std::string_view section, TStrings* strings) {
  SectionKey s{reg_->Backend(), OpenSection(section, false)};
  std::vector<std::string> names;
  if (s.key) s.backend.EnumValues(s.key, names);
  TUpdateScope update(*strings);
  strings->Clear();
  for (const std::string& n : names) {
    RegValue v;
    std::string text;
    if (s.backend.QueryValue(s.key, n, v) == RegOk && (v.type == RegTypeSz || v.type == RegTypeExpandSz))
      text = StripZeros(std::move(v.data));
    strings->Add(n + "=" + text);
  }
}
