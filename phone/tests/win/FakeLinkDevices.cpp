#include "FakeLinkDevices.h"

#include <windows.h>
#include <winsock2.h>

#include <cstdlib>
#include <memory>

#include "IrdaWin.h"
#include "OverlappedIo.h"

// --- TDeafToCancelDku2Device ----------------------------------------------------------------------

namespace {

std::atomic<HANDLE> g_deafHandle{nullptr};
std::atomic<int> g_ignoredCancels{0};

void DeafCancel(HANDLE handle, OVERLAPPED* /*record*/) {
  if (handle == g_deafHandle.load()) {
    ++g_ignoredCancels;
    return;
  }
  CancelIo(handle);
}

}  // namespace

TDeafToCancelDku2Device::TDeafToCancelDku2Device(HANDLE handle) {
  g_deafHandle = handle;
  SetIoCanceller(&DeafCancel);
}

TDeafToCancelDku2Device::~TDeafToCancelDku2Device() {
  SetIoCanceller(nullptr);
  g_deafHandle = nullptr;
}

int TDeafToCancelDku2Device::Ignored() {
  return g_ignoredCancels.load();
}

// --- TFakeIrProvider -----------------------------------------------------------------------------

TFakeIrProvider::TFakeIrProvider(std::uint16_t tcpPort, std::string deviceName, std::array<std::uint8_t, 4> deviceId)
    : tcpPort_(tcpPort), deviceName_(std::move(deviceName)), deviceId_(deviceId) {}

TIrSocket TFakeIrProvider::OpenSocket() {
  return IrSocketOf(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

bool TFakeIrProvider::EnumerateDevices(TIrSocket /*socket*/, std::string& list) {
  ++enumerations_;
  list = BuildIrDeviceList({BuildIrDeviceRecord(deviceId_, deviceName_)});
  return true;
}

int TFakeIrProvider::Connect(TIrSocket s, const std::array<std::uint8_t, 4>& deviceId, const std::string& service) {
  {
    std::lock_guard<std::mutex> g(lock_);
    services_.push_back(service);
  }
  if (deviceId != deviceId_) return WSAEHOSTUNREACH;
  ++connects_;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(tcpPort_);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ConnectTo(s, reinterpret_cast<const sockaddr*>(&addr), static_cast<int>(sizeof(addr)));
}

std::vector<std::string> TFakeIrProvider::Services() const {
  std::lock_guard<std::mutex> g(lock_);
  return services_;
}

// --- TFakeDku2FinderDevices ----------------------------------------------------------------------

std::intptr_t TFakeDku2FinderDevices::OpenDku2Device(const std::string& path, std::uint32_t& systemError) {
  const std::intptr_t handle = TWinFinderDevices::OpenDku2Device(path, systemError);
  if (handle == -1 || handle == 0) return handle;
  {
    std::lock_guard<std::mutex> g(lock_);
    opened_.push_back(path);
  }
  // A read returns at once with the bytes that have arrived, if any (the
  // reader polls every 30 ms).
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  SetCommTimeouts(reinterpret_cast<HANDLE>(handle), &timeouts);
  return handle;
}

std::vector<std::string> TFakeDku2FinderDevices::Opened() const {
  std::lock_guard<std::mutex> g(lock_);
  return opened_;
}

std::string ComDevicePath(int comNumber) {
  return "\\\\.\\COM" + std::to_string(comNumber);
}

// --- Installation --------------------------------------------------------------------------------

namespace {

std::unique_ptr<TFakeIrProvider> g_ir;
std::unique_ptr<TFakeDku2FinderDevices> g_dku2;
std::unique_ptr<TDku2PathListProvider> g_dku2Paths;

int EnvironmentNumber(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 && value <= 65535 ? static_cast<int>(value) : 0;
}

}  // namespace

bool UseFakeLinkDevices() {
  UseWinFinderDevices();
  bool any = false;
  if (const int port = EnvironmentNumber("PELLORY_FAKE_IRDA_PORT")) {
    if (!g_ir) g_ir = std::make_unique<TFakeIrProvider>(static_cast<std::uint16_t>(port));
    SetIrProvider(g_ir.get());
    any = true;
  }
  if (const int com = EnvironmentNumber("PELLORY_FAKE_DKU2_PORT"); com > 0 && com <= 255) {
    if (!g_dku2) {
      g_dku2 = std::make_unique<TFakeDku2FinderDevices>();
      g_dku2Paths = std::make_unique<TDku2PathListProvider>(std::vector<std::string>{ComDevicePath(com)});
    }
    SetDku2Provider(g_dku2Paths.get());
    SetFinderDevices(g_dku2.get());
    any = true;
  }
  return any;
}

TFakeIrProvider* FakeIrProvider() {
  return g_ir.get();
}

TFakeDku2FinderDevices* FakeDku2Devices() {
  return g_dku2.get();
}
