#include "CommP.h"

#include <algorithm>

#include "OverlappedIo.h"
#include "Scope.h"

namespace {

// How often the event thread looks at the input queue when the driver cannot
// wait for line events, and how soon unread bytes are reported again.
constexpr DWORD kPollIntervalMs = 10;
constexpr DWORD kPollRepeatMs = 100;
// Bound of a read of bytes already queued, and of a line-event wait.
constexpr DWORD kReadWaitMs = 1000;
constexpr DWORD kLineEventWaitMs = 500;

std::string WithError(const char* text, DWORD error) {
  return text + std::to_string(error);
}

int QueuedBytes(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(handle, &errors, &stat)) return 0;
  return static_cast<int>(std::min<DWORD>(stat.cbInQue, 0x7FFFFFFF));
}

}  // namespace

DWORD BaudRateValue(TBaudRate rate) {
  static constexpr DWORD kRates[] = {110,   300,   600,   1200,  2400,  4800,   9600,
                                     14400, 19200, 38400, 56000, 57600, 115200, 230400};
  const auto i = static_cast<std::size_t>(rate);
  return i < std::size(kRates) ? kRates[i] : 9600;
}

DWORD WriteWaitMilliseconds(std::size_t bytes) {
  constexpr DWORD kLeast = 100, kMost = 3200;
  if (bytes > kMost / 3) return kMost;
  return std::max(static_cast<DWORD>(bytes) * 3, kLeast);
}

DWORD EventMaskOf(TEvents events) {
  static constexpr DWORD kBits[] = {EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING, EV_BREAK,
                                    EV_CTS,    EV_DSR,     EV_ERR,    EV_RLSD};
  DWORD mask = 0;
  for (int e = evRxChar; e <= evRLSD; ++e) {
    if (events.Contains(static_cast<TEvent>(e))) mask |= kBits[e];
  }
  return mask;
}

// --- TComThread ----------------------------------------------------------------------------------

FW_IMPLEMENT_CLASS(TComThread)

TComThread::TComThread(TCustComPort* port)
    : TThread(true), port_(port), handle_(port->handle_), maskBits_(EventMaskOf(port->Events)) {
  if (!stopEvent_.Valid()) {
    const DWORD error = stopEvent_.CreateError();
    throw EComState(WithError("Unable to set com state: ", error), error);
  }
  SetCommMask(handle_, maskBits_);
}

void TComThread::AfterConstruction() {
  inherited::AfterConstruction();
  Resume();
}

void TComThread::Destroy() {
  StopWaiting();
  inherited::Destroy();  // terminates and waits unless the thread frees itself
}

void TComThread::StopWaiting() {
  stopEvent_.Set();
}

void TComThread::Orphan() {
  ownsHandle_ = true;
  port_ = nullptr;
  FreeOnTerminate = true;
  Terminate();
  StopWaiting();
}

void TComThread::Execute() {
  WaitWithDriver();
  if (polling_) PollInput();
  PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR);
  if (ownsHandle_) CloseHandle(handle_);
}

void TComThread::WaitWithDriver() {
  // A driver that reports success with an empty mask over and over is not
  // waiting for anything either.
  int emptyInARow = 0;
  for (;;) {
    TOverlappedIo io(handle_);
    const TIoResult r =
        io.Run([&](OVERLAPPED* ov) { return WaitCommEvent(handle_, &io.Mask(), ov); }, INFINITE, stopEvent_);
    if (r.end == TIoResult::ioStopped) return;
    if (r.end != TIoResult::ioDone) {
      // No line-event wait on this driver (a pseudo-terminal under Wine, or a
      // mask it does not support), or one aborted at once: poll instead.
      polling_ = true;
      return;
    }
    const DWORD mask = io.Mask();
    if (mask == 0) {
      if (++emptyInARow >= 3) {
        polling_ = true;
        return;
      }
      continue;
    }
    emptyInARow = 0;
    Deliver(mask);
  }
}

void TComThread::PollInput() {
  int last = 0;
  DWORD lastReport = 0;
  while (WaitForSingleObject(stopEvent_, kPollIntervalMs) == WAIT_TIMEOUT) {
    const int queued = QueuedBytes(handle_);
    if (queued <= 0) {
      last = 0;
      continue;
    }
    if (queued == last && GetTickCount() - lastReport < kPollRepeatMs) continue;
    Deliver(EV_RXCHAR);
    last = QueuedBytes(handle_);
    lastReport = GetTickCount();
  }
}

void TComThread::Deliver(DWORD mask) {
  if (TCustComPort* port = port_.load()) {
    // Counted before the signal: a waiter that finds the count unchanged is
    // sure to see the signal.
    port->lineEvents_.fetch_add(1);
    port->lineEvent_.Set();
  }
  mask &= maskBits_;
  if (mask == 0 || Terminated()) return;
  eventMask_ = mask;
  Synchronize([this] { DispatchEvents(); });
}

