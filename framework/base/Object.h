// The root of the object model.
//
// Lifecycle: New<T>(args) runs the constructor, then AfterConstruction(), where
// work that needs the final class goes (streaming, starting a thread). Free()
// runs BeforeDestruction(), then the virtual Destroy() (which may call virtual
// functions; overrides do their own clean-up first and end with
// inherited::Destroy()), then deletes the object. C++ destructors only release
// plain members.
//
// Metadata: each class puts FW_CLASS(TClass, TBase) at the top of its body and
// describes its published properties, fields and methods in its .cpp:
//   FW_BEGIN_CLASS(TMyForm)
//     FW_PROP(Caption, GetCaption, SetCaption)
//     FW_EVENT(OnClick, OnClick)
//     FW_FIELD(OkButton)
//     FW_METHOD(OkButtonClick)
//   FW_END_CLASS
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "Method.h"
#include "TypeInfo.h"

class TObject;
class TComponent;
class TCollection;

// Per-class metadata. Classes are identified by the address of their ClassInfo.
struct ClassInfo {
  enum class Family { None, Plain, Component, CollectionItem };

  std::string name;
  const ClassInfo* parent = nullptr;
  Family family = Family::None;  // which virtual constructor `create` is
  // Creates an instance through New<T>: the owner for components, the
  // collection for collection items, ignored for plain classes. Null when
  // the class cannot be created from its metadata.
  TObject* (*create)(TObject* arg) = nullptr;
  std::vector<PropInfo> props;  // own published properties, in declaration order
  std::vector<FieldEntry> fields;
  std::vector<MethodEntry> methods;
  mutable void* module = nullptr;  // the module that defines the class (its forms are read from there)

  const char* Name() const { return name.c_str(); }
  bool InheritsFrom(const ClassInfo& other) const;
  const FieldEntry* FindField(std::string_view fieldName) const;          // own class, then ancestors
  const MethodEntry* FindMethod(std::string_view methodName) const;       // own class, then ancestors
  std::string MethodName(const MethodRef& m, const TObject* root) const;  // "" when not published
};

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  virtual void AfterConstruction() {}
  virtual void BeforeDestruction() {}
  virtual void Destroy() {}
  // BeforeDestruction, Destroy, delete. Call it on a live object only; see FreeAndNil.
  void Free();

  static const ClassInfo& StaticClass();
  virtual const ClassInfo& ClassType() const { return StaticClass(); }
  const char* ClassName() const { return ClassType().Name(); }
  const ClassInfo* ClassParent() const { return ClassType().parent; }
  bool InheritsFrom(const ClassInfo& cls) const { return ClassType().InheritsFrom(cls); }
  bool ClassNameIs(std::string_view name) const;
  template <class T>
  bool Is() const {
    return InheritsFrom(T::StaticClass());
  }
  // A published method of this object's class by name, bound to this object.
  MethodRef MethodAddress(std::string_view name);

  // Objects live in memory of the memory manager (MemoryManager.h); New<T>
  // asks its instance-allocation entry for an object of class `cls`.
  static void* operator new(std::size_t size, const ClassInfo& cls);
  static void operator delete(void* block, const ClassInfo& cls) noexcept;  // a constructor raised
  static void* operator new(std::size_t size) { return ::operator new(size); }
  static void* operator new(std::size_t, void* place) noexcept { return place; }
  static void operator delete(void* block) noexcept { ::operator delete(block); }
};

// Constructs T, then runs AfterConstruction; when that raises, the object is freed and the error passed on.
// Never inlined: a manager that records call sites finds New's caller two
// frames above its instance-allocation entry (New, then TObject's operator new).
template <class T, class... A>
[[gnu::noinline]] T* New(A&&... args) {
  T* obj;
  if constexpr (std::is_base_of_v<TObject, T>)
    obj = new (T::StaticClass()) T(std::forward<A>(args)...);
  else
    obj = new T(std::forward<A>(args)...);
  try {
    obj->AfterConstruction();
  } catch (...) {
    obj->Free();
    throw;
  }
  return obj;
}

// Frees the object (if any) and clears the pointer first.
template <class T>
void FreeAndNil(T*& obj) {
  T* tmp = obj;
  obj = nullptr;
  if (tmp) tmp->Free();
}
inline void FreeObject(TObject* obj) {
  if (obj) obj->Free();
}

