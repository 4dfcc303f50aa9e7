#include "IrDiscovery.h"

#include <algorithm>
#include <atomic>

#include "ByteReader.h"
#include "ByteWriter.h"
#include "Debug.h"
#include "Swallow.h"

namespace {
class TNoIrProvider : public TIrProvider {
 public:
  bool Startup() override { return true; }
  void Cleanup() override {}
  TIrSocket OpenSocket() override { return kNoIrSocket; }
  bool EnumerateDevices(TIrSocket, std::string&) override { return false; }
  int Connect(TIrSocket, const std::array<std::uint8_t, 4>&, const std::string&) override { return kNoAddressFamily; }
  void CloseSocket(TIrSocket) override {}
  int LastError() override { return kNoAddressFamily; }

 private:
  static constexpr int kNoAddressFamily = 10047;  // WSAEAFNOSUPPORT
};

std::atomic<TIrProvider*> g_provider{nullptr};
}  // namespace

void SetIrProvider(TIrProvider* provider) {
  g_provider.store(provider);
}

TIrProvider& GetIrProvider() {
  if (TIrProvider* p = g_provider.load()) return *p;
  static TNoIrProvider none;
  return none;
}

std::vector<TIrDevice> ParseIrDeviceList(std::string_view list) {
  std::vector<TIrDevice> devices;
  ByteReader r(list);
  if (!r.Fits(0, kIrDeviceListHeader)) return devices;
  const std::size_t claimed = r.U32LE();
  const std::size_t fit = r.Remaining() / kIrDeviceRecordSize;
  const std::size_t count = std::min(claimed, fit);
  for (std::size_t i = 0; i < count; ++i) {
    TIrDevice d;
    const std::string_view id = r.View(4);
    std::copy(id.begin(), id.end(), reinterpret_cast<char*>(d.id.data()));
    d.key = (std::uint32_t{d.id[0]} << 24) | (std::uint32_t{d.id[1]} << 16) | (std::uint32_t{d.id[2]} << 8) | d.id[3];
    const std::string_view name = r.View(kIrDeviceNameSize);
    d.name = std::string(name.substr(0, name.find('\0')));
    d.hints1 = r.U8();
    d.hints2 = r.U8();
    d.charSet = r.U8();
    devices.push_back(std::move(d));
  }
  return devices;
}

std::string BuildIrDeviceRecord(const std::array<std::uint8_t, 4>& id, std::string_view name, std::uint8_t hints1,
                                std::uint8_t hints2, std::uint8_t charSet) {
  std::string rec(id.begin(), id.end());
  std::string field(name.substr(0, kIrDeviceNameSize));
  field.resize(kIrDeviceNameSize, '\0');
  rec += field;
  rec += static_cast<char>(hints1);
  rec += static_cast<char>(hints2);
  rec += static_cast<char>(charSet);
  return rec;
}

std::string BuildIrDeviceList(const std::vector<std::string>& records) {
  std::string list;
  ByteWriter w(list);
  w.U32LE(static_cast<std::uint32_t>(records.size()));
  for (const std::string& rec : records) w.Bytes(rec);
  return list;
}

bool IsNokiaDeviceName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find("nokia") != std::string::npos;
}

TIrEnumerator::TIrEnumerator(TIrProvider& provider) : provider_(provider) {
  try {
    ready_ = provider_.Startup();
  } catch (...) {
    ready_ = false;
  }
  if (!ready_) errorCode_ = kIrStartupFailed;
}

TIrEnumerator::~TIrEnumerator() {
  if (!ready_) return;
  try {
    provider_.Cleanup();
  } catch (...) {
    SwallowException("TIrEnumerator.Destroy: cleaning up the infrared provider");
  }
}

int TIrEnumerator::ConnectAllDevices() {
  deviceCount_ = 0;
  if (!ConnectNextDevice(0)) return 0;
  const int n = deviceCount_;
  if (n < 2) return 1;
  int connected = 1;
  for (int pass = 1; pass < n; ++pass) {
    if (ConnectNextDevice(static_cast<std::uint8_t>(pass))) ++connected;
  }
  return connected;
}

bool TIrEnumerator::ConnectNextDevice(std::uint8_t passIndex) {
  errorCode_ = kIrNoError;
  if (passIndex == 0) seen_.clear();
  TIrSocket socket = kNoIrSocket;
  bool handedOver = false;
  bool connected = false;
  try {
    socket = provider_.OpenSocket();
    if (socket == kNoIrSocket) {
      lastError_ = provider_.LastError();
      errorCode_ = kIrEnumerationFailed;
      return false;
    }
    connected = Pass(socket, handedOver);
  } catch (...) {
    connected = false;  // an exception fails the pass
  }
  // A socket that connected nothing, or that nobody took, is closed here.
  if (socket != kNoIrSocket && !handedOver) {
    try {
      provider_.CloseSocket(socket);
    } catch (...) {
      SwallowException("TIrEnumerator.ConnectNextDevice: closing the socket nobody took");
    }
  }
  return connected;
}

// Enumerates on `socket` and tries the unseen phones; true when one connected.
// `handedOver` is set once the socket belongs to the OnDeviceConnected handler.
bool TIrEnumerator::Pass(TIrSocket socket, bool& handedOver) {
  std::string list;
  if (!provider_.EnumerateDevices(socket, list)) {
    lastError_ = provider_.LastError();
    errorCode_ = kIrEnumerationFailed;
    return false;
  }
  if (list.size() > kIrDeviceListLength) list.resize(kIrDeviceListLength);
  const std::vector<TIrDevice> devices = ParseIrDeviceList(list);
  if (devices.empty()) {
    lastError_ = provider_.LastError();
    errorCode_ = kIrNoDevice;
    return false;
  }
  deviceCount_ = static_cast<std::uint8_t>(devices.size());
  for (const TIrDevice& d : devices) {
    if (std::find(seen_.begin(), seen_.end(), d.key) != seen_.end()) continue;
    if (DebugEngine) DebugEngine->LogEvent("IR device visible: " + d.name, 0, 0);
    if (!IsNokiaDeviceName(d.name)) continue;
    seen_.push_back(d.key);
    const int error = provider_.Connect(socket, d.id, kIrPhonetService);
    if (error == 0) {
      if (!OnDeviceConnected) return true;  // nobody takes the socket: it is closed
      handedOver = true;
      OnDeviceConnected(d.name, socket);
      return true;
    }
    lastError_ = error;
    errorCode_ = error;
  }
  return false;
}
