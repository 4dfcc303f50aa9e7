#include "IrThread.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "CommP.h"
#include "Debug.h"
#include "LinkFrames.h"
#include "OverlappedIo.h"
#include "PumpingWait.h"
#include "Swallow.h"

FW_IMPLEMENT_CLASS(TIrThread)

namespace {

void Log(const std::string& text) {
  if (DebugEngine) DebugEngine->LogEvent(text, 0, 0);
}

bool IsOpenValue(std::intptr_t handle) {
  return handle != 0 && handle != -1;
}

}  // namespace

// --- TIrReaderLink -------------------------------------------------------------------------------

TIrReaderLink::TIrReaderLink(std::intptr_t handle, std::uint8_t mode, TIrFrameEvent onFrame, TNotifyEvent onEnded)
    : mode_(mode), handle_(handle), onFrame_(onFrame), onEnded_(onEnded) {
  if (mode_ == kIrReaderSocket) {
    // The socket layer stays up while the link lives, whoever made the socket.
    WSADATA data;
    winsockStarted_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
  }
}

TIrReaderLink::~TIrReaderLink() {
  try {
    CloseAndEnd();
  } catch (...) {
    SwallowException("TIrReaderLink.Destroy: closing the link");
  }
  if (winsockStarted_) WSACleanup();
}

std::uint8_t TIrReaderLink::Media() const {
  return mode_ == kIrReaderSocket ? kPhonetMediaInfrared : kPhonetMediaDku2;
}

bool TIrReaderLink::Usable() const {
  return IsOpenValue(handle_) && cancel_.Valid() && started_.Valid() && ended_.Valid() &&
         (mode_ == kIrReaderDku2 || winsockStarted_);
}

void TIrReaderLink::Stop() {
  cancel_.Set();
}

bool TIrReaderLink::Stopping() const {
  return !cancel_.Valid() || cancel_.Signalled();
}

void TIrReaderLink::Detach() {
  std::lock_guard<std::recursive_mutex> g(handlerLock_);
  onFrame_ = TIrFrameEvent();
  onEnded_ = TNotifyEvent();
}

bool TIrReaderLink::HasHandlers() const {
  std::lock_guard<std::recursive_mutex> g(handlerLock_);
  return static_cast<bool>(onFrame_) || static_cast<bool>(onEnded_);
}

bool TIrReaderLink::WaitEnded(std::uint32_t ms) {
  if (!ended_.Valid()) return false;
  if (Ended()) return true;
  return PumpingWaitForObjects(ended_.Address(), 1, ms) == 0;
}

bool TIrReaderLink::Ended() const {
  return ended_.Signalled();
}

void TIrReaderLink::MarkStarted() {
  started_.Set();
}

bool TIrReaderLink::WaitStarted(std::uint32_t ms) {
  if (!started_.Valid()) return false;
  if (started_.Signalled()) return true;
  // The creator's messages (and on the main thread synchronous calls) keep
  // flowing while the thread starts.
  return PumpingWaitForObjects(started_.Address(), 1, ms) == 0;
}

bool TIrReaderLink::Pause() {
  if (!cancel_.Valid()) {
    Sleep(kIrPollMs);
    return false;
  }
  return WaitForSingleObject(cancel_, kIrPollMs) == WAIT_TIMEOUT;
}

void TIrReaderLink::CloseAndEnd() {
  {
    std::lock_guard<std::mutex> io(ioLock_);
    if (open_) {
      open_ = false;
      if (IsOpenValue(handle_)) {
        if (mode_ == kIrReaderSocket)
          closesocket(static_cast<SOCKET>(handle_));
        else
          CloseHandle(reinterpret_cast<HANDLE>(handle_));
      }
    }
  }
  ended_.Set();
}

int TIrReaderLink::Write(const std::string& data) {
  std::lock_guard<std::mutex> io(ioLock_);
  if (!open_ || !IsOpenValue(handle_)) return -static_cast<int>(ERROR_INVALID_HANDLE);
  if (data.empty()) return 0;
  return mode_ == kIrReaderSocket ? SendSocket(data) : WriteDku2(data);
}

