#include "EProbesWin.h"

#include <iphlpapi.h>
#include <winspool.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ECore.h"
#include "ECoreWin.h"
#include "EReportBuilder.h"
#include "ESystemWin.h"
#include "SysUtils.h"

namespace {

// A DWORD registry value, read only when it is exactly 4 bytes long.
bool ReadRegistryDword(HKEY root, const std::string& subKey, const std::string& name, std::uint32_t& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, data = 0, size = sizeof data;
  const LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || size != 4) return false;
  value = data;
  return true;
}

bool IsVistaOrLater() {
  const TOsVersionFacts os = GetOsVersionFacts();
  return os.Platform == 2 && os.Major >= 6;
}

template <class F>
F LookUp(HMODULE module, const char* name) {
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The product version of a file, as its version resource gives it.
std::string FileVersionText(const std::string& file) {
  std::string description, version;
  if (!file.empty()) ReadVersionInfo(file, description, version);
  return version;
}

}  // namespace

std::vector<std::string> ReadCompanyCandidates() {
  return {
      ReadRegistryText(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION",
                       "RegisteredOrganization"),
      ReadRegistryText(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION", "RegisteredOrganization"),
      ReadRegistryText(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\MICROSOFT\\MS SETUP (ACME)\\USER INFO", "DefCompany")};
}

std::vector<TPrivilegeRaw> ReadProcessPrivileges() {
  std::vector<TPrivilegeRaw> result;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return result;
  DWORD size = 0;
  GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
  if (size >= sizeof(DWORD) && size < (1u << 20)) {
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
    if (GetTokenInformation(token, TokenPrivileges, buffer.get(), size, &size)) {
      const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.get());
      const std::size_t fits = (size - offsetof(TOKEN_PRIVILEGES, Privileges)) / sizeof(LUID_AND_ATTRIBUTES);
      for (DWORD i = 0; i < list->PrivilegeCount && i < fits; ++i) {
        LUID luid = list->Privileges[i].Luid;
        char name[256] = {};
        DWORD length = sizeof name;
        if (!LookupPrivilegeNameA(nullptr, &luid, name, &length)) continue;
        result.push_back(
            {std::string(name, length < sizeof name ? length : sizeof name - 1), list->Privileges[i].Attributes});
      }
    }
  }
  CloseHandle(token);
  return result;
}

std::string ReadProcessorText() {
  const std::string key = "\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
  return FormatProcessor(ReadRegistryText(HKEY_LOCAL_MACHINE, key, "ProcessorNameString"),
                         ReadRegistryText(HKEY_LOCAL_MACHINE, key, "VendorIdentifier"),
                         ReadRegistryText(HKEY_LOCAL_MACHINE, key, "Identifier"));
}

namespace {
// The name of a key's first sub-key, or empty.
std::string FirstSubKey(HKEY root, const std::string& subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  char name[256] = {};
  DWORD length = sizeof name;
  const LONG rc = RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? std::string(name, length < sizeof name ? length : sizeof name - 1) : std::string();
}

// The name of a key's last sub-key, or `none`.
std::string LastSubKey(HKEY root, const std::string& subKey, const std::string& none) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return none;
  DWORD count = 0;
  std::string result = none;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr) == ERROR_SUCCESS &&
      count > 0) {
    char name[256] = {};
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, count - 1, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      result.assign(name, length < sizeof name ? length : sizeof name - 1);
  }
  RegCloseKey(key);
  return result;
}

// A display device's key as a path under HKEY_LOCAL_MACHINE (a leading
// "\Registry\Machine\" dropped).
std::string Win9xDeviceKey(const char* deviceKey) {
  std::string key(deviceKey ? deviceKey : "");
  const std::string prefix = "\\REGISTRY\\MACHINE\\";
  if (UpperCase(key).compare(0, prefix.size(), prefix) == 0) key.erase(0, prefix.size());
  while (!key.empty() && key.front() == '\\') key.erase(0, 1);
  return key;
}

// The memory named by the video device map's first device.
std::uint32_t DeviceMapVideoMemory(std::string* adapter) {
  std::string mapped = ReadRegistryText(HKEY_LOCAL_MACHINE, "Hardware\\Devicemap\\Video", "\\Device\\Video0");
  const std::size_t system = UpperCase(mapped).find("\\SYSTEM");
  std::uint32_t memory = 0;
  if (system == std::string::npos) return 0;
  mapped = mapped.substr(system + 1);
  ReadRegistryDword(HKEY_LOCAL_MACHINE, mapped, "HardwareInformation.MemorySize", memory);
  if (adapter && adapter->empty())
    *adapter = ReadRegistryText(HKEY_LOCAL_MACHINE, mapped, "HardwareInformation.AdapterString");
  return memory;
}
}  // namespace

