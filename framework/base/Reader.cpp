#include <algorithm>
#include <cstring>

#include "Collection.h"
#include "Filer.h"
#include "Scope.h"
#include "Swallow.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TReader)

namespace {

// Counts one more level of nesting until the block ends; data nested deeper
// than the filer allows is an error.
[[nodiscard]] auto EnterNesting(int& depth) {
  if (depth >= kMaxFilerDepth) throw EReadError("Form data is nested too deeply");
  ++depth;
  return TScopeExit([&depth]() noexcept { --depth; });
}

std::string InstanceName(TPersistent* instance) {
  if (!instance) return "?";
  std::string path;
  try {
    path = instance->GetNamePath();
  } catch (...) {
    SwallowException("TReader.InstanceName: asking the instance for its name path");
  }
  return path.empty() ? instance->ClassName() : path;
}

bool IsIntType(TValueType t) {
  return t == vaInt8 || t == vaInt16 || t == vaInt32 || t == vaInt64;
}

// Wraps any error met while reading a property in an EReadError naming it.
[[noreturn]] void RethrowNamed(const std::string& where) {
  std::string message;
  try {
    throw;
  } catch (const EReadError& e) {
    if (e.Message.rfind("Error reading ", 0) == 0) throw;
    message = e.Message;
  } catch (const std::bad_alloc&) {
    message = "Out of memory";
  } catch (const std::exception& e) {
    message = e.what();
  }
  throw EReadError("Error reading " + where + ": " + message);
}

}  // namespace

// --- primitives --------------------------------------------------------------------------------

void TReader::CheckLeft(std::uint64_t count) {
  std::int64_t left = stream_->Size() - stream_->Position();
  if (left < 0 || count > static_cast<std::uint64_t>(left)) throw EReadError("Stream read error");
}

void TReader::PropValueError() {
  throw EReadError("Invalid property value");
}

TValueType TReader::ReadValue() {
  std::uint8_t b = stream_->ReadU8();
  if (b > kMaxValueType) throw EReadError(Format("Invalid value type %d", static_cast<int>(b)));
  return static_cast<TValueType>(b);
}

TValueType TReader::NextValue() {
  TValueType t = ReadValue();
  stream_->Seek(-1, SeekOrigin::Current);
  return t;
}

bool TReader::EndOfList() {
  std::uint8_t b = stream_->ReadU8();
  stream_->Seek(-1, SeekOrigin::Current);
  return b == vaNull;
}

void TReader::CheckValue(TValueType expected) {
  if (ReadValue() != expected) PropValueError();
}

void TReader::ReadListBegin() {
  CheckValue(vaList);
}
void TReader::ReadListEnd() {
  CheckValue(vaNull);
}

void TReader::ReadSignature() {
  char sig[4];
  stream_->ReadBuffer(sig, 4);
  if (std::memcmp(sig, kFilerSignature, 4) != 0) throw EReadError("Invalid stream format");
}

void TReader::ReadPrefix(std::uint8_t& flags, int& childPos) {
  flags = 0;
  childPos = 0;
  std::uint8_t b = stream_->ReadU8();
  if ((b & 0xF0) != 0xF0) {
    stream_->Seek(-1, SeekOrigin::Current);
    return;
  }
  flags = b & 0x0F;
  if (flags & ffChildPos) {
    TValueType t = ReadValue();
    if (t != vaInt8 && t != vaInt16 && t != vaInt32) PropValueError();
    childPos = static_cast<int>(ReadIntegerValue(t));
  }
}

std::int64_t TReader::ReadIntegerValue(TValueType t) {
  switch (t) {
    case vaInt8:
      return static_cast<std::int8_t>(stream_->ReadU8());
    case vaInt16:
      return static_cast<std::int16_t>(stream_->ReadU16());
    case vaInt32:
      return static_cast<std::int32_t>(stream_->ReadU32());
    case vaInt64: {
      std::uint64_t lo = stream_->ReadU32();
      std::uint64_t hi = stream_->ReadU32();
      return static_cast<std::int64_t>(lo | (hi << 32));
    }
    default:
      PropValueError();
  }
}

std::int32_t TReader::ReadInteger() {
  std::int64_t v = ReadIntegerValue(ReadValue());
  if (v < INT32_MIN || v > INT32_MAX) PropValueError();
  return static_cast<std::int32_t>(v);
}

std::int64_t TReader::ReadInt64() {
  return ReadIntegerValue(ReadValue());
}

bool TReader::ReadBoolean() {
  TValueType t = ReadValue();
  if (t != vaFalse && t != vaTrue) PropValueError();
  return t == vaTrue;
}

