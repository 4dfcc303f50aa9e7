#include <cmath>
#include <cstring>

#include "Collection.h"
#include "Filer.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TWriter)

void TWriter::WriteSignature() {
  Write(kFilerSignature, 4);
}

void TWriter::WritePrefix(std::uint8_t flags, int childPos) {
  if (flags == 0) return;
  stream_->WriteU8(static_cast<std::uint8_t>(0xF0 | (flags & 0x0F)));
  if (flags & ffChildPos) WriteInteger(childPos);
}

void TWriter::WriteValue(TValueType value) {
  stream_->WriteU8(value);
}

void TWriter::WriteStr(const std::string& s) {
  if (s.size() > 255) throw EWriteError("Name is too long for a form stream: \"" + s.substr(0, 64) + "...\"");
  stream_->WriteU8(static_cast<std::uint8_t>(s.size()));
  Write(s.data(), s.size());
}

void TWriter::WritePropName(const std::string& name) {
  WriteStr(propPath_ + name);
}

void TWriter::WriteInteger(std::int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    WriteValue(vaInt8);
    stream_->WriteU8(static_cast<std::uint8_t>(value));
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    WriteValue(vaInt16);
    stream_->WriteU16(static_cast<std::uint16_t>(value));
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    WriteValue(vaInt32);
    stream_->WriteU32(static_cast<std::uint32_t>(value));
  } else {
    WriteValue(vaInt64);
    std::uint64_t v = static_cast<std::uint64_t>(value);
    stream_->WriteU32(static_cast<std::uint32_t>(v));
    stream_->WriteU32(static_cast<std::uint32_t>(v >> 32));
  }
}

void TWriter::WriteWideChar(char16_t c) {
  WriteWideString(WideString(1, c));
}

void TWriter::WriteFloat(double value) {
  WriteExtended(DoubleToExtended(value));
}

void TWriter::WriteExtended(const TExtended& value) {
  std::uint8_t b[10];
  value.ToBytes(b);
  WriteValue(vaExtended);
  Write(b, 10);
}

void TWriter::WriteSingle(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  WriteValue(vaSingle);
  stream_->WriteU32(bits);
}

void TWriter::WriteCurrency(double value) {
  double scaled = std::nearbyint(value * 10000.0);
  if (!(scaled >= -9.2e18 && scaled <= 9.2e18)) throw EWriteError("Currency value out of range");
  WriteCurrencyRaw(static_cast<std::int64_t>(scaled));
}

void TWriter::WriteCurrencyRaw(std::int64_t scaled) {
  WriteValue(vaCurrency);
  std::uint64_t v = static_cast<std::uint64_t>(scaled);
  stream_->WriteU32(static_cast<std::uint32_t>(v));
  stream_->WriteU32(static_cast<std::uint32_t>(v >> 32));
}

void TWriter::WriteDate(TDateTime value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  WriteValue(vaDate);
  stream_->WriteU32(static_cast<std::uint32_t>(bits));
  stream_->WriteU32(static_cast<std::uint32_t>(bits >> 32));
}

void TWriter::WriteString(const std::string& s) {
  if (s.size() <= 255) {
    WriteValue(vaString);
    stream_->WriteU8(static_cast<std::uint8_t>(s.size()));
  } else {
    if (s.size() > UINT32_MAX) throw EWriteError("String too long");
    WriteValue(vaLString);
    stream_->WriteU32(static_cast<std::uint32_t>(s.size()));
  }
  Write(s.data(), s.size());
}

void TWriter::WriteWideString(const WideString& s) {
  if (s.size() > UINT32_MAX / 2) throw EWriteError("String too long");
  WriteValue(vaWString);
  stream_->WriteU32(static_cast<std::uint32_t>(s.size()));
  std::string raw(s.size() * 2, '\0');
  for (std::size_t i = 0; i < s.size(); ++i) {
    raw[2 * i] = static_cast<char>(s[i] & 0xFF);
    raw[2 * i + 1] = static_cast<char>(s[i] >> 8);
  }
  Write(raw.data(), raw.size());
}

void TWriter::WriteUTF8String(const std::string& utf8) {
  if (utf8.size() > UINT32_MAX) throw EWriteError("String too long");
  WriteValue(vaUTF8String);
  stream_->WriteU32(static_cast<std::uint32_t>(utf8.size()));
  Write(utf8.data(), utf8.size());
}

void TWriter::WriteIdent(const std::string& ident) {
  if (SameText(ident, "False")) {
    WriteValue(vaFalse);
  } else if (SameText(ident, "True")) {
    WriteValue(vaTrue);
  } else if (SameText(ident, "Null")) {
    WriteValue(vaNull);
  } else if (SameText(ident, "nil")) {
    WriteValue(vaNil);
  } else {
    WriteValue(vaIdent);
    WriteStr(ident);
  }
}

void TWriter::WriteBinary(const std::string& bytes) {
  if (bytes.size() > UINT32_MAX) throw EWriteError("Binary value too long");
  WriteValue(vaBinary);
  stream_->WriteU32(static_cast<std::uint32_t>(bytes.size()));
  Write(bytes.data(), bytes.size());
}

void TWriter::WriteSet(const TypeInfo* setType, std::uint64_t bits) {
  WriteValue(vaSet);
  for (unsigned i = 0; i < 64; ++i)
    if (bits & (std::uint64_t{1} << i))
      WriteStr(setType && setType->elemType ? GetEnumName(*setType->elemType, i) : std::to_string(i));
  WriteStr("");
}

// --- defined properties ------------------------------------------------------------------------