std::string ReadVideoCardText() {
  std::string adapter, version;
  std::uint32_t memory = 0;
  using EnumDisplayDevicesFn = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
  const auto enumDevices = LookUp<EnumDisplayDevicesFn>(GetModuleHandleA("user32.dll"), "EnumDisplayDevicesA");
  const TOsVersionFacts os = GetOsVersionFacts();
  const bool supported = os.Platform == 2 ? os.Major >= 5 : os.Platform == 1 ? os.Minor > 9 : true;
  DISPLAY_DEVICEA device{};
  device.cb = sizeof device;
  if (enumDevices && supported && enumDevices(nullptr, 0, &device, 0) && os.Platform == 1) {
    // The 9x line: the device's own key holds the driver version and, under
    // INFO, the memory.
    adapter = device.DeviceString;
    const std::string key = Win9xDeviceKey(device.DeviceKey);
    version = ReadRegistryText(HKEY_LOCAL_MACHINE, key, "Ver");
    ReadRegistryDword(HKEY_LOCAL_MACHINE, key + "\\INFO", "VideoMemory", memory);
  } else if (enumDevices && supported && enumDevices(nullptr, 0, &device, 0)) {
    adapter = device.DeviceString;
    // The device's key under Enum (completed with its first instance) names
    // its video key (the memory) and its driver's class key (the version).
    std::string key = std::string("System\\CurrentControlSet\\Enum\\") + device.DeviceID;
    const std::string instance = FirstSubKey(HKEY_LOCAL_MACHINE, key);
    if (!instance.empty()) key += "\\" + instance;
    const std::string videoId = ReadRegistryText(HKEY_LOCAL_MACHINE, key + "\\Device Parameters", "VideoID");
    if (!videoId.empty())
      ReadRegistryDword(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Video\\" + videoId + "\\0000",
                        "HardwareInformation.MemorySize", memory);
    else
      memory = DeviceMapVideoMemory(nullptr);
    const std::string driver = ReadRegistryText(HKEY_LOCAL_MACHINE, key, "Driver");
    if (!driver.empty())
      version =
          ReadRegistryText(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Class\\" + driver, "DriverVersion");
  } else if (os.Platform == 1) {
    // The 9x line without the device calls: the display class's last adapter.
    const std::string key =
        "System\\CurrentControlSet\\Services\\Class\\Display\\" +
        LastSubKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\Display", "0000");
    adapter = ReadRegistryText(HKEY_LOCAL_MACHINE, key, "DriverDesc");
    version = ReadRegistryText(HKEY_LOCAL_MACHINE, key, "Ver");
    ReadRegistryDword(HKEY_LOCAL_MACHINE, key + "\\INFO", "VideoMemory", memory);
  } else {
    memory = DeviceMapVideoMemory(&adapter);
  }
  adapter.erase(std::remove(adapter.begin(), adapter.end(), '\0'), adapter.end());
  if (Trim(adapter).empty()) return {};
  return FormatVideoCard(adapter, version, memory);
}

std::string ReadPrinterText() {
  HMODULE spool = LoadLibraryA("winspool.drv");
  if (!spool) return {};
  using GetDefaultPrinterFn = BOOL(WINAPI*)(LPSTR, LPDWORD);
  using OpenPrinterFn = BOOL(WINAPI*)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
  using GetPrinterDriverFn = BOOL(WINAPI*)(HANDLE, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD);
  using ClosePrinterFn = BOOL(WINAPI*)(HANDLE);
  const auto getDefault = LookUp<GetDefaultPrinterFn>(spool, "GetDefaultPrinterA");
  const auto open = LookUp<OpenPrinterFn>(spool, "OpenPrinterA");
  const auto getDriver = LookUp<GetPrinterDriverFn>(spool, "GetPrinterDriverA");
  const auto close = LookUp<ClosePrinterFn>(spool, "ClosePrinter");
  std::string text;
  char name[512] = {};
  DWORD length = sizeof name;
  // The 9x line and NT 4 keep the default printer in the profile: "name,driver,port".
  const TOsVersionFacts os = GetOsVersionFacts();
  bool named = false;
  if (os.Platform == 1 || (os.Platform == 2 && os.Major == 4)) {
    char device[512] = {};
    GetProfileStringA("windows", "device", "", device, sizeof device);
    const std::string first = Trim(std::string(device).substr(0, std::string(device).find(',')));
    std::snprintf(name, sizeof name, "%s", first.c_str());
    named = !first.empty();
  } else {
    named = getDefault && getDefault(name, &length);
  }
  if (open && getDriver && close && named) {
    HANDLE printer = nullptr;
    if (open(name, &printer, nullptr) && printer) {
      DWORD needed = 0;
      getDriver(printer, nullptr, 3, nullptr, 0, &needed);
      if (needed >= sizeof(DRIVER_INFO_3A) && needed < (1u << 20)) {
        std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[needed]);
        if (getDriver(printer, nullptr, 3, buffer.get(), needed, &needed)) {
          const auto* info = reinterpret_cast<const DRIVER_INFO_3A*>(buffer.get());
          if (info->pName)
            text = FormatPrinter(info->pName, FileVersionText(info->pDriverPath ? info->pDriverPath : ""));
        }
      }
      close(printer);
    }
  }
  FreeLibrary(spool);
  return text;
}

