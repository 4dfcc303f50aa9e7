// Overlapped requests (reads, writes, driver requests, line-event waits) on
// handles opened for overlapped I/O, all under one policy:
//
// - the request is issued and waited for up to its bound (or without one),
//   or until a stop event is signalled;
// - one still pending then is cancelled and given kIoCancelWaitMs to come
//   back, and is collected when it does;
// - one that does not come back is given up on purpose: its record (the
//   OVERLAPPED block, its event, the data buffer and the event mask) is left
//   alive for good, never freed while the driver may still write into it.
//   A driver that ignores a cancel costs a few bytes, not a hung thread.
//
// Who writes what: the issuing thread fills the buffer and issues the request;
// from then until the request has completed (for good, once given up) only the
// system writes the record's status fields, the buffer (reads), the event mask
// (line-event waits) and the event. The issuing thread reads them back only
// after completion or after the cancel came back. A TOverlappedIo serves one
// request on one thread; the count of records given up is shared (atomic).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// How long a cancelled request may take to come back.
inline constexpr DWORD kIoCancelWaitMs = 2000;

struct TIoResult {
  enum TEnd { ioDone, ioFailed, ioTimedOut, ioStopped };
  TEnd end = ioFailed;
  DWORD bytes = 0;       // transferred (also by a request that completed while it was cancelled)
  DWORD error = 0;       // the system's error: of a failed request, or the one a cancelled request came back with
  bool givenUp = false;  // cancelled, and did not come back in time: its record stays alive for good
  // True when the request completed successfully, in time or while it was being cancelled.
  bool Succeeded() const { return end != ioFailed && error == 0 && !givenUp; }
};

class TOverlappedIo {
 public:
  explicit TOverlappedIo(HANDLE handle);
  ~TOverlappedIo();  // frees the record unless it was given up
  TOverlappedIo(const TOverlappedIo&) = delete;
  TOverlappedIo& operator=(const TOverlappedIo&) = delete;

  // False when the record's event could not be made; Run then fails with that error.
  bool Ready() const;
  // The request's data (stays in place while it runs) and the event mask of a
  // line-event wait. After a give-up they are spare fields of this object.
  std::string& Buffer();
  DWORD& Mask();

  // Issues the request with `issue(record)` (ReadFile, WriteFile,
  // DeviceIoControl or WaitCommEvent given the record) and waits up to
  // `waitMs` (INFINITE: no bound) or until `stop` (may be null) is signalled;
  // then cancels and collects as above. One request per object.
  TIoResult Run(const std::function<BOOL(OVERLAPPED*)>& issue, DWORD waitMs, HANDLE stop = nullptr);

 private:
  struct TRecord;
  void Collect(TIoResult& result);
  void CancelAndCollect(TIoResult& result);

  HANDLE handle_;
  TRecord* record_;
  bool used_ = false;
  std::string spareBuffer_;
  DWORD spareMask_ = 0;
};

// Records given up since the program started.
int OverlappedRecordsGivenUp();

// How a pending request is cancelled: the system's CancelIoEx where there is
// one, else CancelIo (which reaches the calling thread's requests: the one
// that issued them here). Replaceable, so that a test can play a driver that
// never completes a cancelled request.
using TIoCanceller = void (*)(HANDLE handle, OVERLAPPED* record);
TIoCanceller SetIoCanceller(TIoCanceller canceller);  // null restores the system's; returns the one it replaces