int TIrReaderLink::WriteDku2(const std::string& data) {
  const HANDLE device = reinterpret_cast<HANDLE>(handle_);
  const DWORD size = static_cast<DWORD>(std::min<std::size_t>(data.size(), 0x7FFFFFFF));
  TOverlappedIo io(device);
  io.Buffer() = data;  // the record's own copy: it outlives a write that is given up
  const TIoResult r = io.Run([&](OVERLAPPED* ov) { return WriteFile(device, io.Buffer().data(), size, nullptr, ov); },
                             WriteWaitMilliseconds(size));
  // A write that ran out of time was cancelled: what it wrote meanwhile counts.
  if (r.error) return -static_cast<int>(r.error & 0x7FFFFFFF);
  return static_cast<int>(r.bytes);
}

int TIrReaderLink::SendSocket(const std::string& data) {
  const SOCKET s = static_cast<SOCKET>(handle_);
  const DWORD start = GetTickCount();
  const DWORD budget = WriteWaitMilliseconds(data.size());
  std::size_t sent = 0;
  while (sent < data.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(data.size() - sent, INT_MAX));
    const int n = send(s, data.data() + sent, chunk, 0);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    const int error = WSAGetLastError();
    if (n == 0 || error != WSAEWOULDBLOCK) return -(error ? error : WSAECONNRESET);
    // The reader made the socket non-blocking: wait until it takes more.
    const DWORD used = GetTickCount() - start;
    if (used >= budget) return -WSAETIMEDOUT;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval left{static_cast<long>((budget - used) / 1000), static_cast<long>((budget - used) % 1000 * 1000)};
    if (select(0, nullptr, &writable, nullptr, &left) == SOCKET_ERROR) return -WSAGetLastError();
  }
  return static_cast<int>(std::min<std::size_t>(sent, INT_MAX));
}

int TIrReaderLink::ReadDku2(std::string& data, int count) {
  data.clear();
  const HANDLE device = reinterpret_cast<HANDLE>(handle_);
  TOverlappedIo io(device);
  io.Buffer().assign(static_cast<std::size_t>(std::max(count, 1)), '\0');
  const TIoResult r = io.Run(
      [&](OVERLAPPED* ov) {
        return ReadFile(device, &io.Buffer()[0], static_cast<DWORD>(io.Buffer().size()), nullptr, ov);
      },
      INFINITE, cancel_);
  if (r.end == TIoResult::ioStopped) return -1;  // cancelled, collected or given up: nothing read
  if (r.end != TIoResult::ioDone) return -static_cast<int>((r.error ? r.error : 1) & 0x7FFFFFFF);
  data.assign(io.Buffer(), 0, std::min<std::size_t>(r.bytes, io.Buffer().size()));
  return static_cast<int>(data.size());
}

void TIrReaderLink::Deliver(std::uint8_t msgType, const std::string& frame) {
  std::lock_guard<std::recursive_mutex> g(handlerLock_);
  const TIrFrameEvent handler = onFrame_;
  if (handler) handler(msgType, frame);
}

void TIrReaderLink::NotifyEnded(TObject* sender) {
  std::lock_guard<std::recursive_mutex> g(handlerLock_);
  const TNotifyEvent handler = onEnded_;
  onEnded_ = TNotifyEvent();  // told once
  if (handler) handler(sender);
}

// --- TIrThread -----------------------------------------------------------------------------------

TIrThread::TIrThread(std::shared_ptr<TIrReaderLink> link)
    : TThread(false), link_(std::move(link)), cutter_(link_ ? link_->Media() : kPhonetMediaInfrared) {
  FreeOnTerminate = true;
}

void TIrThread::AfterConstruction() {
  // The thread may end and free itself as soon as it runs: only the link is
  // used from here on.
  const std::shared_ptr<TIrReaderLink> link = link_;
  inherited::AfterConstruction();
  if (link) link->WaitStarted(kIrStartWaitMs);
}