void TWriter::DefineProperty(const std::string& name, const ReaderProc&, const WriterProc& write, bool hasData) {
  if (!hasData || !write) return;
  WritePropName(name);
  write(*this);
}

void TWriter::DefineBinaryProperty(const std::string& name, const StreamProc&, const StreamProc& write, bool hasData) {
  if (!hasData || !write) return;
  TMemoryStream* ms = New<TMemoryStream>();
  try {
    write(*ms);
    WritePropName(name);
    WriteBinary(ms->DataString());
  } catch (...) {
    ms->Free();
    throw;
  }
  ms->Free();
}

// --- objects -----------------------------------------------------------------------------------

void TWriter::WriteRootComponent(TComponent* root) {
  WriteDescendent(root, nullptr);
}

void TWriter::WriteDescendent(TComponent* root, TComponent* ancestor) {
  Root = root;
  LookupRoot = root;
  Ancestor = ancestor;
  WriteSignature();
  WriteComponent(root);
}

void TWriter::WriteComponent(TComponent* component) {
  WritePrefix(0, 0);
  WriteStr(component->ClassName());
  WriteStr(component->Name());
  component->SetState(csWriting, true);
  try {
    std::string savedPath = propPath_;
    propPath_.clear();
    WriteProperties(component);
    propPath_ = savedPath;
    WriteListEnd();
    if (!IgnoreChildren) component->GetChildren(Method<void(TComponent*)>::Bind<&TWriter::WriteComponent>(this), Root);
    WriteListEnd();
  } catch (...) {
    component->SetState(csWriting, false);
    throw;
  }
  component->SetState(csWriting, false);
}

void TWriter::WriteProperties(TPersistent* instance) {
  for (const PropInfo* p : GetPropList(instance->ClassType())) {
    if (!p->HasGetter() || !IsStoredProp(instance, *p)) continue;
    if (!p->HasSetter() && p->Kind() != TypeKind::Class) continue;
    WriteProperty(instance, *p);
  }
  instance->DefineProperties(*this);
}

void TWriter::WriteProperty(TPersistent* instance, const PropInfo& prop) {
  const TypeInfo& type = *prop.type;
  switch (type.kind) {
    case TypeKind::Integer:
    case TypeKind::Int64:
    case TypeKind::Char:
    case TypeKind::WChar:
    case TypeKind::Enumeration:
    case TypeKind::Set: {
      std::int64_t v = GetOrdProp(instance, prop);
      if (prop.defaultOrd && *prop.defaultOrd == v) return;
      WritePropName(prop.name);
      std::string ident;
      if (type.kind == TypeKind::Integer || type.kind == TypeKind::Int64) {
        if (FindIntToIdent(&type, v, ident))
          WriteIdent(ident);
        else
          WriteInteger(v);
      } else if (type.kind == TypeKind::Char) {
        WriteChar(static_cast<char>(v));
      } else if (type.kind == TypeKind::WChar) {
        WriteWideChar(static_cast<char16_t>(v));
      } else if (type.kind == TypeKind::Enumeration) {
        WriteIdent(GetEnumName(type, v));
      } else {
        WriteSet(&type, static_cast<std::uint64_t>(v));
      }
      break;
    }
    case TypeKind::Float: {
      double v = GetFloatProp(instance, prop);
      if (v == 0) return;
      WritePropName(prop.name);
      WriteFloat(v);
      break;
    }
    case TypeKind::String: {
      std::string v = GetStrProp(instance, prop);
      if (v.empty()) return;
      WritePropName(prop.name);
      WriteString(v);
      break;
    }
    case TypeKind::WString: {
      WideString v = GetWideStrProp(instance, prop);
      if (v.empty()) return;
      WritePropName(prop.name);
      WriteWideString(v);
      break;
    }
    case TypeKind::Method: {
      MethodRef m = GetMethodProp(instance, prop);
      TComponent* root = LookupRoot ? LookupRoot : Root;
      if (!m || !root) return;
      std::string name = root->ClassType().MethodName(m, root);
      if (name.empty()) return;
      WritePropName(prop.name);
      WriteIdent(name);
      break;
    }
    case TypeKind::Class: {
      TObject* obj = GetObjectProp(instance, prop);
      if (!obj) return;
      if (obj->Is<TComponent>()) {
        auto* c = static_cast<TComponent*>(obj);
        TComponent* root = LookupRoot ? LookupRoot : Root;
        std::string name;
        if (c == root || c->Owner() == root)
          name = c->Name();
        else if (c->Owner() && !c->Owner()->Name().empty() && !c->Name().empty())
          name = c->Owner()->Name() + "." + c->Name();
        if (name.empty() || !prop.setObj) return;
        WritePropName(prop.name);
        WriteIdent(name);
      } else if (obj->Is<TCollection>()) {
        if (static_cast<TCollection*>(obj)->Count() == 0) return;
        WritePropName(prop.name);
        WriteCollection(static_cast<TCollection*>(obj));
      } else if (obj->Is<TPersistent>()) {
        std::string saved = propPath_;
        propPath_ += prop.name + ".";
        try {
          WriteProperties(static_cast<TPersistent*>(obj));
        } catch (...) {
          propPath_ = saved;
          throw;
        }
        propPath_ = saved;
      }
      break;
    }
    default:
      break;
  }
}

void TWriter::WriteCollection(TCollection* collection) {
  WriteValue(vaCollection);
  std::string saved = propPath_;
  propPath_.clear();
  try {
    for (int i = 0; i < collection->Count(); ++i) {
      WriteListBegin();
      WriteProperties(collection->Items(i));
      WriteListEnd();
    }
  } catch (...) {
    propPath_ = saved;
    throw;
  }
  propPath_ = saved;
  WriteListEnd();
}