std::uint32_t TReader::ReadLength() {
  return stream_->ReadU32();
}

std::string TReader::ReadStr() {
  std::uint8_t n = stream_->ReadU8();
  CheckLeft(n);
  return stream_->ReadBytes(n);
}

std::string TReader::ReadStringValue(TValueType t, bool& wide, WideString& w) {
  wide = false;
  switch (t) {
    case vaString:
      return ReadStr();
    case vaLString: {
      std::uint32_t n = ReadLength();
      CheckLeft(n);
      return stream_->ReadBytes(n);
    }
    case vaUTF8String: {
      std::uint32_t n = ReadLength();
      CheckLeft(n);
      wide = true;
      w = Utf8ToWide(stream_->ReadBytes(n));
      return {};
    }
    case vaWString: {
      std::uint32_t n = ReadLength();
      CheckLeft(std::uint64_t{n} * 2);
      std::string raw = stream_->ReadBytes(std::int64_t{n} * 2);
      w.resize(n);
      for (std::uint32_t i = 0; i < n; ++i)
        w[i] = static_cast<char16_t>(static_cast<std::uint8_t>(raw[2 * i]) |
                                     (static_cast<std::uint8_t>(raw[2 * i + 1]) << 8));
      wide = true;
      return {};
    }
    default:
      PropValueError();
  }
}

std::string TReader::ReadString() {
  bool wide;
  WideString w;
  std::string s = ReadStringValue(ReadValue(), wide, w);
  return wide ? WideToAnsi(w) : s;
}

WideString TReader::ReadWideString() {
  bool wide;
  WideString w;
  std::string s = ReadStringValue(ReadValue(), wide, w);
  return wide ? w : AnsiToWide(s);
}

char TReader::ReadChar() {
  TValueType t = ReadValue();
  if (IsIntType(t)) {
    std::int64_t v = ReadIntegerValue(t);
    if (v < 0 || v > 255) PropValueError();
    return static_cast<char>(v);
  }
  bool wide;
  WideString w;
  std::string s = ReadStringValue(t, wide, w);
  if (wide) s = WideToAnsi(w);
  if (s.size() != 1) PropValueError();
  return s[0];
}

char16_t TReader::ReadWideChar() {
  TValueType t = ReadValue();
  if (IsIntType(t)) {
    std::int64_t v = ReadIntegerValue(t);
    if (v < 0 || v > 0xFFFF) PropValueError();
    return static_cast<char16_t>(v);
  }
  bool wide;
  WideString w;
  std::string s = ReadStringValue(t, wide, w);
  if (!wide) w = AnsiToWide(s);
  if (w.size() != 1) PropValueError();
  return w[0];
}

double TReader::ReadFloat() {
  TValueType t = ReadValue();
  switch (t) {
    case vaExtended: {
      std::uint8_t b[10];
      stream_->ReadBuffer(b, 10);
      return ExtendedToDouble(b);
    }
    case vaSingle: {
      std::uint32_t bits = stream_->ReadU32();
      float f;
      std::memcpy(&f, &bits, 4);
      return f;
    }
    case vaDate: {
      std::uint64_t bits = std::uint64_t{stream_->ReadU32()} | (std::uint64_t{stream_->ReadU32()} << 32);
      double d;
      std::memcpy(&d, &bits, 8);
      return d;
    }
    case vaCurrency: {
      std::uint64_t bits = std::uint64_t{stream_->ReadU32()} | (std::uint64_t{stream_->ReadU32()} << 32);
      return static_cast<double>(static_cast<std::int64_t>(bits)) / 10000.0;
    }
    default:
      return static_cast<double>(ReadIntegerValue(t));
  }
}

TExtended TReader::ReadExtended() {
  if (NextValue() != vaExtended) return DoubleToExtended(ReadFloat());
  ReadValue();
  std::uint8_t b[10];
  stream_->ReadBuffer(b, 10);
  return TExtended::FromBytes(b);
}

float TReader::ReadSingle() {
  return static_cast<float>(ReadFloat());
}

double TReader::ReadCurrency() {
  return ReadFloat();
}
TDateTime TReader::ReadDate() {
  return ReadFloat();
}

std::string TReader::ReadIdent() {
  switch (ReadValue()) {
    case vaIdent:
      return ReadStr();
    case vaFalse:
      return "False";
    case vaTrue:
      return "True";
    case vaNil:
      return "nil";
    case vaNull:
      return "Null";
    default:
      PropValueError();
  }
}

std::string TReader::ReadBinary() {
  CheckValue(vaBinary);
  std::uint32_t n = ReadLength();
  CheckLeft(n);
  return stream_->ReadBytes(n);
}

