// Delegates: an (object, handler) pair that can be called, tested, cleared and
// compared. Two delegates are equal when they name the same handler of the same
// object. MethodRef is the untyped form that property accessors and the form
// reader pass around; its `sig` identifies the delegate type.
#pragma once

#include <cstdint>
#include <utility>

struct MethodRef {
  using Code = void (*)();
  void* data = nullptr;
  Code code = nullptr;
  const void* sig = nullptr;

  explicit operator bool() const { return code != nullptr; }
  friend bool operator==(const MethodRef& a, const MethodRef& b) { return a.data == b.data && a.code == b.code; }
};

template <class Sig>
class Method;

template <class R, class... A>
class Method<R(A...)> {
 public:
  using Code = R (*)(void*, A...);

  Method() = default;
  Method(std::nullptr_t) {}

  // Method<void(TObject*)>::Bind<&TForm1::ButtonClick>(form)
  template <auto MF, class C>
  static Method Bind(C* obj) {
    Method m;
    m.data_ = const_cast<void*>(static_cast<const void*>(obj));
    m.code_ = &Thunk<MF, C>;
    return m;
  }
  // A plain function that receives the data pointer first.
  static Method FromFunction(void* data, Code code) {
    Method m;
    m.data_ = data;
    m.code_ = code;
    return m;
  }

  explicit operator bool() const { return code_ != nullptr; }
  bool Assigned() const { return code_ != nullptr; }
  R operator()(A... a) const { return code_(data_, std::forward<A>(a)...); }
  void* Data() const { return data_; }
  Code CodePtr() const { return code_; }

  friend bool operator==(const Method& a, const Method& b) { return a.data_ == b.data_ && a.code_ == b.code_; }

  // The identity of this delegate type, shared by every instance.
  static const void* Signature() {
    static const char id = 0;
    return &id;
  }
  MethodRef Ref() const {
    return MethodRef{data_, reinterpret_cast<MethodRef::Code>(code_), code_ ? Signature() : nullptr};
  }
  // Rebuilds a typed delegate; a reference of another type (or none) gives an empty delegate.
  static Method FromRef(const MethodRef& r) {
    Method m;
    if (r.code && r.sig == Signature()) {
      m.data_ = r.data;
      m.code_ = reinterpret_cast<Code>(r.code);
    }
    return m;
  }

 private:
  template <auto MF, class C>
  static R Thunk(void* d, A... a) {
    return (static_cast<C*>(d)->*MF)(std::forward<A>(a)...);
  }

  void* data_ = nullptr;
  Code code_ = nullptr;
};

// The delegate type that fits a member function pointer type.
template <class MF>
struct MethodOf;
template <class C, class R, class... A>
struct MethodOf<R (C::*)(A...)> {
  using Type = Method<R(A...)>;
  using Class = C;
};
template <class C, class R, class... A>
struct MethodOf<R (C::*)(A...) const> {
  using Type = Method<R(A...)>;
  using Class = C;
};

class TObject;
using TNotifyEvent = Method<void(TObject*)>;
// A help request (a help command and its data); clearing callHelp keeps the
// application from performing it itself. The result tells whether it was served.
using THelpEvent = Method<bool(std::uint16_t command, std::intptr_t data, bool& callHelp)>;
