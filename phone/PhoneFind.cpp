#include "PhoneFind.h"

#include "Debug.h"
#include "Dku5Ports.h"
#include "LinkFrames.h"
#include "Strings.h"
#include "Swallow.h"
#include "SysUtils.h"

#include <chrono>
#include <exception>

FW_IMPLEMENT_CLASS(TPhoneFinder)
FW_IMPLEMENT_CLASS(TFindThread)

namespace {

// The pause after the COM ports and at the end of a pass.
constexpr std::uint32_t kPassPauseMs = 100;
// The pause after each attempt on a port.
constexpr std::uint32_t kAttemptPauseMs = 50;
constexpr int kAttemptsPerPort = 2;
// The current port while the DKU-2 step has no device open.
constexpr std::int32_t kDku2Port = -2;

void Log(const std::string& msg) {
  if (DebugEngine) DebugEngine->LogEvent(msg, 2, -1);
}

// Link method of a port mark: FBUS cable, AT switch then FBUS, Bluetooth
// PhoNet; 0xFF for a mark that is not a COM-port kind.
std::uint8_t LinkMethodOfMark(std::uint8_t mark) {
  switch (mark & 0x7F) {
    case kMarkFbusCable:
      return kLinkFbusCable;
    case kMarkDlr3Cable:
      return kLinkAtSwitch;
    case kMarkBluetooth:
      return kLinkBluetooth;
    default:
      return 0xFF;
  }
}

// Until the Windows program installs its devices: no infrared device
// enumeration (code 2) and no DKU-2 device.
class TNoIrDiscovery : public TIrDiscovery {
 public:
  int ConnectAllDevices() override { return 0; }
  std::uint16_t ErrorCode() const override { return 2; }
};

class TNoFinderDevices : public TFinderDevices {
 public:
  std::unique_ptr<TIrDiscovery> CreateIrDiscovery() override { return std::make_unique<TNoIrDiscovery>(); }
  std::vector<std::string> ListDku2DevicePaths() override { return {}; }
  std::intptr_t OpenDku2Device(const std::string&, std::uint32_t& systemError) override {
    systemError = 2;
    return 0;
  }
};

std::atomic<TFinderDevices*> g_devices{nullptr};

}  // namespace

void SetFinderDevices(TFinderDevices* devices) {
  g_devices.store(devices);
}

TFinderDevices& GetFinderDevices() {
  if (TFinderDevices* d = g_devices.load()) return *d;
  static TNoFinderDevices none;
  return none;
}

// --- TPhoneFinder ------------------------------------------------------------------------------

TPhoneFinder::TPhoneFinder(bool active, const TFinderSetup& setup) : setup_(setup), active_(active) {}

void TPhoneFinder::AfterConstruction() {
  inherited::AfterConstruction();
  passCount_ = 0;
  IrDAState = 0;
  lastCodes_[0] = 0;
  for (int n = kFirstFinderPort; n <= kLastFinderPort; ++n) {
    lastCodes_[n] = kNoFailureYet;
    portMethods_[n] = 0;
    portEnabled_[n] = 1;
  }
  ownDku2List_ = New<TStringList>();
  CollectUsbVspPorts(true);
  CollectCa42Ports(false);
  for (std::int32_t p : UsbComPorts()) SetPortEnabled(p, 1);
  // The thread runs from here on, whatever Active says.
  thread_ = New<TFindThread>(*this);
  irdaLastCode_ = kNoFailureYet;
}

void TPhoneFinder::Destroy() {
  Shutdown();
  FreeAndNil(ownDku2List_);
  inherited::Destroy();
}

void TPhoneFinder::SetActive(bool value) {
  if (value == active_.load()) return;
  active_ = value;
  if (!thread_) return;
  if (value && thread_->Suspended())
    thread_->Resume();
  else if (!value && !thread_->Suspended())
    thread_->Suspend();
}

std::uint8_t TPhoneFinder::GetPortMethod(int port) const {
  return InTable(port) ? portMethods_[static_cast<std::size_t>(port)].load() : 0;
}

void TPhoneFinder::SetPortMethod(int port, std::uint8_t method) {
  if (InTable(port)) portMethods_[static_cast<std::size_t>(port)] = method;
}

