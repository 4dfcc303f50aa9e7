// Form streams: the binary component format ("TPF0" + objects), the reader
// that turns it into live components and the writer that produces it.
//
// Binary layout: the signature "TPF0", then the root object. An object is an
// optional prefix byte (0xF0 | flags; with ffChildPos a child position as an
// integer value follows), the class name and the object name (short strings:
// u8 length, bytes), its properties (short-string name + value) up to a
// vaNull, its children up to a vaNull. Values start with a TValueType byte.
//
// Form data is untrusted: every read is exact (never past the data), lengths
// are checked against what is left, nesting is bounded, and errors raise
// EReadError naming the property or class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Component.h"
#include "Extended.h"
#include "IdentMaps.h"
#include "Streams.h"

class TCollection;
class TReader;
class TWriter;

enum TValueType : std::uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
};
constexpr std::uint8_t kMaxValueType = vaUTF8String;

// Object prefix flags.
constexpr std::uint8_t ffInherited = 1;
constexpr std::uint8_t ffChildPos = 2;
constexpr std::uint8_t ffInline = 4;

extern const char kFilerSignature[4];  // "TPF0"

// The deepest nesting of objects, lists and collections a stream may have.
constexpr int kMaxFilerDepth = 64;

// The ten bytes of an extended value (see Extended.h) from a double, exactly, and back to
// the nearest double.
void DoubleToExtended(double value, std::uint8_t out[10]);
double ExtendedToDouble(const std::uint8_t in[10]);

class TFiler : public TObject {
  FW_CLASS(TFiler, TObject)
 public:
  using ReaderProc = std::function<void(TReader&)>;
  using WriterProc = std::function<void(TWriter&)>;
  using StreamProc = std::function<void(TStream&)>;

  explicit TFiler(TStream& stream) : stream_(&stream) {}

  // Declares a property streamed by custom code. A reader runs `read` when the
  // stream holds a property of this name; a writer runs `write` when hasData.
  virtual void DefineProperty(const std::string& name, const ReaderProc& read, const WriterProc& write,
                              bool hasData) = 0;
  // The same for a binary value; the callbacks see only the value's bytes.
  virtual void DefineBinaryProperty(const std::string& name, const StreamProc& read, const StreamProc& write,
                                    bool hasData) = 0;

  TStream& Stream() const { return *stream_; }
  TComponent* Root = nullptr;
  TComponent* LookupRoot = nullptr;
  TPersistent* Ancestor = nullptr;  // always null: nothing streams against an ancestor
  bool IgnoreChildren = false;

 protected:
  TStream* stream_;
};

class TReader : public TFiler {
  FW_CLASS(TReader, TFiler)
 public:
  explicit TReader(TStream& stream) : TFiler(stream) {}

  void DefineProperty(const std::string& name, const ReaderProc& read, const WriterProc& write, bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const StreamProc& read, const StreamProc& write,
                            bool hasData) override;

  // Components.
  // Reads a whole form into `root` (created from the stream's class when null); returns the root.
  TComponent* ReadRootComponent(TComponent* root);
  // Reads one child object; `component` null creates it (owner = Owner, parent = Parent).
  TComponent* ReadComponent(TComponent* component);
  // Properties and children of `instance` (TComponent::ReadState calls this).
  void ReadData(TComponent* instance);
  void ReadProperty(TPersistent* instance);
  void ReadCollection(TCollection* collection);
  void ReadSignature();
  void ReadPrefix(std::uint8_t& flags, int& childPos);
  TComponent* Owner = nullptr;
  TComponent* Parent = nullptr;

  // Values.
  TValueType ReadValue();
  TValueType NextValue();
  bool EndOfList();  // the next byte is the end-of-list marker (it is not consumed)
  void ReadListBegin();
  void ReadListEnd();
  void CheckValue(TValueType expected);
  std::int32_t ReadInteger();
  std::int64_t ReadInt64();
  bool ReadBoolean();
  char ReadChar();
  char16_t ReadWideChar();
  double ReadFloat();        // extended, double-like values and integers
  TExtended ReadExtended();  // an extended value as it stands; other numbers converted
  float ReadSingle();
  double ReadCurrency();  // the currency value (stored times 10000)
  TDateTime ReadDate();
  std::string ReadString();                        // any string kind, as ANSI
  WideString ReadWideString();                     // any string kind, as UTF-16
  std::string ReadIdent();                         // identifiers and False, True, nil, Null
  std::string ReadStr();                           // a raw short string (names)
  std::string ReadBinary();                        // a vaBinary value's bytes
  std::uint64_t ReadSet(const TypeInfo* setType);  // the value type must have been read
  void SkipValue();

