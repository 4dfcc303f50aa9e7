// Registry access: TRegistry and the registry INI wrapper TRegistryIniFile,
// over a RegistryBackend (advapi32 on Windows, MemoryRegistryBackend in tests).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Object.h"

class TStrings;

using RegKey = std::uintptr_t;  // an open key; 0 = none

// Predefined root keys (the values of the HKEY_* constants).
constexpr RegKey RegClassesRoot = 0x80000000u;
constexpr RegKey RegCurrentUser = 0x80000001u;
constexpr RegKey RegLocalMachine = 0x80000002u;
constexpr RegKey RegUsers = 0x80000003u;
constexpr RegKey RegCurrentConfig = 0x80000005u;

// Access masks.
constexpr std::uint32_t RegKeyQueryValue = 0x0001, RegKeySetValue = 0x0002, RegKeyCreateSubKey = 0x0004,
                        RegKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t RegKeyRead = 0x20019;
constexpr std::uint32_t RegKeyWrite = 0x20006;
constexpr std::uint32_t RegKeyAllAccess = 0xF003F;

// Value types (REG_* numbers).
constexpr std::uint32_t RegTypeNone = 0, RegTypeSz = 1, RegTypeExpandSz = 2, RegTypeBinary = 3, RegTypeDword = 4;

// Result codes (the system's error numbers).
constexpr long RegOk = 0, RegNotFound = 2, RegAccessDenied = 5, RegInvalidHandle = 6, RegKeyDeleted = 1018;

struct RegValue {
  std::uint32_t type = RegTypeNone;
  std::string data;  // raw bytes; strings are ANSI with their terminating zero
};

class RegistryBackend {
 public:
  virtual ~RegistryBackend() = default;
  // Opens (or with `create`, creates) `subKey` below `parent`; path parts are
  // separated by "\". An empty subKey opens `parent` again.
  virtual long OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create, RegKey& out) = 0;
  virtual void CloseKey(RegKey key) = 0;
  // Deletes a key that has no subkeys.
  virtual long DeleteKey(RegKey parent, std::string_view subKey) = 0;
  virtual long EnumKeys(RegKey key, std::vector<std::string>& names) = 0;
  virtual long EnumValues(RegKey key, std::vector<std::string>& names) = 0;
  virtual long QueryValue(RegKey key, std::string_view name, RegValue& out) = 0;
  virtual long SetValue(RegKey key, std::string_view name, const RegValue& value) = 0;
  virtual long DeleteValue(RegKey key, std::string_view name) = 0;
};

// A registry in memory: names compare without regard to case; access masks
// are enforced (a key opened for reading refuses writes).
class MemoryRegistryBackend : public RegistryBackend {
 public:
  long OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create, RegKey& out) override;
  void CloseKey(RegKey key) override;
  long DeleteKey(RegKey parent, std::string_view subKey) override;
  long EnumKeys(RegKey key, std::vector<std::string>& names) override;
  long EnumValues(RegKey key, std::vector<std::string>& names) override;
  long QueryValue(RegKey key, std::string_view name, RegValue& out) override;
  long SetValue(RegKey key, std::string_view name, const RegValue& value) override;
  long DeleteValue(RegKey key, std::string_view name) override;

  std::size_t OpenHandleCount();

 private:
  struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  struct Node {
    std::map<std::string, std::shared_ptr<Node>, NoCase> keys;
    std::map<std::string, RegValue, NoCase> values;
    bool deleted = false;
  };
  struct Handle {
    std::shared_ptr<Node> node;
    std::uint32_t access;
  };
  long Resolve(RegKey key, std::uint32_t need, std::shared_ptr<Node>& node);

  std::mutex lock_;
  std::map<RegKey, std::shared_ptr<Node>> roots_;
  std::map<RegKey, Handle> handles_;
  RegKey next_ = 0x1000;
};

