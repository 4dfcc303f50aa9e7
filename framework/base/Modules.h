// Modules, their resources and the module list.
//
// A module is a loaded program image (the program itself, a library, or a
// library loaded as a data file) named by its instance handle. Resources are
// reached through a replaceable ResourceSource: the Win32 build reads the
// module's resource section, tests use MemoryResourceSource.
//
// The module list holds one entry per registered module: its instance and the
// module its resources are read from (its resource instance). A language
// library replaces a module's resource instance; nothing caches it, so every
// later string and form lookup reads from the new one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Streams.h"

using ModuleHandle = std::uintptr_t;  // an HINSTANCE/HMODULE value; 0 = none

// Resource types (the values of the RT_* constants).
constexpr std::uint16_t rtCursor = 1;
constexpr std::uint16_t rtBitmap = 2;
constexpr std::uint16_t rtIcon = 3;
constexpr std::uint16_t rtString = 6;
constexpr std::uint16_t rtRcData = 10;
constexpr std::uint16_t rtGroupCursor = 12;
constexpr std::uint16_t rtGroupIcon = 14;
constexpr std::uint16_t rtVersion = 16;

// A resource type or name: a 16-bit id or a string (compared without regard
// to ASCII case, as resource names are).
struct ResourceId {
  bool isId = true;
  std::uint16_t id = 0;
  std::string name;

  ResourceId() = default;
  ResourceId(std::uint16_t i) : isId(true), id(i) {}  // NOLINT: ids convert implicitly
  ResourceId(std::string n) : isId(false), name(std::move(n)) {}
  ResourceId(const char* n) : isId(false), name(n) {}

  std::string ToString() const;  // "#12" for an id, else the name
  friend bool operator==(const ResourceId& a, const ResourceId& b);
  friend bool operator<(const ResourceId& a, const ResourceId& b);  // ids first, names case-insensitively
};

class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  // The bytes of a resource of the module (in any language), or nothing. The
  // bytes stay valid while the module stays loaded; they are untrusted.
  virtual std::optional<std::string_view> Find(ModuleHandle module, const ResourceId& type, const ResourceId& name) = 0;
  // The names of the module's resources of one type.
  virtual std::vector<ResourceId> EnumNames(ModuleHandle module, const ResourceId& type) = 0;
};

// An in-memory resource source: fake modules for tests and for data built at
// run time.
class MemoryResourceSource : public ResourceSource {
 public:
  void Add(ModuleHandle module, const ResourceId& type, const ResourceId& name, std::string bytes);
  void Remove(ModuleHandle module, const ResourceId& type, const ResourceId& name);
  void RemoveModule(ModuleHandle module);

  std::optional<std::string_view> Find(ModuleHandle module, const ResourceId& type, const ResourceId& name) override;
  std::vector<ResourceId> EnumNames(ModuleHandle module, const ResourceId& type) override;

 private:
  std::mutex lock_;
  std::map<ModuleHandle, std::map<ResourceId, std::map<ResourceId, std::string>>> modules_;
};

// The process's resource source (set at start-up by the platform layer).
void SetResourceSource(ResourceSource* source);
ResourceSource* GetResourceSource();

// Finds a resource through the process's resource source; nothing when no
// source is set or the resource is missing.
std::optional<std::string_view> FindResourceData(ModuleHandle module, const ResourceId& type, const ResourceId& name);

// --- The module list -------------------------------------------------------------------------

struct LibModule {
  ModuleHandle instance = 0;
  ModuleHandle resInstance = 0;
};

// The program's own instance (set once at start-up by the platform layer).
void SetMainInstance(ModuleHandle instance);
ModuleHandle MainInstance();

// Adds a module with itself as its resource instance; a module already listed
// is left as it is. The program registers itself in the framework's
// initialization.
void RegisterModule(ModuleHandle instance);
void UnregisterModule(ModuleHandle instance);
void ClearModuleList();

// The resource instance of a listed module; the module itself when it is not
// listed.
ModuleHandle FindResourceHInstance(ModuleHandle instance);
// Sets the resource instance of a listed module and returns the one it
// replaces; returns nothing and changes nothing when the module is not listed.
// (Freeing a replaced library is up to the caller.)
std::optional<ModuleHandle> SetModuleResourceInstance(ModuleHandle instance, ModuleHandle resInstance);

// A copy of the list in registration order (the program first).
std::vector<LibModule> ModuleListSnapshot();
// Calls `fn` for each listed module in order until it returns false.
void EnumModules(const std::function<bool(const LibModule&)>& fn);

// A read-only stream over a resource of a module (the instance is used as
// given; pass FindResourceHInstance(...) to follow a language library).
// Raises EResNotFound "Resource <name> not found" when it is missing.
class TResourceStream : public TReadOnlyMemoryStream {
  FW_CLASS(TResourceStream, TReadOnlyMemoryStream)

 public:
  TResourceStream(ModuleHandle instance, const ResourceId& name, const ResourceId& type);

 private:
  explicit TResourceStream(std::string_view data);
  static std::string_view Locate(ModuleHandle instance, const ResourceId& name, const ResourceId& type);
};