  // The property being read (for messages), and where reading stands.
  const std::string& PropName() const { return propName_; }
  std::int64_t Position() { return stream_->Position(); }

 private:
  struct Fixup {
    TPersistent* instance;
    const PropInfo* prop;
    std::string name;
    std::string path;
    std::vector<const TObject*> items;  // the collection items being read when it was queued, outermost first
  };
  void ReadDataInner(TComponent* instance);
  void ReadPropValue(TPersistent* instance, const PropInfo& prop);
  std::int64_t ReadIntegerValue(TValueType t);
  std::string ReadStringValue(TValueType t, bool& wide, WideString& w);
  std::uint32_t ReadLength();
  void CheckLeft(std::uint64_t count);
  void FixupReferences();
  void DropFixupsWithin(const TCollection* collection);
  [[noreturn]] void PropValueError();
  void Enter();
  void Leave() { --depth_; }

  std::string propName_;
  bool propFound_ = false;
  bool hasPeek_ = false;
  TValueType peek_ = vaNull;
  int depth_ = 0;
  std::vector<Fixup> fixups_;
  std::vector<const TObject*> items_;  // the collection items being read, outermost first
  std::vector<TComponent*> loaded_;
  bool collecting_ = false;
};

// Reads a whole form from binary form data held in memory, as ReadRootComponent
// does (`root` null creates it from the data's class); returns the root.
TComponent* ReadComponentData(const void* data, std::size_t size, TComponent* root);

class TWriter : public TFiler {
  FW_CLASS(TWriter, TFiler)
 public:
  explicit TWriter(TStream& stream) : TFiler(stream) {}

  void DefineProperty(const std::string& name, const ReaderProc& read, const WriterProc& write, bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const StreamProc& read, const StreamProc& write,
                            bool hasData) override;

  // Components (no ancestors: every stored property that differs from its default is written).
  void WriteRootComponent(TComponent* root);
  void WriteDescendent(TComponent* root, TComponent* ancestor);
  void WriteComponent(TComponent* component);
  void WriteProperties(TPersistent* instance);
  void WriteProperty(TPersistent* instance, const PropInfo& prop);
  void WriteCollection(TCollection* collection);

  // Primitives.
  void WriteSignature();
  void WritePrefix(std::uint8_t flags, int childPos);
  void WriteValue(TValueType value);
  void WriteStr(const std::string& s);  // a raw short string; longer than 255 raises EWriteError
  void WritePropName(const std::string& name);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  void WriteInteger(std::int64_t value);  // the smallest of int8, int16, int32, int64
  void WriteBoolean(bool value) { WriteValue(value ? vaTrue : vaFalse); }
  void WriteChar(char c) { WriteString(std::string(1, c)); }
  void WriteWideChar(char16_t c);
  void WriteFloat(double value);  // extended
  void WriteExtended(const TExtended& value);
  void WriteSingle(float value);
  void WriteCurrency(double value);            // stored times 10000
  void WriteCurrencyRaw(std::int64_t scaled);  // the stored value itself
  void WriteDate(TDateTime value);
  // The two string steps may be overridden: a writer that stores strings in another encoding
  // replaces them, and the form converters and component writing follow.
  virtual void WriteString(const std::string& s);  // vaString up to 255 bytes, else vaLString
  virtual void WriteWideString(const WideString& s);
  void WriteUTF8String(const std::string& utf8);
  void WriteIdent(const std::string& ident);  // False, True, nil and Null get their own codes
  void WriteBinary(const std::string& bytes);
  void WriteSet(const TypeInfo* setType, std::uint64_t bits);
  void Write(const void* data, std::size_t count) { stream_->WriteBuffer(data, static_cast<std::int64_t>(count)); }

 private:
  std::string propPath_;
};