std::uint8_t TPhoneFinder::GetPortEnabled(int port) const {
  return InTable(port) ? portEnabled_[static_cast<std::size_t>(port)].load() : 1;
}

void TPhoneFinder::SetPortEnabled(int port, std::uint8_t enabled) {
  if (InTable(port)) portEnabled_[static_cast<std::size_t>(port)] = enabled;
}

std::uint16_t TPhoneFinder::LastCode(int index) const {
  return index >= 0 && index <= kLastFinderPort ? lastCodes_[static_cast<std::size_t>(index)].load() : kNoFailureYet;
}

void TPhoneFinder::SetLastCode(int index, std::uint16_t code) {
  if (index >= 0 && index <= kLastFinderPort) lastCodes_[static_cast<std::size_t>(index)] = code;
}

ThreadId TPhoneFinder::SearchThreadID() const {
  return thread_ ? thread_->ThreadID() : 0;
}

std::vector<std::int32_t> TPhoneFinder::UsbComPorts() const {
  std::lock_guard<std::mutex> g(usbLock_);
  return usbComPorts_;
}

void TPhoneFinder::CollectUsbVspPorts(bool clear) {
  std::lock_guard<std::mutex> g(usbLock_);
  ::CollectUsbVspPorts(usbComPorts_, clear, setup_.registry);
}

void TPhoneFinder::CollectCa42Ports(bool clear) {
  std::lock_guard<std::mutex> g(usbLock_);
  ::CollectCa42Ports(usbComPorts_, clear, setup_.registry);
}

void TPhoneFinder::ClearScanFlags() {
  ScanIrDA = false;
  ScanDku2 = false;
  for (int n = kFirstFinderPort; n <= kLastFinderPort; ++n) portEnabled_[static_cast<std::size_t>(n)] = 0;
}

TStringList& TPhoneFinder::FoundDku2List() {
  return FoundDku2Paths ? *FoundDku2Paths : *ownDku2List_;
}

void TPhoneFinder::Shutdown() {
  OnFound = nullptr;
  OnFailure = nullptr;
  OnPass = nullptr;
  ClearScanFlags();
  TFindThread* thread = thread_;
  thread_ = nullptr;
  if (!thread) return;
  try {
    thread->Stop();
    // The framework's main-thread wait serves the thread's last synchronous
    // calls (the release of its links) and, on Windows, the main thread's
    // messages while the thread ends. The thread wakes this wait once its loop
    // is over; one that was stopped before its loop began is finished as a
    // thread.
    ServeSynchronizeUntil([&] { return finished_.load() || thread->Finished(); });
    thread->WaitFor();
  } catch (...) {
    SwallowException("TPhoneFinder.Shutdown: stopping the find thread");
  }
  try {
    thread->Free();
  } catch (...) {
    SwallowException("TPhoneFinder.Shutdown: freeing the find thread");
  }
  // Also when the thread was stopped before its loop began.
  finished_ = true;
}

// --- TFindThread -------------------------------------------------------------------------------

TFindThread::TFindThread(TPhoneFinder& finder) : TThread(false), finder_(finder) {
  phone_ = NewPhone();
}

void TFindThread::Destroy() {
  if (!Finished()) {
    Stop();
    try {
      WaitFor();
    } catch (...) {
      SwallowException("TFindThread.Destroy: waiting for the thread");
    }
  }
  // A thread that never ran still holds the phone made for it.
  TNokiaPhone* phone = nullptr;
  {
    std::lock_guard<std::mutex> g(phoneLock_);
    std::swap(phone, phone_);
  }
  FreeObject(phone);
  inherited::Destroy();
}

void TFindThread::Stop() {
  Terminate();
  { std::lock_guard<std::mutex> g(pauseLock_); }
  pauseWake_.notify_all();
  // A connect attempt under way gives up at once. The events are unhooked
  // by now, so no hand-over takes the phone meanwhile; that order matters, as
  // the disconnect's wait serves synchronous calls and the hand-over's call
  // would take phoneLock_ again on this thread.
  std::lock_guard<std::mutex> g(phoneLock_);
  if (phone_) {
    try {
      phone_->Disconnect();
    } catch (...) {
      SwallowException("TFindThread.Stop: disconnecting the phone");
    }
  }
}