std::uint64_t TReader::ReadSet(const TypeInfo* setType) {
  std::uint64_t bits = 0;
  for (;;) {
    std::string name = ReadStr();
    if (name.empty()) break;
    if (!setType) continue;
    int v = setType->elemType ? GetEnumValue(*setType->elemType, name) : -1;
    if (v < 0 || v >= 64) PropValueError();
    bits |= std::uint64_t{1} << v;
  }
  return bits;
}

void TReader::SkipValue() {
  auto skip = [this](std::uint64_t n) {
    CheckLeft(n);
    stream_->Seek(static_cast<std::int64_t>(n), SeekOrigin::Current);
  };
  TValueType t = ReadValue();
  switch (t) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil:
      break;
    case vaList: {
      const auto nesting = EnterNesting(depth_);
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      break;
    }
    case vaInt8:
      skip(1);
      break;
    case vaInt16:
      skip(2);
      break;
    case vaInt32:
    case vaSingle:
      skip(4);
      break;
    case vaInt64:
    case vaCurrency:
    case vaDate:
      skip(8);
      break;
    case vaExtended:
      skip(10);
      break;
    case vaString:
    case vaIdent:
      skip(stream_->ReadU8());
      break;
    case vaBinary:
    case vaLString:
    case vaUTF8String:
      skip(ReadLength());
      break;
    case vaWString:
      skip(std::uint64_t{ReadLength()} * 2);
      break;
    case vaSet:
      ReadSet(nullptr);
      break;
    case vaCollection: {
      const auto nesting = EnterNesting(depth_);
      while (!EndOfList()) {
        if (IsIntType(NextValue())) ReadInt64();
        ReadListBegin();
        while (!EndOfList()) {
          ReadStr();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      break;
    }
  }
}

// --- defined properties ------------------------------------------------------------------------

void TReader::DefineProperty(const std::string& name, const ReaderProc& read, const WriterProc&, bool) {
  if (propFound_ || !SameText(name, propName_)) return;
  propFound_ = true;
  if (read)
    read(*this);
  else
    SkipValue();
}

void TReader::DefineBinaryProperty(const std::string& name, const StreamProc& read, const StreamProc&, bool) {
  if (propFound_ || !SameText(name, propName_)) return;
  propFound_ = true;
  std::string bytes = ReadBinary();
  if (!read) return;
  TReadOnlyMemoryStream* ms = New<TReadOnlyMemoryStream>(bytes.data(), bytes.size());
  try {
    read(*ms);
  } catch (...) {
    ms->Free();
    throw;
  }
  ms->Free();
}

// --- properties --------------------------------------------------------------------------------

void TReader::ReadProperty(TPersistent* instance) {
  std::string path = ReadStr();
  try {
    if (path.empty()) throw EReadError("Invalid property path");
    TPersistent* target = instance;
    std::size_t start = 0;
    for (;;) {
      std::size_t dot = path.find('.', start);
      if (dot == std::string::npos) break;
      std::string part = path.substr(start, dot - start);
      const PropInfo* p = GetPropInfo(target, part);
      if (!p || p->Kind() != TypeKind::Class) throw EReadError("Property " + path + " does not exist");
      TObject* held = GetObjectProp(target, *p);
      if (!held || !held->Is<TPersistent>()) throw EReadError("Invalid property path");
      target = static_cast<TPersistent*>(held);
      start = dot + 1;
    }
    std::string saved = propName_;
    bool savedFound = propFound_;
    propName_ = path.substr(start);
    propFound_ = false;
    const PropInfo* prop = GetPropInfo(target, propName_);
    if (prop) {
      ReadPropValue(target, *prop);
    } else {
      target->DefineProperties(*this);
      if (!propFound_) throw EReadError("Property " + path + " does not exist");
    }
    propName_ = saved;
    propFound_ = savedFound;
  } catch (...) {
    RethrowNamed(InstanceName(instance) + "." + path);
  }
}

void TReader::ReadPropValue(TPersistent* instance, const PropInfo& prop) {
  const TypeInfo& type = *prop.type;
  if (!prop.HasSetter() && type.kind != TypeKind::Class) throw EReadError("Property " + prop.name + " is read-only");
  switch (type.kind) {
    case TypeKind::Integer:
    case TypeKind::Int64: {
      TValueType t = ReadValue();
      std::int64_t v;
      if (t == vaIdent) {
        if (!FindIdentToInt(&type, ReadStr(), v)) PropValueError();
      } else {
        v = ReadIntegerValue(t);
      }
      SetOrdProp(instance, prop, v);
      break;
    }
    case TypeKind::Char:
      SetOrdProp(instance, prop, static_cast<std::uint8_t>(ReadChar()));
      break;
    case TypeKind::WChar:
      SetOrdProp(instance, prop, ReadWideChar());
      break;
    case TypeKind::Enumeration: {
      int v = GetEnumValue(type, ReadIdent());
      if (v < 0) PropValueError();
      SetOrdProp(instance, prop, v);
      break;
    }
    case TypeKind::Set:
      CheckValue(vaSet);
      SetOrdProp(instance, prop, static_cast<std::int64_t>(ReadSet(&type)));
      break;
    case TypeKind::Float:
      SetFloatProp(instance, prop, ReadFloat());
      break;
    case TypeKind::String:
      SetStrProp(instance, prop, ReadString());
      break;
    case TypeKind::WString:
      SetWideStrProp(instance, prop, ReadWideString());
      break;
    case TypeKind::Class: {
      TValueType t = NextValue();
      if (t == vaNil) {
        ReadValue();
        if (!prop.setObj) throw EReadError("Property " + prop.name + " is read-only");
        SetObjectProp(instance, prop, nullptr);
      } else if (t == vaIdent) {
        if (!prop.setObj) throw EReadError("Property " + prop.name + " is read-only");
        fixups_.push_back(Fixup{instance, &prop, ReadIdent(), InstanceName(instance) + "." + prop.name, items_});
      } else if (t == vaCollection) {
        ReadValue();
        TObject* held = GetObjectProp(instance, prop);
        if (!held || !held->Is<TCollection>()) PropValueError();
        ReadCollection(static_cast<TCollection*>(held));
      } else {
        PropValueError();
      }
      break;
    }
    case TypeKind::Method: {
      std::string name = ReadIdent();
      if (name == "nil") {
        SetMethodProp(instance, prop, MethodRef{});
        break;
      }
      TComponent* root = LookupRoot ? LookupRoot : Root;
      const MethodEntry* m = root ? root->ClassType().FindMethod(name) : nullptr;
      if (!m) throw EReadError("Method " + name + " not found");
      if (m->sig != type.sig) PropValueError();
      SetMethodProp(instance, prop, m->bind(root));
      break;
    }
    default:
      SkipValue();
      break;
  }
}

// A value for a collection replaces its items. References queued while an
// earlier value's items were read die with those items: they are dropped
// before the items are freed.
void TReader::DropFixupsWithin(const TCollection* collection) {
  std::vector<const TObject*> freed;
  for (int i = 0; i < collection->Count(); ++i) freed.push_back(collection->Items(i));
  if (freed.empty()) return;
  std::sort(freed.begin(), freed.end());
  auto inFreed = [&](const Fixup& f) {
    for (const TObject* item : f.items)
      if (std::binary_search(freed.begin(), freed.end(), item)) return true;
    return false;
  };
  fixups_.erase(std::remove_if(fixups_.begin(), fixups_.end(), inFreed), fixups_.end());
}

void TReader::ReadCollection(TCollection* collection) {
  const auto nesting = EnterNesting(depth_);
  const std::size_t itemDepth = items_.size();
  TUpdateScope update(*collection);
  // An item left half read is no longer the current one.
  TScopeExit dropItems([this, itemDepth]() noexcept { items_.resize(itemDepth); });
  if (!EndOfList()) {
    DropFixupsWithin(collection);
    collection->Clear();
  }
  while (!EndOfList()) {
    if (IsIntType(NextValue())) ReadInt64();
    TCollectionItem* item = collection->Add();
    items_.push_back(item);
    ReadListBegin();
    while (!EndOfList()) ReadProperty(item);
    ReadListEnd();
    items_.pop_back();
  }
  ReadListEnd();
}

// --- components --------------------------------------------------------------------------------

void TReader::ReadData(TComponent* instance) {
  const auto nesting = EnterNesting(depth_);
  ReadDataInner(instance);
}

void TReader::ReadDataInner(TComponent* instance) {
  while (!EndOfList()) ReadProperty(instance);
  ReadListEnd();
  TComponent* oldParent = Parent;
  TComponent* oldOwner = Owner;
  Parent = instance->GetChildParent();
  Owner = instance->GetChildOwner();
  if (!Owner) Owner = Root;
  try {
    while (!EndOfList()) ReadComponent(nullptr);
    ReadListEnd();
  } catch (...) {
    Parent = oldParent;
    Owner = oldOwner;
    throw;
  }
  Parent = oldParent;
  Owner = oldOwner;
}

TComponent* TReader::ReadComponent(TComponent* component) {
  std::uint8_t flags;
  int childPos;
  ReadPrefix(flags, childPos);
  std::string className = ReadStr();
  std::string name = ReadStr();
  std::string label = name.empty() ? className : name;
  std::size_t loadedMark = loaded_.size(), fixupMark = fixups_.size();
  TComponent* result = component;
  bool created = false;
  try {
    if (!result) {
      if (flags & ffInherited) {
        result = Owner ? Owner->FindComponent(name) : nullptr;
        if (!result) throw EReadError("Ancestor for '" + name + "' not found");
      } else {
        const ClassInfo* cls = GetClass(className);
        if (!cls) throw EReadError("Class " + className + " not found");
        if (cls->family != ClassInfo::Family::Component || !cls->create)
          throw EReadError("Class " + className + " is not a component class");
        result = static_cast<TComponent*>(cls->create(Owner));
        created = true;
      }
    }
    result->SetState(csLoading, true);
    result->SetState(csReading, true);
    if (!(flags & ffInherited)) result->SetName(name);
    if (Parent && Parent != result) result->SetParentComponent(Parent);
    if (std::find(loaded_.begin(), loaded_.end(), result) == loaded_.end()) loaded_.push_back(result);
    result->ReadState(*this);
    result->SetState(csReading, false);
  } catch (...) {
    loaded_.resize(loadedMark);
    fixups_.resize(fixupMark);
    if (created) {
      result->Free();
    } else if (result) {
      result->SetState(csReading, false);
      result->SetState(csLoading, false);
    }
    RethrowNamed(label);
  }
  return result;
}

void TReader::FixupReferences() {
  std::vector<Fixup> fixups;
  fixups.swap(fixups_);
  for (const Fixup& f : fixups) {
    TComponent* target = nullptr;
    if (Root && SameText(f.name, Root->Name()))
      target = Root;
    else if (Root)
      target = Root->FindComponent(f.name);
    if (!target) throw EReadError("Error reading " + f.path + ": Component " + f.name + " not found");
    try {
      SetObjectProp(f.instance, *f.prop, target);
    } catch (...) {
      RethrowNamed(f.path);
    }
  }
}

TComponent* TReader::ReadRootComponent(TComponent* root) {
  ReadSignature();
  std::uint8_t flags;
  int childPos;
  ReadPrefix(flags, childPos);
  std::string className = ReadStr();
  std::string name = ReadStr();
  bool created = false;
  if (!root) {
    const ClassInfo* cls = GetClass(className);
    if (!cls) throw EReadError("Class " + className + " not found");
    if (cls->family != ClassInfo::Family::Component || !cls->create)
      throw EReadError("Class " + className + " is not a component class");
    root = static_cast<TComponent*>(cls->create(nullptr));
    created = true;
  } else {
    bool inChain = false;
    for (const ClassInfo* c = &root->ClassType(); c; c = c->parent)
      if (SameText(c->name, className)) inChain = true;
    if (!inChain)
      throw EReadError("Error reading " + (name.empty() ? className : name) + ": the stream holds a " + className +
                       ", not a " + root->ClassName());
  }
  Root = root;
  if (!LookupRoot) LookupRoot = root;
  Owner = root;
  loaded_.clear();
  fixups_.clear();
  items_.clear();
  try {
    try {
      root->SetState(csLoading, true);
      root->SetState(csReading, true);
      if (!name.empty()) {
        // a second instance of a form under the same owner gets a numbered name
        std::string unique = name;
        TComponent* owner = root->Owner();
        for (int i = 1; owner && owner->FindComponent(unique) && owner->FindComponent(unique) != root; ++i)
          unique = name + "_" + std::to_string(i);
        root->SetName(unique);
      }
      loaded_.push_back(root);
      root->ReadState(*this);
      root->SetState(csReading, false);
    } catch (...) {
      RethrowNamed(name.empty() ? className : name);
    }
    FixupReferences();
    std::vector<TComponent*> loaded;
    loaded.swap(loaded_);
    for (TComponent* c : loaded) c->Loaded();
  } catch (...) {
    fixups_.clear();
    for (TComponent* c : loaded_) {
      c->SetState(csReading, false);
      c->SetState(csLoading, false);
    }
    loaded_.clear();
    if (created) root->Free();
    throw;
  }
  return root;
}

TComponent* ReadComponentData(const void* data, std::size_t size, TComponent* root) {
  TOwned<TReadOnlyMemoryStream> stream(New<TReadOnlyMemoryStream>(data, size));
  TOwned<TReader> reader(New<TReader>(*stream));
  return reader->ReadRootComponent(root);
}