namespace {
std::vector<TLocaleRaw>* g_locales = nullptr;

BOOL CALLBACK CollectLocale(LPWSTR text) {
  try {
    if (!g_locales || !text) return FALSE;
    std::string hex;
    for (const WCHAR* p = text; *p && hex.size() < 16; ++p) hex += static_cast<char>(*p & 0x7F);
    TLocaleRaw raw;
    raw.LocaleText = hex;
    std::int64_t id = 0;
    if (hex.size() >= 8 && TryStrToInt64("$" + hex, id)) {
      WCHAR buffer[1024] = {};
      const LCID lcid = static_cast<LCID>(id);
      if (GetLocaleInfoW(lcid, LOCALE_SABBREVLANGNAME, buffer, 1024) > 1)
        raw.Abbreviation = WideToAnsi(reinterpret_cast<const char16_t*>(buffer));
      if (GetLocaleInfoW(lcid, LOCALE_SENGLANGUAGE, buffer, 1024) > 1)
        raw.EnglishName = WideToAnsi(reinterpret_cast<const char16_t*>(buffer));
    }
    g_locales->push_back(raw);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}
}  // namespace

namespace {
// The ANSI form, used off the NT line.
BOOL CALLBACK CollectLocaleAnsi(LPSTR text) {
  try {
    if (!g_locales || !text) return FALSE;
    TLocaleRaw raw;
    raw.LocaleText = std::string(text, strnlen(text, 16));
    std::int64_t id = 0;
    if (raw.LocaleText.size() >= 8 && TryStrToInt64("$" + raw.LocaleText, id)) {
      char buffer[1024] = {};
      const LCID lcid = static_cast<LCID>(id);
      if (GetLocaleInfoA(lcid, LOCALE_SABBREVLANGNAME, buffer, 1024) > 1) raw.Abbreviation = buffer;
      if (GetLocaleInfoA(lcid, LOCALE_SENGLANGUAGE, buffer, 1024) > 1) raw.EnglishName = buffer;
    }
    g_locales->push_back(raw);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}
}  // namespace

std::string ReadLanguageText() {
  std::vector<TLocaleRaw> locales;
  g_locales = &locales;
  if (GetOsVersionFacts().Platform == 2)
    EnumSystemLocalesW(&CollectLocale, LCID_INSTALLED);
  else
    EnumSystemLocalesA(&CollectLocaleAnsi, LCID_INSTALLED);
  g_locales = nullptr;
  return ChooseLanguage(locales, GetSystemDefaultLangID());
}

std::vector<TAdapterRaw> ReadNetworkAdapters() {
  std::vector<TAdapterRaw> adapters;
  HMODULE helper = LoadLibraryA("iphlpapi.dll");
  if (!helper) return adapters;
  using GetAdaptersInfoFn = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);
  using GetPerAdapterInfoFn = DWORD(WINAPI*)(ULONG, PIP_PER_ADAPTER_INFO, PULONG);
  const auto getAdapters = LookUp<GetAdaptersInfoFn>(helper, "GetAdaptersInfo");
  const auto getPerAdapter = LookUp<GetPerAdapterInfoFn>(helper, "GetPerAdapterInfo");
  ULONG size = 0;
  if (getAdapters && getPerAdapter && getAdapters(nullptr, &size) == ERROR_BUFFER_OVERFLOW && size > 0 &&
      size < (1u << 22)) {
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
    auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get());
    if (getAdapters(list, &size) == NO_ERROR) {
      for (const IP_ADAPTER_INFO* a = list; a && adapters.size() < 64; a = a->Next) {
        TAdapterRaw raw;
        raw.Dhcp = a->DhcpEnabled != 0;
        raw.Ip = a->IpAddressList.IpAddress.String;
        raw.Mask = a->IpAddressList.IpMask.String;
        raw.Gateway = a->GatewayList.IpAddress.String;
        ULONG perSize = 0;
        getPerAdapter(a->Index, nullptr, &perSize);
        if (perSize > 0 && perSize < (1u << 16)) {
          std::unique_ptr<std::uint8_t[]> per(new std::uint8_t[perSize]);
          auto* info = reinterpret_cast<IP_PER_ADAPTER_INFO*>(per.get());
          if (getPerAdapter(a->Index, info, &perSize) == NO_ERROR) {
            raw.DnsKnown = true;
            for (const IP_ADDR_STRING* dns = &info->DnsServerList; dns && raw.Dns.size() < 2; dns = dns->Next)
              if (dns->IpAddress.String[0]) raw.Dns.push_back(dns->IpAddress.String);
          }
        }
        adapters.push_back(raw);
      }
    }
  }
  FreeLibrary(helper);
  return adapters;
}

void CollectSystemProbes(TReportHeaderFacts& facts) {
  facts.Company = ChooseCompany(ReadCompanyCandidates(), IsVistaOrLater());
  facts.Privileges = FormatPrivileges(ReadProcessPrivileges());
  facts.Processor = ReadProcessorText();
  facts.VideoCard = ReadVideoCardText();
  facts.Printer = ReadPrinterText();
  facts.Language = ReadLanguageText();
  FormatNetworkFacts(ReadNetworkAdapters(), facts);
}