void TComThread::DispatchEvents() {
  // Runs on the main thread while this thread waits in Synchronize. A port that
  // is closing (or gone) runs no more handlers; a handler may close it.
  dispatchingThread_ = GetCurrentThreadId();
  TScopeExit reset([this]() noexcept { dispatchingThread_ = 0; });
  const auto live = [this]() -> TCustComPort* {
    TCustComPort* port = port_.load();
    return port && !port->closing_ && !Terminated() ? port : nullptr;
  };
  const DWORD mask = eventMask_;
  if (mask & EV_RXCHAR) {
    if (TCustComPort* p = live(); p && p->OnRxChar) p->OnRxChar(p, p->InputCount());
  }
  const struct {
    DWORD bit;
    TNotifyEvent TCustComPort::*handler;
  } kOthers[] = {{EV_TXEMPTY, &TCustComPort::OnTxEmpty}, {EV_BREAK, &TCustComPort::OnBreak},
                 {EV_RING, &TCustComPort::OnRing},       {EV_CTS, &TCustComPort::OnCTS},
                 {EV_DSR, &TCustComPort::OnDSR},         {EV_RXFLAG, &TCustComPort::OnRxFlag},
                 {EV_RLSD, &TCustComPort::OnRLSD},       {EV_ERR, &TCustComPort::OnError}};
  for (const auto& other : kOthers) {
    if (!(mask & other.bit)) continue;
    if (TCustComPort* p = live(); p && p->*other.handler) (p->*other.handler)(p);
  }
}

// --- TCustComPort --------------------------------------------------------------------------------

// clang-format off
FW_BEGIN_CLASS(TCustComPort)
  FW_PROP(BaudRate, BaudRate, BaudRate)
  FW_PROP(Port, Port, Port)
  FW_PROP(Parity, Parity, Parity)
  FW_PROP(StopBits, StopBits, StopBits)
  FW_PROP(FlowControl, FlowControl, FlowControl)
  FW_PROP(DataBits, GetDataBits, StoreDataBits)
  FW_PROP(Events, Events, Events)
  FW_PROP(EnableDTR, EnableDTR, EnableDTR)
  FW_PROP(WriteBufSize, WriteBufSize, WriteBufSize)
  FW_PROP(ReadBufSize, ReadBufSize, ReadBufSize)
  FW_EVENT(OnRxChar, OnRxChar)
  FW_EVENT(OnTxEmpty, OnTxEmpty)
  FW_EVENT(OnBreak, OnBreak)
  FW_EVENT(OnRing, OnRing)
  FW_EVENT(OnCTS, OnCTS)
  FW_EVENT(OnDSR, OnDSR)
  FW_EVENT(OnRLSD, OnRLSD)
  FW_EVENT(OnRxFlag, OnRxFlag)
  FW_EVENT(OnError, OnError)
  FW_EVENT(OnOpen, OnOpen)
  FW_EVENT(OnClose, OnClose)
  FW_PROP(DTR, GetDTR, StoreDTR)
  FW_PROP(RTS, GetRTS, StoreRTS)
FW_END_CLASS
// clang-format on

TCustComPort::TCustComPort(TComponent* owner) : TComponent(owner) {}

void TCustComPort::Destroy() {
  ClosePort();
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  inherited::Destroy();
}

std::string TCustComPort::DeviceName() const {
  return "\\\\.\\COM" + std::to_string(Port);
}

void TCustComPort::OpenPort() {
  ClosePort();
  closing_ = false;
  answerMark_ = lineEvents_.load();
  CreateHandle();
  try {
    ApplySettings();
    thread_ = New<TComThread>(this);
  } catch (...) {
    // A port left open here would stay "in use" until the program ends.
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    throw;
  }
  connected_ = true;
  if (OnOpen) OnOpen(this);
}

void TCustComPort::ClosePort() {
  if (!connected_) return;
  closing_ = true;
  if (thread_ && thread_->dispatchingThread_.load() == GetCurrentThreadId()) {
    // Closed from one of this port's own handlers: the thread is waiting for
    // that handler to return, so it cannot be waited for here.
    thread_->Orphan();
    thread_ = nullptr;
    handle_ = INVALID_HANDLE_VALUE;
  } else {
    FreeAndNil(thread_);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  connected_ = false;
  if (OnClose) OnClose(this);
}

void TCustComPort::CreateHandle() {
  const std::string name = DeviceName();
  handle_ =
      CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    throw EComHandle(WithError("Unable to open com port: ", error), error);
  }
}

