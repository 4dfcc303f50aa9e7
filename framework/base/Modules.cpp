#include "Modules.h"

#include <algorithm>
#include <atomic>

#include "SysUtils.h"

namespace {

int CompareNoCase(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::atomic<ResourceSource*> g_source{nullptr};
std::atomic<ModuleHandle> g_mainInstance{0};

std::mutex& ModuleLock() {
  static std::mutex lock;  // trivially constructed on first use; does no work
  return lock;
}
std::vector<LibModule>* g_modules = nullptr;  // created on first registration

}  // namespace

std::string ResourceId::ToString() const {
  if (!isId) return name;
  std::string s(1, '#');
  s += std::to_string(id);
  return s;
}

bool operator==(const ResourceId& a, const ResourceId& b) {
  if (a.isId != b.isId) return false;
  return a.isId ? a.id == b.id : CompareNoCase(a.name, b.name) == 0;
}

bool operator<(const ResourceId& a, const ResourceId& b) {
  if (a.isId != b.isId) return a.isId;
  return a.isId ? a.id < b.id : CompareNoCase(a.name, b.name) < 0;
}

void MemoryResourceSource::Add(ModuleHandle module, const ResourceId& type, const ResourceId& name, std::string bytes) {
  std::lock_guard<std::mutex> g(lock_);
  modules_[module][type][name] = std::move(bytes);
}

void MemoryResourceSource::Remove(ModuleHandle module, const ResourceId& type, const ResourceId& name) {
  std::lock_guard<std::mutex> g(lock_);
  auto m = modules_.find(module);
  if (m == modules_.end()) return;
  auto t = m->second.find(type);
  if (t == m->second.end()) return;
  t->second.erase(name);
}

void MemoryResourceSource::RemoveModule(ModuleHandle module) {
  std::lock_guard<std::mutex> g(lock_);
  modules_.erase(module);
}

std::optional<std::string_view> MemoryResourceSource::Find(ModuleHandle module, const ResourceId& type,
                                                           const ResourceId& name) {
  std::lock_guard<std::mutex> g(lock_);
  auto m = modules_.find(module);
  if (m == modules_.end()) return std::nullopt;
  auto t = m->second.find(type);
  if (t == m->second.end()) return std::nullopt;
  auto r = t->second.find(name);
  if (r == t->second.end()) return std::nullopt;
  return std::string_view(r->second);
}

std::vector<ResourceId> MemoryResourceSource::EnumNames(ModuleHandle module, const ResourceId& type) {
  std::lock_guard<std::mutex> g(lock_);
  std::vector<ResourceId> out;
  auto m = modules_.find(module);
  if (m == modules_.end()) return out;
  auto t = m->second.find(type);
  if (t == m->second.end()) return out;
  for (const auto& kv : t->second) out.push_back(kv.first);
  return out;
}

void SetResourceSource(ResourceSource* source) {
  g_source.store(source);
}
ResourceSource* GetResourceSource() {
  return g_source.load();
}

std::optional<std::string_view> FindResourceData(ModuleHandle module, const ResourceId& type, const ResourceId& name) {
  ResourceSource* s = g_source.load();
  if (!s) return std::nullopt;
  return s->Find(module, type, name);
}

void SetMainInstance(ModuleHandle instance) {
  g_mainInstance.store(instance);
}
ModuleHandle MainInstance() {
  return g_mainInstance.load();
}

void RegisterModule(ModuleHandle instance) {
  std::lock_guard<std::mutex> g(ModuleLock());
  if (!g_modules) g_modules = new std::vector<LibModule>();
  for (const LibModule& m : *g_modules)
    if (m.instance == instance) return;
  g_modules->push_back({instance, instance});
}

void UnregisterModule(ModuleHandle instance) {
  std::lock_guard<std::mutex> g(ModuleLock());
  if (!g_modules) return;
  std::erase_if(*g_modules, [&](const LibModule& m) { return m.instance == instance; });
}

void ClearModuleList() {
  std::lock_guard<std::mutex> g(ModuleLock());
  delete g_modules;
  g_modules = nullptr;
}

ModuleHandle FindResourceHInstance(ModuleHandle instance) {
  std::lock_guard<std::mutex> g(ModuleLock());
  if (g_modules)
    for (const LibModule& m : *g_modules)
      if (m.instance == instance) return m.resInstance;
  return instance;
}

std::optional<ModuleHandle> SetModuleResourceInstance(ModuleHandle instance, ModuleHandle resInstance) {
  std::lock_guard<std::mutex> g(ModuleLock());
  if (g_modules)
    for (LibModule& m : *g_modules)
      if (m.instance == instance) {
        ModuleHandle old = m.resInstance;
        m.resInstance = resInstance;
        return old;
      }
  return std::nullopt;
}

std::vector<LibModule> ModuleListSnapshot() {
  std::lock_guard<std::mutex> g(ModuleLock());
  return g_modules ? *g_modules : std::vector<LibModule>();
}

void EnumModules(const std::function<bool(const LibModule&)>& fn) {
  // Walk a copy, so the callback may change the list.
  for (const LibModule& m : ModuleListSnapshot())
    if (!fn(m)) return;
}

FW_IMPLEMENT_CLASS(TResourceStream)

TResourceStream::TResourceStream(ModuleHandle instance, const ResourceId& name, const ResourceId& type)
    : TResourceStream(Locate(instance, name, type)) {}

TResourceStream::TResourceStream(std::string_view data) : TReadOnlyMemoryStream(data.data(), data.size()) {}

std::string_view TResourceStream::Locate(ModuleHandle instance, const ResourceId& name, const ResourceId& type) {
  std::optional<std::string_view> data = FindResourceData(instance, type, name);
  if (!data) throw EResNotFound(Format("Resource %s not found", name.ToString()));
  return *data;
}
