// The phone finder: the program's one search thread, which tries every
// candidate the wizard has marked (COM ports, IrDA devices, DKU-2 USB devices,
// DKU-5 virtual COM ports) by running a phone object's whole connect sequence
// on the thread itself, and hands a phone that answered with its identity to
// the main thread.
//
// The wizard drives the finder only through its tables (a mark, an enabled
// flag and the last failure code per COM port 1 to 255), its flags and its
// three events. The tables and flags are written on the main thread and read
// on the search thread: they are atomics. The events are called on the main
// thread, through the framework's synchronous call, while the search thread
// waits; they may be hooked and unhooked at any time.
//
// A pass tries, in this order: the enabled COM ports 1 to 255 (two attempts
// each, 50 ms apart), the IrDA devices in range, the DKU-2 devices on which no
// phone was found before, and the DKU-5 ports that the USB serial drivers list
// in the registry (through the AT switch). A pass pauses 100 ms after the COM
// ports and 100 ms at its end, so the idle thread costs next to nothing.
#pragma once

#include "IrDiscovery.h"
#include "NokiaPhone.h"
#include "Object.h"
#include "Thread.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RegistryBackend;
class TStringList;
class TFindThread;

// --- Devices the finder discovers itself -------------------------------------------------------

// Infrared discovery as the finder uses it: finds the devices in range and
// connects a socket to each, calling OnDeviceConnected on the calling thread
// for every device it connected.
class TIrDiscovery {
 public:
  virtual ~TIrDiscovery() = default;
  // The number of discovery passes that connected a device.
  virtual int ConnectAllDevices() = 0;
  // 0, or why the last ConnectAllDevices gave no phone: 1 sockets unavailable,
  // 2 device enumeration failed, 3 no device in range, else the socket error of
  // a failed connect.
  virtual std::uint16_t ErrorCode() const = 0;

  TIrDeviceConnectedEvent OnDeviceConnected;
};

// The device side of the search that is not a COM port: infrared discovery and
// the DKU-2 USB devices. The Windows program installs its own; until one is
// installed infrared discovery fails with code 2 (no device enumeration) and
// no DKU-2 device is present.
class TFinderDevices {
 public:
  virtual ~TFinderDevices() = default;
  virtual std::unique_ptr<TIrDiscovery> CreateIrDiscovery() = 0;
  // The device paths of the present DKU-2 devices.
  virtual std::vector<std::string> ListDku2DevicePaths() = 0;
  // Opens a DKU-2 device for the link. 0 or -1 when it failed; `systemError`
  // then tells why (5 access denied, 2 no such device, others as they come).
  virtual std::intptr_t OpenDku2Device(const std::string& path, std::uint32_t& systemError) = 0;
};

void SetFinderDevices(TFinderDevices* devices);  // null restores the default
TFinderDevices& GetFinderDevices();

// --- The finder --------------------------------------------------------------------------------

// Phone: a phone that answered with its identity; the handler owns it from then on.
using TPhoneFoundEvent = Method<void(TNokiaPhone* phone)>;
// A candidate failed with a code other than the last one reported for it.
// Port: the COM port, 0 for IrDA (and DKU-2 once a device was opened), -2 for DKU-2.
using TPhoneFailureEvent = Method<void(std::int32_t port, std::uint16_t code)>;
// What a pass reports when it ends.
struct TFinderPass {
  // The passes so far in which at least one candidate was tried.
  std::uint16_t Count = 0;
  // The mark generation when the pass began (see TPhoneFinder::NewMarkGeneration):
  // every mark set before that generation was reached was in place for the
  // whole pass.
  std::uint32_t MarkGeneration = 0;
  // This pass tried a candidate.
  bool Tried = false;
  // This pass met marked candidates that it passed over because they are
  // disabled: a port found or absent before, IrDA after a find or a failed
  // device enumeration.
  bool PassedOver = false;
};
// A pass ended.
using TFinderPassEvent = Method<void(const TFinderPass& pass)>;

