// The reader of an infrared socket or an opened DKU-2 USB device: a thread that
// polls (socket) or reads (DKU-2) the link, cuts the bytes into PhoNet frames
// and hands each frame to the main thread.
//
// The reader thread frees itself when it ends, so the link sender never holds
// it. What the two share lives in a TIrReaderLink that both own: the link
// handle (closed once, by the thread, when it ends; writes and the close take
// turns), the cancel event (closed only when the last owner lets go), and the
// handlers (cleared by the sender when it is released, so no frame or end
// notice reaches a freed sender).
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "KernelHandles.h"
#include "Method.h"
#include "PhonetCutter.h"
#include "Thread.h"

// Reader modes: an infrared (or loopback) stream socket, or a DKU-2 device handle.
inline constexpr std::uint8_t kIrReaderSocket = 0;
inline constexpr std::uint8_t kIrReaderDku2 = 1;
// Pause between two polls of the link.
inline constexpr std::uint32_t kIrPollMs = 30;
// Most bytes taken by one recv (socket) and one read (DKU-2).
inline constexpr int kIrReceiveSize = 2000;
inline constexpr int kDku2ReadSize = 5000;
// Longest wait of a reader's creator for the thread to run.
inline constexpr std::uint32_t kIrStartWaitMs = 10000;

using TIrFrameEvent = Method<void(std::uint8_t msgType, const std::string& frame)>;

class TIrReaderLink {
 public:
  // `handle` is a SOCKET (mode kIrReaderSocket) or a HANDLE (kIrReaderDku2);
  // from now on it belongs to the link.
  TIrReaderLink(std::intptr_t handle, std::uint8_t mode, TIrFrameEvent onFrame, TNotifyEvent onEnded);
  ~TIrReaderLink();
  TIrReaderLink(const TIrReaderLink&) = delete;
  TIrReaderLink& operator=(const TIrReaderLink&) = delete;

  std::uint8_t Mode() const { return mode_; }
  std::uint8_t Media() const;
  // False for a handle no reader can use (0 or -1, or a failed event).
  bool Usable() const;

  // --- Any thread ---
  // Asks the reader to end: wakes its pause and a pending DKU-2 read.
  void Stop();
  bool Stopping() const;
  // Clears the handlers; once it returns none of them runs again (a handler
  // running on another thread is waited for).
  void Detach();
  // Waits, handling messages, up to `ms` until the reader has ended and closed
  // the handle; true when it has.
  bool WaitEnded(std::uint32_t ms);
  bool Ended() const;
  // Writes a frame: on the socket (its send), or on the DKU-2 device (an
  // overlapped write waited for 3 ms a byte, 100 to 3200 ms, then cancelled
  // and collected, or given up, under the overlapped I/O policy). Bytes
  // written, or minus the error.
  int Write(const std::string& data);

  // --- The reader thread ---
  void MarkStarted();
  // The creator's wait: handles the creator's messages (and on the main
  // thread synchronous calls) until the thread runs or `ms` passed.
  bool WaitStarted(std::uint32_t ms);
  // Sleeps one poll interval; false when the link was stopped meanwhile.
  bool Pause();
  // One overlapped read of up to `count` bytes, ended by data or by Stop (then
  // cancelled and collected, or given up when the driver does not let go; the
  // result is -1). Bytes read or minus the error.
  int ReadDku2(std::string& data, int count);
  // Closes the handle (once) and marks the reader ended.
  void CloseAndEnd();
  // The handle while it is open (kIrReaderSocket: a SOCKET value).
  std::intptr_t Handle() const { return handle_; }

  // --- The main thread ---
  void Deliver(std::uint8_t msgType, const std::string& frame);
  void NotifyEnded(TObject* sender);
  bool HasHandlers() const;

 private:
  int WriteDku2(const std::string& data);
  int SendSocket(const std::string& data);

  const std::uint8_t mode_;
  std::intptr_t handle_;
  bool open_ = true;
  bool winsockStarted_ = false;
  TManualResetEvent cancel_;   // set by Stop
  TManualResetEvent started_;  // set when the thread runs
  TManualResetEvent ended_;    // set once the handle is closed
  std::mutex ioLock_;          // writes and the close take turns
  mutable std::recursive_mutex handlerLock_;
  TIrFrameEvent onFrame_;
  TNotifyEvent onEnded_;
};

class TIrThread : public TThread {
  FW_CLASS(TIrThread, TThread)

 public:
  // Takes a share of `link`, frees itself when it ends. The constructor's
  // caller waits (see AfterConstruction) until the thread runs.
  explicit TIrThread(std::shared_ptr<TIrReaderLink> link);
  // Starts the thread and waits, handling messages, until Execute runs. The
  // object may be gone once this returns: keep the link, not the thread.
  void AfterConstruction() override;

  // Starts a reader on `link`; false when no thread could be made (the handle
  // is then still open: the caller closes it through the link).
  static bool StartReader(const std::shared_ptr<TIrReaderLink>& link);

 protected:
  void Execute() override;
  // Tells the link's end handler, on the main thread.
  void DoTerminate() override;

 private:
  // One poll or read and the frames it completed; false when the reader ends.
  bool Cycle();
  void DeliverFrame(const std::string& frame);

  std::shared_ptr<TIrReaderLink> link_;
  TPhonetCutter cutter_;
};
