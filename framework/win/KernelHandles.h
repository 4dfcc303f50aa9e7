// Owners of kernel handles. Each closes its handle in its destructor and
// converts to HANDLE for the wait functions; none can be copied. The type name
// says what the handle is: a manual-reset event stays signalled until it is
// reset, an auto-reset event releases one waiter and resets itself.
#pragma once

#include <windows.h>

// Any handle that CloseHandle closes. Null and INVALID_HANDLE_VALUE both mean "none".
class TOwnedHandle {
 public:
  TOwnedHandle() = default;
  explicit TOwnedHandle(HANDLE handle) : handle_(handle) {}
  ~TOwnedHandle() { Close(); }
  TOwnedHandle(const TOwnedHandle&) = delete;
  TOwnedHandle& operator=(const TOwnedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  operator HANDLE() const { return handle_; }
  // The handle's address, for the wait functions that take an array.
  const HANDLE* Address() const { return &handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Closes the handle held now and holds `handle` instead.
  void Replace(HANDLE handle = nullptr);
  // Gives the handle up without closing it.
  HANDLE Release();

 private:
  void Close();

  HANDLE handle_ = nullptr;
};

// An unnamed event, unsignalled at first. When the system has no event to
// give, the owner holds none: Valid() is false and CreateError() tells why.
class TEventHandle : public TOwnedHandle {
 public:
  void Set() const;
  // True when signalled now (an auto-reset event is reset by looking).
  bool Signalled() const;
  DWORD CreateError() const { return createError_; }

 protected:
  explicit TEventHandle(bool manualReset);

 private:
  DWORD createError_ = 0;
};

class TManualResetEvent : public TEventHandle {
 public:
  TManualResetEvent() : TEventHandle(true) {}
  void Reset() const;
};

class TAutoResetEvent : public TEventHandle {
 public:
  TAutoResetEvent() : TEventHandle(false) {}
};
