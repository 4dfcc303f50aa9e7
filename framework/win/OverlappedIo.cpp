#include "OverlappedIo.h"

#include <atomic>

#include "KernelHandles.h"

namespace {

std::atomic<int> g_givenUp{0};

void SystemCancel(HANDLE handle, OVERLAPPED* record) {
  using TCancelIoEx = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
  static const TCancelIoEx cancelIoEx = reinterpret_cast<TCancelIoEx>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CancelIoEx")));
  if (cancelIoEx)
    cancelIoEx(handle, record);
  else
    CancelIo(handle);
}

std::atomic<TIoCanceller> g_canceller{nullptr};

}  // namespace

struct TOverlappedIo::TRecord {
  OVERLAPPED ov{};
  TManualResetEvent done;  // set by the system when the request completes
  std::string buffer;
  DWORD mask = 0;
};

TOverlappedIo::TOverlappedIo(HANDLE handle) : handle_(handle), record_(new TRecord) {
  record_->ov.hEvent = record_->done;
}

TOverlappedIo::~TOverlappedIo() {
  delete record_;  // null once given up: the driver may still write into it
}

bool TOverlappedIo::Ready() const {
  return record_ && record_->done.Valid();
}

std::string& TOverlappedIo::Buffer() {
  return record_ ? record_->buffer : spareBuffer_;
}

DWORD& TOverlappedIo::Mask() {
  return record_ ? record_->mask : spareMask_;
}

TIoResult TOverlappedIo::Run(const std::function<BOOL(OVERLAPPED*)>& issue, DWORD waitMs, HANDLE stop) {
  TIoResult result;
  if (!record_ || used_) {
    result.error = ERROR_INVALID_FUNCTION;
    return result;
  }
  if (!record_->done.Valid()) {
    result.error = record_->done.CreateError() ? record_->done.CreateError() : ERROR_INVALID_HANDLE;
    return result;
  }
  used_ = true;
  if (!issue(&record_->ov)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      result.error = error;  // refused at once: nothing pending
      return result;
    }
  }
  const HANDLE objects[2] = {record_->done, stop};
  const DWORD count = stop ? 2 : 1;
  const DWORD woke = WaitForMultipleObjects(count, objects, FALSE, waitMs);
  if (woke == WAIT_OBJECT_0) {
    result.end = TIoResult::ioDone;
    Collect(result);
    return result;
  }
  if (woke == WAIT_OBJECT_0 + 1 && stop)
    result.end = TIoResult::ioStopped;
  else if (woke == WAIT_TIMEOUT)
    result.end = TIoResult::ioTimedOut;
  else
    result.end = TIoResult::ioFailed;  // the wait itself failed (a bad stop handle)
  const DWORD waitError = result.end == TIoResult::ioFailed ? GetLastError() : 0;
  CancelAndCollect(result);
  if (result.end == TIoResult::ioFailed && result.error == 0)
    result.error = waitError ? waitError : ERROR_INVALID_HANDLE;
  return result;
}

void TOverlappedIo::Collect(TIoResult& result) {
  DWORD bytes = 0;
  if (!GetOverlappedResult(handle_, &record_->ov, &bytes, FALSE)) {
    result.error = GetLastError();
    if (result.end == TIoResult::ioDone) result.end = TIoResult::ioFailed;
  }
  result.bytes = bytes;
}

void TOverlappedIo::CancelAndCollect(TIoResult& result) {
  if (!HasOverlappedIoCompleted(&record_->ov)) {
    const TIoCanceller cancel = g_canceller.load();
    (cancel ? cancel : &SystemCancel)(handle_, &record_->ov);
    WaitForSingleObject(record_->done, kIoCancelWaitMs);
  }
  if (HasOverlappedIoCompleted(&record_->ov)) {
    Collect(result);
    return;
  }
  // Given up: the record belongs to the driver from here on.
  record_ = nullptr;
  result.givenUp = true;
  result.bytes = 0;
  result.error = ERROR_OPERATION_ABORTED;
  ++g_givenUp;
}

int OverlappedRecordsGivenUp() {
  return g_givenUp.load();
}

TIoCanceller SetIoCanceller(TIoCanceller canceller) {
  return g_canceller.exchange(canceller);
}