TNokiaPhone* TFindThread::NewPhone() {
  if (finder_.setup_.phones) return New<TNokiaPhone>(static_cast<TComponent*>(nullptr), *finder_.setup_.phones);
  return New<TNokiaPhone>(static_cast<TComponent*>(nullptr));
}

TNokiaPhone& TFindThread::Phone() {
  {
    std::lock_guard<std::mutex> g(phoneLock_);
    if (phone_) return *phone_;
  }
  TNokiaPhone* fresh = NewPhone();
  std::lock_guard<std::mutex> g(phoneLock_);
  phone_ = fresh;
  return *phone_;
}

TFinderDevices& TFindThread::Devices() {
  return finder_.setup_.devices ? *finder_.setup_.devices : GetFinderDevices();
}

TIrDiscovery& TFindThread::IrDiscovery() {
  if (!irDiscovery_) {
    irDiscovery_ = Devices().CreateIrDiscovery();
    if (!irDiscovery_) throw EThread("No infrared discovery");
    irDiscovery_->OnDeviceConnected = TIrDeviceConnectedEvent::Bind<&TFindThread::IrDeviceConnected>(this);
  }
  return *irDiscovery_;
}

void TFindThread::Pause(std::uint32_t ms) {
  std::unique_lock<std::mutex> lk(pauseLock_);
  pauseWake_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return Terminated(); });
}

void TFindThread::OnMainThread(const std::function<void()>& call) {
  if (MainThreadID() == 0)
    call();  // no main thread declared: nobody else would run it
  else
    Synchronize(call);
}

void TFindThread::Execute() {
  while (!Terminated()) {
    CheckSuspended();
    if (Terminated()) break;
    try {
      RunPass();
    } catch (...) {
      // The pass ends here. It keeps its pause, so a lasting error cannot
      // turn the search into a busy loop.
      SwallowException("TFindThread.Execute: a search pass");
      Pause(kPassPauseMs);
    }
  }
  Log("Find thread is finished");
  TNokiaPhone* phone = nullptr;
  {
    std::lock_guard<std::mutex> g(phoneLock_);
    std::swap(phone, phone_);
  }
  try {
    FreeObject(phone);
  } catch (...) {
    SwallowException("TFindThread.Execute: freeing the thread's phone");
  }
  try {
    irDiscovery_.reset();
  } catch (...) {
    SwallowException("TFindThread.Execute: freeing the infrared discovery");
  }
  finder_.finished_ = true;
  // Wakes the main thread's wait in Shutdown.
  try {
    OnMainThread([] {});
  } catch (...) {
    SwallowException("TFindThread.Execute: waking the main thread's wait");
  }
}

void TFindThread::RunPass() {
  TFinderPass pass;
  pass.MarkGeneration = finder_.markGeneration_.load();
  finder_.passGeneration_ = pass.MarkGeneration;
  TryComPorts(pass);
  Pause(kPassPauseMs);
  if (Terminated()) return;
  if (finder_.ScanIrDA) {
    if (finder_.IrDAState == 0)
      TryIrDA(pass);
    else
      pass.PassedOver = true;
  }
  if (Terminated()) return;
  if (finder_.ScanDku2) TryDku2(pass);
  if (Terminated()) return;
  if (finder_.ScanDku5) TryDku5(pass);
  Pause(kPassPauseMs);
  if (Terminated()) return;
  if (pass.Tried) ++finder_.passCount_;
  if (finder_.OnPass) {
    try {
      SyncPass(pass);
    } catch (...) {
      SwallowException("TFindThread.RunPass: reporting the pass");
    }
  }
}

bool TFindThread::ConnectAndHandOver() {
  TNokiaPhone& phone = Phone();
  if (!phone.Connect(false)) return false;
  if (phone.GetIMEI().empty() || !finder_.OnFound) return false;
  return SyncFound();
}

