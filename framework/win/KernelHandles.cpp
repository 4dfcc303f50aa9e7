#include "KernelHandles.h"

void TOwnedHandle::Replace(HANDLE handle) {
  if (handle == handle_) return;
  Close();
  handle_ = handle;
}

HANDLE TOwnedHandle::Release() {
  HANDLE h = handle_;
  handle_ = nullptr;
  return h;
}

void TOwnedHandle::Close() {
  if (Valid()) CloseHandle(handle_);
  handle_ = nullptr;
}

TEventHandle::TEventHandle(bool manualReset) {
  HANDLE h = CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
  if (!h) createError_ = GetLastError();
  Replace(h);
}

void TEventHandle::Set() const {
  if (Valid()) SetEvent(Get());
}

bool TEventHandle::Signalled() const {
  return Valid() && WaitForSingleObject(Get(), 0) == WAIT_OBJECT_0;
}

void TManualResetEvent::Reset() const {
  if (Valid()) ResetEvent(Get());
}