void TCustComPort::ApplySettings() {
  const auto fail = [] {
    const DWORD error = GetLastError();
    throw EComState(WithError("Unable to set com state: ", error), error);
  };
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  dcb.fBinary = 1;
  dcb.XonLim = static_cast<WORD>(std::clamp(WriteBufSize / 4, 0, 0xFFFF));
  dcb.XoffLim = 1;
  switch (FlowControl) {
    case fcRtsCts:
      dcb.fOutxCtsFlow = 1;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case fcXonXoff:
      dcb.fOutX = 1;
      dcb.fInX = 1;
      break;
    case fcDLR:
      dcb.fDtrControl = DTR_CONTROL_ENABLE;
      dcb.fRtsControl = RTS_CONTROL_ENABLE;
      break;
    default:
      dcb.fDtrControl = DTR_CONTROL_DISABLE;
      dcb.fRtsControl = RTS_CONTROL_DISABLE;
      break;
  }
  dcb.Parity = static_cast<BYTE>(Parity);
  dcb.StopBits = static_cast<BYTE>(StopBits);
  dcb.BaudRate = BaudRateValue(BaudRate);
  dcb.ByteSize = dataBits_;
  if (!SetCommState(handle_, &dcb)) fail();
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(handle_, &timeouts)) fail();
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 1000;
  timeouts.WriteTotalTimeoutConstant = 1500;
  if (!SetCommTimeouts(handle_, &timeouts)) fail();
  if (!SetupComm(handle_, static_cast<DWORD>(ReadBufSize), static_cast<DWORD>(WriteBufSize))) fail();
}

int TCustComPort::WriteData(const std::string& data) {
  // What the line does from here on answers this write.
  answerMark_ = lineEvents_.load();
  TOverlappedIo io(handle_);
  io.Buffer() = data;  // the system reads from here until the write has ended
  const auto size = static_cast<DWORD>(std::min<std::size_t>(data.size(), 0x7FFFFFFF));
  const TIoResult r = io.Run([&](OVERLAPPED* ov) { return WriteFile(handle_, io.Buffer().data(), size, nullptr, ov); },
                             WriteWaitMilliseconds(size));
  return r.end == TIoResult::ioDone ? static_cast<int>(r.bytes) : 0;
}

int TCustComPort::ReadData(std::string& data, int count) {
  data.clear();
  // Only what is queued: on some drivers a read of an empty queue would wait
  // for the next byte despite the read time-outs.
  const int size = std::min(count, InputCount());
  if (size <= 0) return 0;
  TOverlappedIo io(handle_);
  io.Buffer().assign(static_cast<std::size_t>(size), '\0');
  const TIoResult r = io.Run(
      [&](OVERLAPPED* ov) { return ReadFile(handle_, io.Buffer().data(), static_cast<DWORD>(size), nullptr, ov); },
      kReadWaitMs);
  if (r.givenUp) return 0;  // the system still owns the record: it stays alive
  if (r.error != 0) {
    if (r.error == ERROR_OPERATION_ABORTED) return 0;
    throw EComRead(WithError("Unable to read com port: ", r.error), r.error);
  }
  // What came, also when the read completed while it was being cancelled.
  data.assign(io.Buffer().data(), std::min<std::size_t>(r.bytes, io.Buffer().size()));
  return static_cast<int>(data.size());
}

bool TCustComPort::WaitForEvent() {
  if (thread_) {
    // The event thread has its own wait pending on the handle; it counts and
    // signals what it sees. The answer to the last write may have come, and
    // been read by OnRxChar, while the caller paused handling messages: it
    // ends the wait at once. A signal left from before the mark ends nothing.
    if (TakeLineEvent() || InputCount() > 0) return true;
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < kLineEventWaitMs; waited = GetTickCount() - start) {
      const DWORD result = WaitForSingleObject(lineEvent_, kLineEventWaitMs - waited);
      if (TakeLineEvent()) return true;
      if (result == WAIT_FAILED) break;  // no signal to wait for: no spinning either
    }
    ++waitsRunOut_;
    return false;
  }
  TOverlappedIo io(handle_);
  const TIoResult r = io.Run([&](OVERLAPPED* ov) { return WaitCommEvent(handle_, &io.Mask(), ov); }, kLineEventWaitMs);
  if (r.end == TIoResult::ioTimedOut) {
    ++waitsRunOut_;
    return false;
  }
  return r.end == TIoResult::ioDone;
}

bool TCustComPort::TakeLineEvent() {
  const std::uint32_t seen = lineEvents_.load();
  if (seen == answerMark_.load()) return false;
  answerMark_ = seen;
  return true;
}

void TCustComPort::PurgeInput() {
  PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR);
}
void TCustComPort::PurgeOutput() {
  PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
}
void TCustComPort::PurgeAll() {
  PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
}
void TCustComPort::RaiseDTR() {
  EscapeCommFunction(handle_, SETDTR);
}
void TCustComPort::LowerRTS() {
  EscapeCommFunction(handle_, CLRRTS);
}

void TCustComPort::ClearLineErrors() {
  DWORD errors = 0;
  COMSTAT stat{};
  ClearCommError(handle_, &errors, &stat);
}

int TCustComPort::InputCount() {
  return QueuedBytes(handle_);
}

void TCustComPort::StoreDataBits(std::uint8_t value) {
  if (value == dataBits_) return;
  dataBits_ = std::clamp<std::uint8_t>(value, 5, 8);
}

void TCustComPort::StoreDTR(bool value) {
  if (value == dtr_) return;
  if (!connected_ || EscapeCommFunction(handle_, value ? SETDTR : CLRDTR)) dtr_ = value;
}

void TCustComPort::StoreRTS(bool value) {
  if (value == rts_) return;
  if (!connected_ || EscapeCommFunction(handle_, value ? SETRTS : CLRRTS)) rts_ = value;
}