bool TIrThread::StartReader(const std::shared_ptr<TIrReaderLink>& link) {
  if (!link || !link->Usable()) return false;
  try {
    New<TIrThread>(link);
    return true;
  } catch (...) {
    return false;
  }
}

void TIrThread::Execute() {
  const std::shared_ptr<TIrReaderLink> link = link_;
  if (link->Mode() == kIrReaderSocket) {
    // Before anything is sent: a send to a phone that stopped reading must end
    // within its time budget instead of blocking with the link's locks held.
    u_long nonBlocking = 1;
    ioctlsocket(static_cast<SOCKET>(link->Handle()), FIONBIO, &nonBlocking);
  }
  link->MarkStarted();
  try {
    bool running = true;
    while (running && !Terminated() && !link->Stopping()) {
      cutter_.Clear();
      try {
        while (!Terminated() && link->Pause()) {
          if (!Cycle()) {
            running = false;
            break;
          }
        }
        if (Terminated() || link->Stopping()) break;
      } catch (...) {
        // The cycle's error is dropped with the partial frame; the reading goes on.
        SwallowException("TIrThread.Execute: a reading cycle");
      }
    }
  } catch (...) {
    SwallowException("TIrThread.Execute: the reading loop");
  }
  link->CloseAndEnd();
}

bool TIrThread::Cycle() {
  const std::shared_ptr<TIrReaderLink>& link = link_;
  std::string bytes;
  int result = 0;
  int error = 0;
  if (link->Mode() == kIrReaderSocket) {
    const SOCKET s = static_cast<SOCKET>(link->Handle());
    u_long waiting = 0;
    if (ioctlsocket(s, FIONREAD, &waiting) == SOCKET_ERROR) {
      result = -1;
      error = WSAGetLastError();
    } else if (waiting == 0) {
      if (cutter_.EmptyPoll()) Log("Partial frame dropped");
      return true;
    } else {
      char buffer[kIrReceiveSize];
      result = recv(s, buffer, kIrReceiveSize, 0);
      if (result > 0) {
        bytes.assign(buffer, static_cast<std::size_t>(result));
      } else if (result < 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) return true;  // nothing after all: poll again
      }
    }
  } else {
    result = link->ReadDku2(bytes, kDku2ReadSize);
    if (result < 0) error = -result;
  }

  if (result < 0) {
    if (!(link->Mode() == kIrReaderDku2 && link->Stopping()))
      Log("Error #" + std::to_string(error) + ": " + HexDumpText(cutter_.Pending()));
    return false;
  }
  if (result == 0) return true;
  Log("(" + std::to_string(result) + "/" + std::to_string(cutter_.Pending().size() + bytes.size()) +
      "):" + HexDumpText(bytes));
  for (const std::string& frame : cutter_.Feed(bytes)) DeliverFrame(frame);
  return true;
}

void TIrThread::DeliverFrame(const std::string& frame) {
  if (frame.size() <= 3) return;
  const std::shared_ptr<TIrReaderLink> link = link_;
  if (!link->HasHandlers()) return;
  try {
    Synchronize([link, &frame] {
      try {
        link->Deliver(static_cast<std::uint8_t>(frame[3]), frame);
      } catch (...) {
        SwallowException("TIrThread.DeliverFrame: handing a frame to the link");
      }
    });
  } catch (...) {
    SwallowException("TIrThread.DeliverFrame: synchronizing with the main thread");
  }
}

void TIrThread::DoTerminate() {
  const std::shared_ptr<TIrReaderLink> link = link_;
  if (!link || !link->HasHandlers()) return;
  TObject* self = this;
  try {
    Synchronize([link, self] {
      try {
        link->NotifyEnded(self);
      } catch (...) {
        SwallowException("TIrThread.DoTerminate: reporting the ended link");
      }
    });
  } catch (...) {
    SwallowException("TIrThread.DoTerminate: synchronizing with the main thread");
  }
}
