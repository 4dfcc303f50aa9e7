#include "Win32Registry.h"

#include <string>

namespace {

HKEY ToHkey(RegKey key) {
  // The predefined roots are 32-bit negative numbers that the system sign-extends.
  if (key >= 0x80000000u && key <= 0x800000FFu)
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(static_cast<DWORD>(key))));
  return reinterpret_cast<HKEY>(key);
}

RegKey FromHkey(HKEY key) {
  return reinterpret_cast<RegKey>(key);
}

Win32RegistryBackend* g_backend = nullptr;

}  // namespace

long Win32RegistryBackend::OpenKey(RegKey parent, std::string_view subKey, std::uint32_t access, bool create,
                                   RegKey& out) {
  out = 0;
  std::string path(subKey);
  HKEY key = nullptr;
  LONG r;
  if (create)
    r = RegCreateKeyExA(ToHkey(parent), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                        nullptr);
  else
    r = RegOpenKeyExA(ToHkey(parent), path.c_str(), 0, access, &key);
  if (r == ERROR_SUCCESS) out = FromHkey(key);
  return r;
}

void Win32RegistryBackend::CloseKey(RegKey key) {
  if (key) RegCloseKey(ToHkey(key));
}

long Win32RegistryBackend::DeleteKey(RegKey parent, std::string_view subKey) {
  std::string path(subKey);
  return RegDeleteKeyA(ToHkey(parent), path.c_str());
}

long Win32RegistryBackend::EnumKeys(RegKey key, std::vector<std::string>& names) {
  names.clear();
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    LONG r = RegEnumKeyExA(ToHkey(key), i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    names.emplace_back(name, len);
  }
}

long Win32RegistryBackend::EnumValues(RegKey key, std::vector<std::string>& names) {
  names.clear();
  std::string name(16384, '\0');
  for (DWORD i = 0;; ++i) {
    DWORD len = static_cast<DWORD>(name.size());
    LONG r = RegEnumValueA(ToHkey(key), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    names.emplace_back(name.data(), len);
  }
}

long Win32RegistryBackend::QueryValue(RegKey key, std::string_view name, RegValue& out) {
  std::string n(name);
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExA(ToHkey(key), n.c_str(), nullptr, &type, nullptr, &size);
    if (r != ERROR_SUCCESS) return r;
    std::string data(size, '\0');
    DWORD got = size;
    r = RegQueryValueExA(ToHkey(key), n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
    if (r == ERROR_MORE_DATA) continue;  // the value grew in between
    if (r != ERROR_SUCCESS) return r;
    data.resize(got < size ? got : size);
    out.type = type;
    out.data = std::move(data);
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

long Win32RegistryBackend::SetValue(RegKey key, std::string_view name, const RegValue& value) {
  std::string n(name);
  if (value.data.size() > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
  return RegSetValueExA(ToHkey(key), n.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                        static_cast<DWORD>(value.data.size()));
}

long Win32RegistryBackend::DeleteValue(RegKey key, std::string_view name) {
  std::string n(name);
  return RegDeleteValueA(ToHkey(key), n.c_str());
}

void InstallWin32RegistryBackend(bool install) {
  if (install) {
    if (!g_backend) g_backend = new Win32RegistryBackend;
    SetRegistryBackend(g_backend);
  } else if (GetRegistryBackend() == g_backend) {
    SetRegistryBackend(nullptr);
  }
}
