#include "SerialPorts.h"

#include <atomic>
#include <exception>
#include <memory>
#include <vector>

#include "NokiaUtils.h"
#include "Registry.h"
#include "Strings.h"
#include "SysUtils.h"

namespace {

// Set once SetPlatformId has named a line, 0 (unknown) included.
std::atomic<bool> g_platformSet{false};

constexpr std::string_view kSerialPortMap = "hardware\\devicemap\\serialcomm";
constexpr std::string_view kEnum9x = "Enum";
constexpr std::string_view kEnumNT = "System\\CurrentControlSet\\Enum";
// Device trees are a few levels deep; the cap only guards against a looping tree.
constexpr int kMaxDepth = 32;

struct FreeObjectDeleter {
  void operator()(TObject* obj) const { FreeObject(obj); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeObjectDeleter>;

// A string value of the current key; empty when it is missing or not a string.
std::string ReadText(TRegistry& reg, std::string_view name) {
  const TRegDataType type = reg.GetDataType(name);
  if (type != rdString && type != rdExpandString) return {};
  return reg.ReadString(name);
}

std::string Search(TRegistry& reg, const std::string& keyPath, std::string_view portName, bool nt, int depth) {
  if (depth > kMaxDepth || !reg.OpenKeyReadOnly("\\" + keyPath)) return {};
  std::vector<std::string> subKeys;
  reg.Backend().EnumKeys(reg.CurrentKey(), subKeys);
  std::string result = ReadText(reg, "FriendlyName");
  if (!result.empty()) {
    bool confirmed = false;
    if (!nt)
      confirmed = ReadText(reg, "PortName") == portName;
    else if (reg.OpenKeyReadOnly("\\" + keyPath + "\\Device Parameters"))
      confirmed = ReadText(reg, "PortName") == portName;
    if (!confirmed) result.clear();
  }
  reg.CloseKey();
  if (!result.empty()) return result;
  for (const std::string& sub : subKeys) {
    result = Search(reg, keyPath + "\\" + sub, portName, nt, depth + 1);
    if (!result.empty()) return result;
  }
  return {};
}

std::string FriendlyNameSearch(std::string_view keyPath, std::string_view portName, RegistryBackend* backend) {
  try {
    Owned<TRegistry> reg(New<TRegistry>(RegKeyRead, backend));
    reg->SetRootKey(RegLocalMachine);
    return Search(*reg, std::string(keyPath), portName, GetPlatformId() != PlatformWin9x, 0);
  } catch (const std::exception&) {
    return {};
  }
}

using LineTrim = std::string (*)(std::string_view);

TStringList* BuildPortList(RegistryBackend* backend, LineTrim trim) {
  Owned<TStringList> result(New<TStringList>());
  try {
    Owned<TStringList> work(New<TStringList>());
    work->SetSorted(true);
    work->Duplicates = dupIgnore;

    Owned<TRegistry> reg(New<TRegistry>(RegKeyRead, backend));
    reg->SetRootKey(RegLocalMachine);
    // The map is only read: a read-only open works for every user.
    if (reg->OpenKeyReadOnly(kSerialPortMap)) {
      std::vector<std::string> names;
      reg->Backend().EnumValues(reg->CurrentKey(), names);
      std::vector<std::string> ports;
      for (const std::string& name : names) {
        if (name.find("NokiaSuite") != std::string::npos) continue;
        // A value of another type names no port; it does not spoil the others.
        const TRegDataType type = reg->GetDataType(name);
        if (type != rdString && type != rdExpandString) continue;
        const std::string data = reg->ReadString(name);
        ports.push_back(data.size() > 3 ? data.substr(3, 3) : std::string());
      }
      reg->CloseKey();

      const std::string_view tree = GetPlatformId() == PlatformWin9x ? kEnum9x : kEnumNT;
      for (const std::string& n : ports) {
        if (n.empty()) continue;
        std::string line = n + "=" + FriendlyNameSearch(tree, "COM" + n, backend);
        // Blanks in front line the "=" up as the fourth character, so that
        // numbers of one to three digits sort in numeric order.
        for (std::size_t pad = n.size(); pad < 3 && (line.size() < 4 || line[3] != '='); ++pad) line.insert(0, 1, ' ');
        work->Add(line);
      }
    }

    for (int i = 0; i < work->Count(); ++i) result->Add(trim(work->Strings(i)));
  } catch (const std::exception&) {
    // An unreadable registry leaves the list as far as it was filled.
  }
  return result.release();
}

std::string TrimSpacesOnly(std::string_view s) {
  return TrimSpaces(s);
}
std::string TrimControls(std::string_view s) {
  return Trim(s);
}

}  // namespace

int GetPlatformId() {
  return g_platformSet.load() || Win32Platform != 0 ? Win32Platform : PlatformNT;
}
void SetPlatformId(int id) {
  Win32Platform = id;
  g_platformSet.store(true);
}

TStringList* ListSerialPorts(RegistryBackend* backend) {
  return BuildPortList(backend, TrimSpacesOnly);
}
TStringList* EnumSerialPorts(RegistryBackend* backend) {
  return BuildPortList(backend, TrimControls);
}

std::string FindPortFriendlyName(std::string_view keyPath, std::string_view portName, RegistryBackend* backend) {
  return FriendlyNameSearch(keyPath, portName, backend);
}

std::string SearchPortFriendlyName(std::string_view keyPath, std::string_view portName, RegistryBackend* backend) {
  return FriendlyNameSearch(keyPath, portName, backend);
}
