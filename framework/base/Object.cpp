#include "Object.h"

#include <algorithm>
#include <mutex>

#include "MemoryManager.h"
#include "SysUtils.h"

bool ClassInfo::InheritsFrom(const ClassInfo& other) const {
  for (const ClassInfo* c = this; c; c = c->parent)
    if (c == &other) return true;
  return false;
}

const FieldEntry* ClassInfo::FindField(std::string_view fieldName) const {
  for (const ClassInfo* c = this; c; c = c->parent)
    for (const FieldEntry& f : c->fields)
      if (SameText(f.name, fieldName)) return &f;
  return nullptr;
}

const MethodEntry* ClassInfo::FindMethod(std::string_view methodName) const {
  for (const ClassInfo* c = this; c; c = c->parent)
    for (const MethodEntry& m : c->methods)
      if (SameText(m.name, methodName)) return &m;
  return nullptr;
}

std::string ClassInfo::MethodName(const MethodRef& m, const TObject* root) const {
  if (!m || !root || m.data != static_cast<const void*>(root)) return {};
  for (const ClassInfo* c = this; c; c = c->parent)
    for (const MethodEntry& e : c->methods)
      if (e.bind(const_cast<TObject*>(root)) == m) return e.name;
  return {};
}

void* TObject::operator new(std::size_t size, const ClassInfo& cls) {
  return fw_detail::AllocateInstanceBlock(size, &cls);
}

void TObject::operator delete(void* block, const ClassInfo&) noexcept {
  ::operator delete(block);
}

void TObject::Free() {
  BeforeDestruction();
  Destroy();
  delete this;
}

const ClassInfo& TObject::StaticClass() {
  static const ClassInfo info = [] {
    ClassInfo c;
    c.name = "TObject";
    c.family = ClassInfo::Family::Plain;
    c.create = [](TObject*) { return New<TObject>(); };
    return c;
  }();
  return info;
}

bool TObject::ClassNameIs(std::string_view name) const {
  return SameText(ClassName(), name);
}

MethodRef TObject::MethodAddress(std::string_view name) {
  const MethodEntry* e = ClassType().FindMethod(name);
  return e ? e->bind(this) : MethodRef{};
}

namespace {

struct Registry {
  std::mutex lock;
  std::vector<const ClassInfo*> classes;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

}  // namespace

void RegisterClass(const ClassInfo& cls) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  for (const ClassInfo* c : r.classes)
    if (c == &cls) return;
  r.classes.push_back(&cls);
}

void RegisterClasses(std::initializer_list<const ClassInfo*> classes) {
  for (const ClassInfo* c : classes)
    if (c) RegisterClass(*c);
}

void UnRegisterClass(const ClassInfo& cls) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  r.classes.erase(std::remove(r.classes.begin(), r.classes.end(), &cls), r.classes.end());
}

const ClassInfo* GetClass(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.lock);
  // the latest registration of a name wins
  for (auto it = r.classes.rbegin(); it != r.classes.rend(); ++it)
    if (SameText((*it)->name, name)) return *it;
  return nullptr;
}

const ClassInfo& FindClass(std::string_view name) {
  const ClassInfo* c = GetClass(name);
  if (!c) throw EClassNotFound("Class " + std::string(name) + " not found");
  return *c;
}