// The process's registry backend (set at start-up by the platform layer).
void SetRegistryBackend(RegistryBackend* backend);
RegistryBackend* GetRegistryBackend();

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TRegistry : public TObject {
  FW_CLASS(TRegistry, TObject)

 public:
  // Raises ERegistryException when no backend is given or set.
  explicit TRegistry(std::uint32_t access = RegKeyAllAccess, RegistryBackend* backend = nullptr);
  void Destroy() override;

  RegKey RootKey() const { return rootKey_; }
  void SetRootKey(RegKey root);  // closes the current key
  RegKey CurrentKey() const { return currentKey_; }
  const std::string& CurrentPath() const { return currentPath_; }
  std::uint32_t Access = RegKeyAllAccess;
  RegistryBackend& Backend() const { return *backend_; }

  // A path starting with "\" is taken from the root key, any other from the
  // current key (or the root when none is open). On success the opened key
  // becomes the current key.
  bool OpenKey(std::string_view key, bool canCreate);
  bool OpenKeyReadOnly(std::string_view key);
  void CloseKey();
  bool CreateKey(std::string_view key);
  bool DeleteKey(std::string_view key);  // with its subkeys
  bool KeyExists(std::string_view key);
  bool HasSubKeys();
  void GetKeyNames(TStrings* strings);
  void GetValueNames(TStrings* strings);
  bool ValueExists(std::string_view name);
  bool DeleteValue(std::string_view name);
  TRegDataType GetDataType(std::string_view name);

  // A missing value reads as empty; a value that is not a string raises
  // ERegistryException "Invalid data type for '<name>'".
  std::string ReadString(std::string_view name);
  // These raise ERegistryException when the value is missing or not a DWORD.
  int ReadInteger(std::string_view name);
  bool ReadBool(std::string_view name);
  // Writes raise ERegistryException "Failed to set data for '<name>'".
  void WriteString(std::string_view name, std::string_view value);
  void WriteExpandString(std::string_view name, std::string_view value);
  void WriteInteger(std::string_view name, int value);
  void WriteBool(std::string_view name, bool value);

 private:
  bool OpenWith(std::string_view key, std::uint32_t access, bool canCreate);
  void Put(std::string_view name, const RegValue& v);
  long DeleteTree(RegKey parent, const std::string& subKey);

  RegistryBackend* backend_;
  RegKey rootKey_ = RegCurrentUser;
  RegKey currentKey_ = 0;
  std::string currentPath_;
};

// An INI-file view of a registry key: sections are its subkeys, identifiers
// their values. Every value is written as a string (integers as decimal text,
// Booleans as "0"/"1"); a section is created when missing before each write.
class TRegistryIniFile : public TObject {
  FW_CLASS(TRegistryIniFile, TObject)

 public:
  // Opens `fileName` (a key path below `root`), creating it; raises
  // ERegistryException "Failed to create key <path>" when that fails.
  TRegistryIniFile(std::string fileName, std::uint32_t access = RegKeyAllAccess, RegKey root = RegCurrentUser,
                   RegistryBackend* backend = nullptr);
  void Destroy() override;

  const std::string& FileName() const { return fileName_; }
  TRegistry* RegIniFile() const { return reg_; }

  std::string ReadString(std::string_view section, std::string_view ident, std::string_view fallback);
  int ReadInteger(std::string_view section, std::string_view ident, int fallback);
  bool ReadBool(std::string_view section, std::string_view ident, bool fallback);
  void WriteString(std::string_view section, std::string_view ident, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view ident, int value);
  void WriteBool(std::string_view section, std::string_view ident, bool value);

  // Nothing happens when the section key or the value does not exist.
  void DeleteKey(std::string_view section, std::string_view ident);
  void EraseSection(std::string_view section);
  bool SectionExists(std::string_view section);
  bool ValueExists(std::string_view section, std::string_view ident);
  void ReadSection(std::string_view section, TStrings* strings);        // the value names
  void ReadSections(TStrings* strings);                                 // the subkey names
  void ReadSectionValues(std::string_view section, TStrings* strings);  // name=value lines

 private:
  // Opens the section's key (0 when it does not exist and `create` is false).
  RegKey OpenSection(std::string_view section, bool create);

  std::string fileName_;
  TRegistry* reg_ = nullptr;
};
