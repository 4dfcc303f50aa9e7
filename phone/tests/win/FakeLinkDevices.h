// Stand-ins for an infrared adapter and a DKU-2 cable, for Windows tests (the
// phone simulator plays the phone behind them):
// - infrared: the device list names one phone ("Nokia 6310"), and connecting
//   to it connects a TCP socket to the simulator on 127.0.0.1:port, where it
//   speaks PhoNet with media 0x14;
// - DKU-2: the one device path is a COM port of the Wine prefix mapped to the
//   simulator's pty, where it speaks PhoNet with media 0x1B. The device is
//   opened as the program opens a DKU-2 device (the driver's two requests fail
//   there and are ignored); its reads then return what has arrived, as the USB
//   driver's do.
// UseFakeLinkDevices() installs them from the environment before the finder
// starts: PELLORY_FAKE_IRDA_PORT (the simulator's TCP port) and
// PELLORY_FAKE_DKU2_PORT (the COM number). What is not set there stays real.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Dku2Devices.h"
#include "FinderDevicesWin.h"
#include "IrDiscovery.h"
#include "IrdaWin.h"

// Winsock as the real provider uses it, with TCP sockets in place of infrared
// ones: one device is listed, and its connect goes to the loopback port.
class TFakeIrProvider : public TWinsockIrProvider {
 public:
  explicit TFakeIrProvider(std::uint16_t tcpPort, std::string deviceName = "Nokia 6310",
                           std::array<std::uint8_t, 4> deviceId = {0x12, 0x34, 0x56, 0x78});

  TIrSocket OpenSocket() override;
  bool EnumerateDevices(TIrSocket socket, std::string& list) override;
  int Connect(TIrSocket socket, const std::array<std::uint8_t, 4>& deviceId, const std::string& service) override;

  // Discovery passes that listed the devices, and connects made.
  int Enumerations() const { return enumerations_.load(); }
  int Connects() const { return connects_.load(); }
  // The service names asked for, in order.
  std::vector<std::string> Services() const;
  std::uint16_t TcpPort() const { return tcpPort_; }

 private:
  std::uint16_t tcpPort_;
  std::string deviceName_;
  std::array<std::uint8_t, 4> deviceId_;
  std::atomic<int> enumerations_{0};
  std::atomic<int> connects_{0};
  mutable std::mutex lock_;
  std::vector<std::string> services_;
};

// The finder's devices with the DKU-2 device opened as a pty-backed COM port.
class TFakeDku2FinderDevices : public TWinFinderDevices {
 public:
  std::intptr_t OpenDku2Device(const std::string& path, std::uint32_t& systemError) override;
  // Devices opened so far, by path.
  std::vector<std::string> Opened() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::string> opened_;
};

// A DKU-2 device whose driver never completes a cancelled request: while it
// is installed, cancels of requests on `handle` are ignored (those on other
// handles go to the system), so a pending read stays pending until the handle
// is closed. Restores the system's cancel when it goes.
class TDeafToCancelDku2Device {
 public:
  explicit TDeafToCancelDku2Device(HANDLE handle);
  ~TDeafToCancelDku2Device();
  TDeafToCancelDku2Device(const TDeafToCancelDku2Device&) = delete;
  TDeafToCancelDku2Device& operator=(const TDeafToCancelDku2Device&) = delete;
  // Cancels ignored so far.
  static int Ignored();
};

// The DKU-2 device path of a COM port.
std::string ComDevicePath(int comNumber);

// Installs the real devices (UseWinFinderDevices) and, over them, the fakes the
// environment asks for. True when at least one fake was installed.
bool UseFakeLinkDevices();
// The installed fakes, or null.
TFakeIrProvider* FakeIrProvider();
TFakeDku2FinderDevices* FakeDku2Devices();