// Owns a framework object for the length of a block: frees it on the way out,
// also when an exception passes. `TOwned<TStringStream> s(New<TStringStream>());`
struct FreeDeleter {
  void operator()(TObject* obj) const { FreeObject(obj); }
};
template <class T>
using TOwned = std::unique_ptr<T, FreeDeleter>;

// The class registry, used to create objects by class name. Registration is
// explicit (a unit's initialization); names compare case-insensitively.
void RegisterClass(const ClassInfo& cls);
void RegisterClasses(std::initializer_list<const ClassInfo*> classes);
void UnRegisterClass(const ClassInfo& cls);
const ClassInfo* GetClass(std::string_view name);   // null when unknown
const ClassInfo& FindClass(std::string_view name);  // raises EClassNotFound "Class %s not found"

// Checked cast: raises EInvalidCast "Invalid class typecast" when obj is not a T.
template <class T>
T* As(TObject* obj) {
  if (obj && !obj->InheritsFrom(T::StaticClass())) throw EInvalidCast("Invalid class typecast");
  return static_cast<T*>(obj);
}

#define FW_CLASS(Cls, Base)                     \
 public:                                        \
  using inherited = Base;                       \
  static const ClassInfo& StaticClass();        \
  const ClassInfo& ClassType() const override { \
    return StaticClass();                       \
  }                                             \
                                                \
 private:

// --- Building the tables ----------------------------------------------------------------------

namespace fw_detail {

template <class M>
struct MemberTraits;
template <class C, class R>
struct MemberTraits<R (C::*)() const> {
  using Value = std::decay_t<R>;
};
template <class C, class R>
struct MemberTraits<R (C::*)()> {
  using Value = std::decay_t<R>;
};
template <class C, class V>
struct MemberTraits<V C::*> {
  using Value = V;
};

template <class V>
struct IsSet : std::false_type {};
template <class E>
struct IsSet<Set<E>> : std::true_type {
  using Elem = E;
};

template <class V>
struct IsMethod : std::false_type {};
template <class S>
struct IsMethod<Method<S>> : std::true_type {};

// A cast to a class that may be incomplete where the template is written.
template <class To, class Dependent>
To* LateCast(TObject* p) {
  return static_cast<To*>(p);
}

// An integer type with type information of its own (TNamedInt: TColor, TCursor).
template <class V>
constexpr bool IsNamedInt = requires {
  V::FwTypeInfo();
};

template <class V>
const TypeInfo* TypeOf() {
  if constexpr (IsNamedInt<V>) {
    return V::FwTypeInfo();
  } else if constexpr (std::is_same_v<V, bool>) {
    return BooleanTypeInfo();
  } else if constexpr (std::is_same_v<V, char>) {
    return CharTypeInfo();
  } else if constexpr (std::is_same_v<V, char16_t>) {
    return WideCharTypeInfo();
  } else if constexpr (std::is_enum_v<V>) {
    return FwEnumTypeInfo(static_cast<V*>(nullptr));
  } else if constexpr (std::is_integral_v<V> && sizeof(V) > 4) {
    return Int64TypeInfo();
  } else if constexpr (std::is_integral_v<V>) {
    return IntegerTypeInfo();
  } else if constexpr (std::is_floating_point_v<V>) {
    return DoubleTypeInfo();
  } else if constexpr (std::is_same_v<V, AnsiString>) {
    return StringTypeInfo();
  } else if constexpr (std::is_same_v<V, WideString>) {
    return WideStringTypeInfo();
  } else if constexpr (IsSet<V>::value) {
    static const TypeInfo info{"Set", TypeKind::Set, {}, TypeOf<typename IsSet<V>::Elem>()};
    return &info;
  } else if constexpr (IsMethod<V>::value) {
    static const TypeInfo info{"Method", TypeKind::Method, {}, nullptr, nullptr, V::Signature()};
    return &info;
  } else if constexpr (std::is_pointer_v<V>) {
    using T = std::remove_cv_t<std::remove_pointer_t<V>>;
    static_assert(std::is_base_of_v<TObject, T>, "class properties hold TObject descendants");
    static const TypeInfo info{"Class", TypeKind::Class, {}, nullptr, &T::StaticClass};
    return &info;
  } else {
    static_assert(sizeof(V) == 0, "unsupported property type");
  }
}

template <class V>
std::int64_t ToOrd(const V& v) {
  if constexpr (IsSet<V>::value)
    return static_cast<std::int64_t>(v.Bits());
  else if constexpr (IsNamedInt<V>)
    return static_cast<std::int64_t>(static_cast<typename V::RepType>(v));
  else
    return static_cast<std::int64_t>(v);
}
template <class V>
V FromOrd(std::int64_t o) {
  if constexpr (IsSet<V>::value)
    return V::FromBits(static_cast<std::uint64_t>(o));
  else if constexpr (std::is_same_v<V, bool>)
    return o != 0;
  else if constexpr (IsNamedInt<V>)
    return V(static_cast<typename V::RepType>(o));
  else
    return static_cast<V>(o);
}

}  // namespace fw_detail

