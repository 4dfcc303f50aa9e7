// A small reference-counted base for COM objects: the interfaces come from
// the system headers (so their methods keep the system's calling
// convention), the count starts at 0 and the object deletes itself when the
// last reference goes. `ComGuard` keeps C++ exceptions inside a COM method:
// they go to Application->HandleException and the method answers an error.
#pragma once

#include <objidl.h>
#include <windows.h>

#include <atomic>
#include <exception>

// The number of COM objects of this base alive in the process (for checks).
long LiveComObjects();
// Hands an exception caught in a COM method to the application.
void HandleComException(std::exception_ptr error);

namespace comobject_detail {
void CountObject(long delta);
}

template <class... Interfaces>
class TComObject : public Interfaces... {
 public:
  TComObject() { comobject_detail::CountObject(1); }
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      (void)((IsEqualIID(iid, __uuidof(Interfaces)) && (*object = static_cast<Interfaces*>(this), true)) || ...);
    }
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  long ReferenceCount() const { return references_; }

 protected:
  virtual ~TComObject() { comobject_detail::CountObject(-1); }
  // Runs `body`; an exception goes to the application and `failure` is answered.
  template <class Body>
  static HRESULT ComGuard(HRESULT failure, Body&& body) {
    try {
      return body();
    } catch (...) {
      HandleComException(std::current_exception());
      return failure;
    }
  }

 private:
  template <class T, class...>
  struct FirstOf {
    using type = T;
  };
  using First = typename FirstOf<Interfaces...>::type;
  std::atomic<long> references_{0};
};
