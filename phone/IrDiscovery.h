// Finding phones in infrared range and connecting to their "Nokia:PhoNet"
// service. The socket work goes through a small provider: the Windows program
// installs one on Winsock's infrared sockets, tests install fakes. The device
// list the provider returns is parsed here, bounds-checked.
#pragma once

#include "Method.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A socket handle of the provider (a SOCKET on Windows).
using TIrSocket = std::intptr_t;
inline constexpr TIrSocket kNoIrSocket = -1;

// The device list as the infrared stack fills it: a 32-bit little-endian count,
// then records of 29 bytes: device id (4 bytes), name (22 bytes, zero-terminated
// unless it fills the field), two hint bytes, character set.
inline constexpr std::size_t kIrDeviceListLength = 297;  // bytes offered to the stack
inline constexpr std::size_t kIrDeviceListHeader = 4;
inline constexpr std::size_t kIrDeviceRecordSize = 29;
inline constexpr std::size_t kIrDeviceNameSize = 22;
// The service every phone's PhoNet link is reached at.
inline constexpr char kIrPhonetService[] = "Nokia:PhoNet";

// Failure codes of a discovery pass (else the socket error of the last failed connect).
inline constexpr int kIrNoError = 0;
inline constexpr int kIrStartupFailed = 1;
inline constexpr int kIrEnumerationFailed = 2;
inline constexpr int kIrNoDevice = 3;

struct TIrDevice {
  std::array<std::uint8_t, 4> id{};
  std::uint32_t key = 0;  // the id bytes read big-endian
  std::string name;
  std::uint8_t hints1 = 0;
  std::uint8_t hints2 = 0;
  std::uint8_t charSet = 0;

  bool operator==(const TIrDevice&) const = default;
};

// The records of a device list. The count the list claims is clamped to the
// records that lie whole inside `list`; a list too short for its count field
// holds no device.
std::vector<TIrDevice> ParseIrDeviceList(std::string_view list);
// One device-list record as the stack lays it out (for providers and fakes).
std::string BuildIrDeviceRecord(const std::array<std::uint8_t, 4>& id, std::string_view name, std::uint8_t hints1 = 0,
                                std::uint8_t hints2 = 0, std::uint8_t charSet = 0);
// A whole device list of these records.
std::string BuildIrDeviceList(const std::vector<std::string>& records);
// True when the name holds "nokia" in any case.
bool IsNokiaDeviceName(std::string_view name);

// What discovery needs of the platform's infrared sockets.
class TIrProvider {
 public:
  virtual ~TIrProvider() = default;
  // Starts the socket layer; false when it cannot be started.
  virtual bool Startup() = 0;
  // Undoes a successful Startup.
  virtual void Cleanup() = 0;
  // A new infrared stream socket, or kNoIrSocket.
  virtual TIrSocket OpenSocket() = 0;
  // Asks the stack for the devices in range: `list` receives the device list
  // (at most kIrDeviceListLength bytes are used). False on a socket error.
  virtual bool EnumerateDevices(TIrSocket socket, std::string& list) = 0;
  // Connects `socket` to `service` on the device; 0 on success, else the socket error.
  virtual int Connect(TIrSocket socket, const std::array<std::uint8_t, 4>& deviceId, const std::string& service) = 0;
  virtual void CloseSocket(TIrSocket socket) = 0;
  // The socket error of the last failed call.
  virtual int LastError() = 0;
};

// The provider discovery uses. Until one is installed: the socket layer starts
// but no infrared socket can be made (every pass fails with kIrEnumerationFailed).
void SetIrProvider(TIrProvider* provider);  // null restores the default
TIrProvider& GetIrProvider();

// A socket connected to a phone: its device name and the socket, now owned by the handler.
using TIrDeviceConnectedEvent = Method<void(const std::string& name, TIrSocket socket)>;

// Connects one unseen phone per pass. Devices connected since the last pass with
// index 0 are skipped. Not thread-safe: the finder's search thread owns it.
class TIrEnumerator {
 public:
  explicit TIrEnumerator(TIrProvider& provider);
  ~TIrEnumerator();
  TIrEnumerator(const TIrEnumerator&) = delete;
  TIrEnumerator& operator=(const TIrEnumerator&) = delete;

  // Runs pass 0 and, when it saw several devices, one more pass per further
  // device; the number of passes that connected.
  int ConnectAllDevices();
  // One pass: enumerates and connects the first unseen device whose name holds
  // "nokia". True when one connected (and went to OnDeviceConnected). A socket
  // that connected nothing is closed.
  bool ConnectNextDevice(std::uint8_t passIndex);

  // 0, kIrStartupFailed, kIrEnumerationFailed, kIrNoDevice or the socket error of the last failed connect.
  int ErrorCode() const { return errorCode_; }
  // The socket layer's error of the last failure.
  int LastSocketError() const { return lastError_; }
  // Devices the last enumeration listed.
  std::uint8_t DeviceCount() const { return deviceCount_; }
  bool Ready() const { return ready_; }

  TIrDeviceConnectedEvent OnDeviceConnected;

 private:
  bool Pass(TIrSocket socket, bool& handedOver);

  TIrProvider& provider_;
  std::vector<std::uint32_t> seen_;
  int errorCode_ = kIrNoError;
  int lastError_ = 0;
  std::uint8_t deviceCount_ = 0;
  bool ready_ = false;
};
