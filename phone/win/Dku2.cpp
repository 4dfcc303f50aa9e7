#include "Dku2.h"

#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

#include "OverlappedIo.h"

namespace {

bool HexValue(const std::string& text, std::size_t at, std::size_t digits, unsigned long long& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isxdigit(c)) return false;
    value = value * 16 + static_cast<unsigned>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  return true;
}

}  // namespace

bool ParseGuidText(const std::string& text, GUID& guid) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
      text[24] != '-')
    return false;
  unsigned long long v = 0;
  if (!HexValue(text, 1, 8, v)) return false;
  guid.Data1 = static_cast<unsigned long>(v);
  if (!HexValue(text, 10, 4, v)) return false;
  guid.Data2 = static_cast<unsigned short>(v);
  if (!HexValue(text, 15, 4, v)) return false;
  guid.Data3 = static_cast<unsigned short>(v);
  static constexpr std::size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < 8; ++i) {
    if (!HexValue(text, kByteAt[i], 2, v)) return false;
    guid.Data4[i] = static_cast<unsigned char>(v);
  }
  return true;
}

// --- TSetupApiDku2Source -------------------------------------------------------------------------

TSetupApiDku2Source::~TSetupApiDku2Source() {
  CloseClass();
}

bool TSetupApiDku2Source::OpenClass(const TDku2InterfaceClass& cls) {
  CloseClass();
  if (!ParseGuidText(cls.guid, class_)) return false;
  const HDEVINFO set = SetupDiGetClassDevsA(&class_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  set_ = set;
  return true;
}

TDku2DeviceSource::TMember TSetupApiDku2Source::Member(std::size_t index, std::string& record,
                                                       std::size_t& pathOffset) {
  if (set_ == INVALID_HANDLE_VALUE || index > 0xFFFFFFFFu) return TMember::mbEnd;
  const DWORD member = static_cast<DWORD>(index);
  SP_DEVINFO_DATA device;
  std::memset(&device, 0, sizeof(device));
  device.cbSize = sizeof(device);
  if (!SetupDiEnumDeviceInfo(set_, member, &device)) return TMember::mbEnd;
  SP_DEVICE_INTERFACE_DATA iface;
  std::memset(&iface, 0, sizeof(iface));
  iface.cbSize = sizeof(iface);
  if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &class_, member, &iface)) return TMember::mbEnd;
  DWORD required = 0;
  if (SetupDiGetDeviceInterfaceDetailA(set_, &iface, nullptr, 0, &required, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return TMember::mbEnd;
  // At least the record's fixed part, in storage aligned for it.
  const std::size_t size =
      required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? required : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);  // the fixed part only, as the call expects
  if (!SetupDiGetDeviceInterfaceDetailA(set_, &iface, detail, static_cast<DWORD>(size), nullptr, nullptr))
    return TMember::mbSkip;
  record.assign(reinterpret_cast<const char*>(storage.data()), size);
  pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  return TMember::mbRecord;
}

void TSetupApiDku2Source::CloseClass() {
  if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
  set_ = INVALID_HANDLE_VALUE;
}

std::vector<std::string> TSetupApiDku2Provider::ListDevicePaths(bool filtered) {
  TSetupApiDku2Source source;
  return CollectDku2DevicePaths(source, filtered);
}

// --- Opening a device ------------------------------------------------------------------------------

bool SendDku2Request(HANDLE device, std::uint32_t code, std::size_t outputSize, std::uint32_t waitMs) {
  TOverlappedIo io(device);
  io.Buffer().assign(outputSize, '\0');
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(io.Buffer().size(), 0x7FFFFFFF));
  const TIoResult r = io.Run(
      [&](OVERLAPPED* ov) { return DeviceIoControl(device, code, nullptr, 0, io.Buffer().data(), size, nullptr, ov); },
      waitMs);
  return r.Succeeded();
}

HANDLE OpenDku2Device(const std::string& path, std::uint32_t& systemError) {
  systemError = 0;
  HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE || device == nullptr) {
    systemError = GetLastError();
    return INVALID_HANDLE_VALUE;
  }
  for (const std::uint32_t code : kDku2OpenRequests)
    SendDku2Request(device, code, kDku2RequestOutputSize, kDku2RequestWaitMs);
  return device;
}