void TFindThread::TryComPorts(TFinderPass& pass) {
  for (int n = kFirstFinderPort; n <= kLastFinderPort; ++n) {
    for (int k = 1; k <= kAttemptsPerPort; ++k) {
      if (Terminated()) return;
      // Read for each attempt: the wizard may clear the marks meanwhile.
      const std::uint8_t mark = finder_.GetPortMethod(n);
      const std::uint8_t linkMethod = LinkMethodOfMark(mark);
      if (mark == 0 || mark == kMarkDku5 || linkMethod == 0xFF) break;
      if (!finder_.GetPortEnabled(n)) {
        if (k == 1) pass.PassedOver = true;
        break;
      }
      pass.Tried = true;
      Log("Trying to connect to COM" + std::to_string(n) + " using method " + std::to_string(mark & 0x7F) +
          " (attempt" + std::to_string(k) + ")");
      finder_.currentPort_ = n;
      TNokiaPhone& phone = Phone();
      phone.Disconnect();
      phone.LinkMethod = linkMethod;
      phone.SetPort(n);
      if (ConnectAndHandOver()) {
        finder_.SetPortEnabled(n, 0);
        break;
      }
      const std::uint16_t code = Phone().FailureCode();
      if (code == 12) finder_.SetPortEnabled(n, 0);
      if (code != 0 && code != finder_.LastCode(n)) SyncFailure(code);
      if (Terminated()) return;
      Pause(kAttemptPauseMs);
    }
  }
}

void TFindThread::TryIrDA(TFinderPass& pass) {
  pass.Tried = true;
  Log("Trying to connect to IR");
  Phone().Disconnect();
  finder_.currentPort_ = 0;
  TIrDiscovery& ir = IrDiscovery();
  const int count = ir.ConnectAllDevices();
  const std::uint16_t code = ir.ErrorCode();
  if (code != 0 && code != finder_.irdaLastCode_.load()) SyncFailure(code);
  if (code == 2) finder_.IrDAState = 255;  // not tried again until the wizard clears the state
  if (count > 0) finder_.irdaLastCode_ = 0;
}

void TFindThread::IrDeviceConnected(const std::string& name, std::intptr_t socket) {
  TNokiaPhone& phone = Phone();
  // Device names carry the model number in characters 7 to 10 ("Nokia 6310").
  if (name.size() > 6) phone.ModelNumberHint = StrToIntDef(Trim(name.substr(6, 4)), phone.ModelNumberHint);
  phone.Socket = socket;
  phone.LinkMethod = kLinkInfrared;
  ConnectAndHandOver();
}

void TFindThread::TryDku2(TFinderPass& pass) {
  pass.Tried = true;
  finder_.currentPort_ = kDku2Port;
  TFinderDevices& devices = Devices();
  const std::vector<std::string> paths = devices.ListDku2DevicePaths();
  std::uint16_t code = Phone().FailureCode();
  if (paths.empty()) {
    Log("No DKU-2 device found");
    if (finder_.LastCode(0) != 12) SyncFailure(12);
    return;
  }
  for (const std::string& path : paths) {
    try {
      if (Terminated()) return;
      if (finder_.FoundDku2List().IndexOf(path) >= 0) continue;
      Log("Trying to connect to DKU-2: " + path);
      // Each device counts as the DKU-2 candidate until it is open, also after
      // an earlier device of this pass was opened.
      finder_.currentPort_ = kDku2Port;
      std::uint32_t systemError = 0;
      const std::intptr_t handle = devices.OpenDku2Device(path, systemError);
      if (handle == 0 || handle == -1) {
        if (systemError == 5)
          code = 11;
        else if (systemError == 2)
          code = 12;
        if (code != 0 && code != finder_.LastCode(0)) SyncFailure(code);
        continue;
      }
      TNokiaPhone& phone = Phone();
      phone.Disconnect();
      finder_.currentPort_ = 0;
      phone.LinkMethod = kLinkDku2;
      phone.Socket = handle;
      phone.Dku2Path = path;
      if (phone.Connect(false) && !phone.GetIMEI().empty() && finder_.OnFound) {
        finder_.FoundDku2List().Add(path);
        if (SyncFound()) return;
      }
      code = Phone().FailureCode();
    } catch (...) {
      // this device is passed over; the others are still tried
      SwallowException("TFindThread.TryDku2: trying a DKU-2 device");
    }
  }
}