template <class T>
class ClassBuilder {
 public:
  ClassBuilder(const char* name, const ClassInfo* parent) {
    info_.name = name;
    info_.parent = parent;
    if constexpr (std::is_abstract_v<T>) {
      info_.family = ClassInfo::Family::None;
    } else if constexpr (FamilyOf() == 1 && std::is_constructible_v<T, TComponent*>) {
      info_.family = ClassInfo::Family::Component;
      info_.create = [](TObject* owner) -> TObject* { return New<T>(fw_detail::LateCast<TComponent, T>(owner)); };
    } else if constexpr (FamilyOf() == 2 && std::is_constructible_v<T, TCollection*>) {
      info_.family = ClassInfo::Family::CollectionItem;
      info_.create = [](TObject* collection) -> TObject* {
        return New<T>(fw_detail::LateCast<TCollection, T>(collection));
      };
    } else if constexpr (FamilyOf() == 0 && std::is_default_constructible_v<T>) {
      info_.family = ClassInfo::Family::Plain;
      info_.create = [](TObject*) -> TObject* { return New<T>(); };
    }
  }

  // A property read by G (member function or data member) and written by S
  // (member function, data member, or nullptr for read-only).
  template <auto G, auto S>
  ClassBuilder& Prop(const char* name) {
    using V = typename fw_detail::MemberTraits<decltype(G)>::Value;
    PropInfo p;
    p.name = name;
    p.type = fw_detail::TypeOf<V>();
    constexpr bool hasSet = !std::is_same_v<decltype(S), std::nullptr_t>;
    switch (p.type->kind) {
      case TypeKind::Integer:
      case TypeKind::Int64:
      case TypeKind::Char:
      case TypeKind::WChar:
      case TypeKind::Enumeration:
      case TypeKind::Set:
        if constexpr (std::is_arithmetic_v<V> || std::is_enum_v<V> || fw_detail::IsSet<V>::value ||
                      fw_detail::IsNamedInt<V>) {
          p.getOrd = [](const TObject* o) { return fw_detail::ToOrd<V>(Get<G, V>(o)); };
          if constexpr (hasSet) p.setOrd = [](TObject* o, std::int64_t v) { Put<S, V>(o, fw_detail::FromOrd<V>(v)); };
        }
        break;
      case TypeKind::Float:
        if constexpr (std::is_floating_point_v<V>) {
          p.getFloat = [](const TObject* o) { return static_cast<double>(Get<G, V>(o)); };
          if constexpr (hasSet) p.setFloat = [](TObject* o, double v) { Put<S, V>(o, static_cast<V>(v)); };
        }
        break;
      case TypeKind::String:
        if constexpr (std::is_same_v<V, AnsiString>) {
          p.getStr = [](const TObject* o) { return Get<G, V>(o); };
          if constexpr (hasSet) p.setStr = [](TObject* o, const AnsiString& v) { Put<S, V>(o, v); };
        }
        break;
      case TypeKind::WString:
        if constexpr (std::is_same_v<V, WideString>) {
          p.getWStr = [](const TObject* o) { return Get<G, V>(o); };
          if constexpr (hasSet) p.setWStr = [](TObject* o, const WideString& v) { Put<S, V>(o, v); };
        }
        break;
      case TypeKind::Class:
        if constexpr (std::is_pointer_v<V>) {
          p.getObj = [](const TObject* o) -> TObject* {
            return const_cast<TObject*>(static_cast<const TObject*>(Get<G, V>(o)));
          };
          if constexpr (hasSet)
            p.setObj = [](TObject* o, TObject* v) {
              using C = std::remove_cv_t<std::remove_pointer_t<V>>;
              Put<S, V>(o, As<C>(v));
            };
        }
        break;
      case TypeKind::Method:
        if constexpr (fw_detail::IsMethod<V>::value) {
          p.getMethod = [](const TObject* o) { return Get<G, V>(o).Ref(); };
          if constexpr (hasSet) p.setMethod = [](TObject* o, const MethodRef& v) { Put<S, V>(o, V::FromRef(v)); };
        }
        break;
      default:
        break;
    }
    info_.props.push_back(std::move(p));
    return *this;
  }