// An event that one thread hooks while another tests whether it is hooked.
template <class Sig>
class TFinderEvent {
 public:
  TFinderEvent& operator=(const Method<Sig>& m) {
    std::lock_guard<std::mutex> g(lock_);
    method_ = m;
    return *this;
  }
  TFinderEvent& operator=(std::nullptr_t) { return *this = Method<Sig>(); }
  Method<Sig> Get() const {
    std::lock_guard<std::mutex> g(lock_);
    return method_;
  }
  explicit operator bool() const { return static_cast<bool>(Get()); }
  bool Assigned() const { return static_cast<bool>(Get()); }

 private:
  mutable std::mutex lock_;
  Method<Sig> method_;
};

// What a finder works with; null members stand for the installed ones.
struct TFinderSetup {
  TPhonePlatform* phones = nullptr;     // links, waits and timers of the phone objects
  TFinderDevices* devices = nullptr;    // infrared discovery and DKU-2 devices
  RegistryBackend* registry = nullptr;  // where the DKU-5 ports are read from
};

// Connection kinds the wizard marks ports with.
constexpr std::uint8_t kMarkFbusCable = 1;
constexpr std::uint8_t kMarkDlr3Cable = 2;
constexpr std::uint8_t kMarkBluetooth = 3;
constexpr std::uint8_t kMarkDku5 = 4;  // not tried as a COM port
// The first and last COM port the tables hold.
constexpr int kFirstFinderPort = 1;
constexpr int kLastFinderPort = 255;
// The last code of a candidate that has reported nothing yet.
constexpr std::uint16_t kNoFailureYet = 255;

class TPhoneFinder : public TObject {
  FW_CLASS(TPhoneFinder, TObject)

 public:
  // Only stores its settings; AfterConstruction builds the tables and the
  // DKU-5 list and starts the search thread.
  explicit TPhoneFinder(bool active, const TFinderSetup& setup = {});
  void AfterConstruction() override;
  // Shuts the search down (see Shutdown) and releases the DKU-5 list.
  void Destroy() override;

  // Suspends the search thread (false) or lets it run again (true). The thread
  // runs from creation whatever the flag says.
  void SetActive(bool value);
  bool Active() const { return active_.load(); }

  // The mark of a COM port: the connection kind to try (1 FBUS cable, 2 DLR-3
  // cable, 3 Bluetooth), 0 for none; 0 outside 1 to 255.
  std::uint8_t GetPortMethod(int port) const;
  void SetPortMethod(int port, std::uint8_t method);  // ignores ports outside 1 to 255
  // 1 when the port may be tried; 1 outside 1 to 255.
  std::uint8_t GetPortEnabled(int port) const;
  void SetPortEnabled(int port, std::uint8_t enabled);  // ignores ports outside 1 to 255
  // The last code reported: index 0 for DKU-2, 1 to 255 for the COM ports.
  std::uint16_t LastCode(int index) const;
  std::uint16_t IrDALastCode() const { return irdaLastCode_.load(); }
  std::uint16_t PassCount() const { return passCount_.load(); }
  // The generation of the marks. Whoever sets up a search advances it once its
  // marks and flags are set; a pass copies it when it begins and reports it
  // when it ends, so a report tells whether its pass can have seen those marks.
  std::uint32_t MarkGeneration() const { return markGeneration_.load(); }
  // Advances the generation; returns the new one.
  std::uint32_t NewMarkGeneration() { return ++markGeneration_; }
  // The generation the pass under way (or the last one) began with.
  std::uint32_t PassGeneration() const { return passGeneration_.load(); }
  // The candidate being tried: the COM port, 0 during IrDA, -2 in the DKU-2
  // step until a device has been opened.
  std::int32_t CurrentPort() const { return currentPort_.load(); }
  // True once the search thread's loop has ended.
  bool Finished() const { return finished_.load(); }
  // The search thread's id; 0 after Shutdown. Main thread only.
  ThreadId SearchThreadID() const;

  // The DKU-5 ports as last listed.
  std::vector<std::int32_t> UsbComPorts() const;
  // Rebuilds the DKU-5 list from the registry: the USB serial driver's ports,
  // then the CA-42 driver's; each keeps only ports that stand, with a friendly
  // name, in the serial-port map.
  void CollectUsbVspPorts(bool clear);
  void CollectCa42Ports(bool clear);