void TFindThread::TryDku5(TFinderPass& pass) {
  finder_.CollectUsbVspPorts(true);
  finder_.CollectCa42Ports(false);
  for (const std::int32_t p : finder_.UsbComPorts()) {
    // The tables and the serial link hold COM ports 1 to 255 only.
    if (!TPhoneFinder::InTable(p)) continue;
    if (finder_.GetPortMethod(p) == 0) {
      finder_.SetPortMethod(p, kMarkDlr3Cable);
      finder_.SetPortEnabled(p, 1);
    }
    for (int k = 1; k <= kAttemptsPerPort; ++k) {
      if (Terminated()) return;
      if (!finder_.GetPortEnabled(p)) {
        if (k == 1) pass.PassedOver = true;
        break;
      }
      pass.Tried = true;
      Log("Trying to connect to COM" + std::to_string(p) + " using DKU " + " (attempt" + std::to_string(k) + ")");
      finder_.currentPort_ = p;
      TNokiaPhone& phone = Phone();
      phone.Disconnect();
      phone.LinkMethod = kLinkAtSwitch;
      phone.SetPort(p);
      phone.Disconnect();
      if (ConnectAndHandOver()) {
        finder_.SetPortEnabled(p, 0);
        break;
      }
      const std::uint16_t code = Phone().FailureCode();
      if (code == 12) finder_.SetPortEnabled(p, 0);
      if (code != 0 && code != finder_.LastCode(p)) SyncFailure(code);
      if (Terminated()) return;
      Pause(kAttemptPauseMs);
    }
  }
}

// --- Hand-overs to the main thread ---------------------------------------------------------------

bool TFindThread::SyncFound() {
  bool handedOver = false;
  OnMainThread([this, &handedOver] {
    Log("Connect OK");
    const TPhoneFoundEvent onFound = finder_.OnFound.Get();
    if (!onFound) return;  // the thread keeps its phone
    const std::int32_t port = finder_.currentPort_.load();
    if (port != 0) {
      finder_.SetPortEnabled(port, 0);
      finder_.SetLastCode(port, 0);
    } else {
      finder_.irdaLastCode_ = 0;
      ++finder_.IrDAState;
    }
    TNokiaPhone* found = nullptr;
    {
      std::lock_guard<std::mutex> g(phoneLock_);
      std::swap(found, phone_);
    }
    handedOver = true;
    try {
      onFound(found);  // the handler owns the phone from here on
    } catch (...) {
      SwallowException("TFindThread.SyncFound: the OnFound handler");
    }
  });
  if (handedOver) {
    TNokiaPhone* fresh = NewPhone();
    std::lock_guard<std::mutex> g(phoneLock_);
    phone_ = fresh;
  }
  return handedOver;
}

void TFindThread::SyncFailure(std::uint16_t code) {
  OnMainThread([this, code] {
    Log("Connect failed");
    const TPhoneFailureEvent onFailure = finder_.OnFailure.Get();
    if (!onFailure) return;
    const std::int32_t port = finder_.currentPort_.load();
    if (port == 0)
      finder_.irdaLastCode_ = code;
    else if (port == kDku2Port)
      finder_.SetLastCode(0, code);
    else
      finder_.SetLastCode(port, code);
    Log("Failure code is " + std::to_string(code));
    onFailure(port, code);
  });
}

void TFindThread::SyncPass(TFinderPass pass) {
  OnMainThread([this, &pass] {
    const TFinderPassEvent onPass = finder_.OnPass.Get();
    if (!onPass) return;
    pass.Count = finder_.passCount_.load();
    try {
      onPass(pass);
    } catch (...) {
      SwallowException("TFindThread.SyncPass: the OnPass handler");
    }
  });
}

// --- The unit ------------------------------------------------------------------------------------

TPhoneFinder* PhoneFinder = nullptr;
TStringList* FoundDku2Paths = nullptr;

void PhoneFindInitialization() {
  FoundDku2Paths = New<TStringList>();
  PhoneFinder = New<TPhoneFinder>(false);
}

void PhoneFindFinalization() {
  try {
    if (PhoneFinder) PhoneFinder->Shutdown();
  } catch (...) {
    SwallowException("PhoneFindFinalization: shutting the finder down");
  }
  try {
    FreeAndNil(PhoneFinder);
  } catch (...) {
    SwallowException("PhoneFindFinalization: freeing the finder");
  }
  try {
    FreeAndNil(FoundDku2Paths);
  } catch (...) {
    SwallowException("PhoneFindFinalization: freeing the DKU-2 path list");
  }
}