  // The default of the last property (written only when the value differs).
  ClassBuilder& Default(std::int64_t value) {
    if (!info_.props.empty()) info_.props.back().defaultOrd = value;
    return *this;
  }
  // The last property is written only when `F` (a const member function returning bool) says so.
  template <auto F>
  ClassBuilder& Stored() {
    if (!info_.props.empty())
      info_.props.back().stored = [](const TObject* o) { return (static_cast<const T*>(o)->*F)(); };
    return *this;
  }
  ClassBuilder& NotStored() {
    if (!info_.props.empty()) info_.props.back().storedFlag = false;
    return *this;
  }

  // A published field: a pointer to a component, bound by the component's name.
  template <auto M>
  ClassBuilder& Field(const char* name) {
    using V = typename fw_detail::MemberTraits<decltype(M)>::Value;
    using C = std::remove_cv_t<std::remove_pointer_t<V>>;
    FieldEntry f;
    f.name = name;
    f.classType = &C::StaticClass;
    f.set = [](TObject* root, TObject* comp) { static_cast<T*>(root)->*M = static_cast<V>(comp); };
    f.get = [](const TObject* root) -> TObject* { return static_cast<const T*>(root)->*M; };
    info_.fields.push_back(std::move(f));
    return *this;
  }

  // A published method (a handler that forms bind by name).
  template <auto MF>
  ClassBuilder& Handler(const char* name) {
    using M = typename MethodOf<decltype(MF)>::Type;
    MethodEntry e;
    e.name = name;
    e.sig = M::Signature();
    e.bind = [](TObject* root) { return M::template Bind<MF>(static_cast<T*>(root)).Ref(); };
    info_.methods.push_back(std::move(e));
    return *this;
  }

  ClassInfo Build() { return std::move(info_); }

 private:
  // TComponent descendants declare FwFamily = 1, collection items FwFamily = 2.
  static constexpr int FamilyOf() {
    if constexpr (requires { T::FwFamily; })
      return T::FwFamily;
    else
      return 0;
  }
  template <auto G, class V>
  static V Get(const TObject* o) {
    const T* self = static_cast<const T*>(o);
    if constexpr (std::is_member_function_pointer_v<decltype(G)>)
      return (self->*G)();
    else
      return self->*G;
  }
  template <auto S, class V>
  static void Put(TObject* o, const V& v) {
    T* self = static_cast<T*>(o);
    if constexpr (std::is_member_function_pointer_v<decltype(S)>)
      (self->*S)(v);
    else
      self->*S = v;
  }

  ClassInfo info_;
};

#define FW_BEGIN_CLASS(Cls)             \
  const ClassInfo& Cls::StaticClass() { \
    using Self [[maybe_unused]] = Cls;  \
    static const ClassInfo info = ClassBuilder<Cls>(#Cls, &Cls::inherited::StaticClass())
#define FW_PROP(Name, Getter, Setter) .Prop<&Self::Getter, &Self::Setter>(#Name)
#define FW_PROP_RO(Name, Getter) .Prop<&Self::Getter, nullptr>(#Name)
#define FW_EVENT(Name, Member) .Prop<&Self::Member, &Self::Member>(#Name)
#define FW_DEFAULT(Value) .Default(static_cast<std::int64_t>(Value))
#define FW_STORED(Predicate) .Stored<&Self::Predicate>()
#define FW_NOT_STORED .NotStored()
#define FW_FIELD(Name) .Field<&Self::Name>(#Name)
#define FW_METHOD(Name) .Handler<&Self::Name>(#Name)
#define FW_END_CLASS \
  .Build();          \
  return info;       \
  }
// A class without published members.
#define FW_IMPLEMENT_CLASS(Cls) \
  FW_BEGIN_CLASS(Cls)           \
  FW_END_CLASS