  // Clears ScanIrDA, ScanDku2 and every port's enabled flag (ScanDku5 stays).
  void ClearScanFlags();

  // Unhooks the events, clears the scan flags, stops the search thread (a
  // connect attempt under way is cut short) and waits for it to end, serving
  // its last synchronous calls meanwhile. Safe to call more than once. Not
  // from inside one of the finder's own events.
  void Shutdown();

  // Written by the wizard.
  std::atomic<bool> ScanIrDA{false};
  std::atomic<bool> ScanDku5{false};
  std::atomic<bool> ScanDku2{false};
  // 0: IrDA may be tried; 255 once device enumeration failed; raised by one by
  // each find handed over while the current port is 0.
  std::atomic<std::uint8_t> IrDAState{0};

  TFinderEvent<void(TNokiaPhone*)> OnFound;
  TFinderEvent<void(std::int32_t, std::uint16_t)> OnFailure;
  TFinderEvent<void(const TFinderPass&)> OnPass;

 private:
  friend class TFindThread;

  static bool InTable(int port) { return port >= kFirstFinderPort && port <= kLastFinderPort; }
  void SetLastCode(int index, std::uint16_t code);
  TStringList& FoundDku2List();

  TFinderSetup setup_;
  std::atomic<bool> active_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> shutDown_{false};
  TFindThread* thread_ = nullptr;
  std::array<std::atomic<std::uint8_t>, kLastFinderPort + 1> portMethods_{};
  std::array<std::atomic<std::uint8_t>, kLastFinderPort + 1> portEnabled_{};
  std::array<std::atomic<std::uint16_t>, kLastFinderPort + 1> lastCodes_{};
  std::atomic<std::uint16_t> irdaLastCode_{kNoFailureYet};
  std::atomic<std::uint16_t> passCount_{0};
  std::atomic<std::uint32_t> markGeneration_{0};
  std::atomic<std::uint32_t> passGeneration_{0};
  std::atomic<std::int32_t> currentPort_{0};
  mutable std::mutex usbLock_;
  std::vector<std::int32_t> usbComPorts_;
  TStringList* ownDku2List_ = nullptr;  // when the unit's global list is not there
};

// The search thread of a finder. It owns the phone object it works on and
// makes itself a new one after each hand-over.
class TFindThread : public TThread {
  FW_CLASS(TFindThread, TThread)

 public:
  explicit TFindThread(TPhoneFinder& finder);
  void Destroy() override;
  // Terminates the thread, wakes it from a pause and cuts a connect attempt short.
  void Stop();

  // IrDA discovery connected a device (on this thread).
  void IrDeviceConnected(const std::string& name, std::intptr_t socket);

 protected:
  void Execute() override;

 private:
  void RunPass();
  void TryComPorts(TFinderPass& pass);
  void TryIrDA(TFinderPass& pass);
  void TryDku2(TFinderPass& pass);
  void TryDku5(TFinderPass& pass);
  // Connects the phone as set up; true when it answered with an IMEI and was
  // handed over.
  bool ConnectAndHandOver();
  // Waits `ms` milliseconds or until the thread is terminated.
  void Pause(std::uint32_t ms);
  TNokiaPhone& Phone();
  TNokiaPhone* NewPhone();
  TIrDiscovery& IrDiscovery();
  TFinderDevices& Devices();
  // The main-thread hand-overs.
  bool SyncFound();
  void SyncFailure(std::uint16_t code);
  void SyncPass(TFinderPass pass);
  void OnMainThread(const std::function<void()>& call);

  TPhoneFinder& finder_;
  std::unique_ptr<TIrDiscovery> irDiscovery_;
  std::mutex phoneLock_;  // the phone pointer, swapped here and read by Stop
  TNokiaPhone* phone_ = nullptr;
  std::mutex pauseLock_;
  std::condition_variable pauseWake_;
};

// The unit's globals: the program's finder and the DKU-2 device paths on which
// a phone was found (never tried again in this run).
extern TPhoneFinder* PhoneFinder;
extern TStringList* FoundDku2Paths;

// The unit's initialization (makes both, the finder's thread starting at once)
// and finalization (shuts the finder down and frees both, swallowing errors).
void PhoneFindInitialization();
void PhoneFindFinalization();
