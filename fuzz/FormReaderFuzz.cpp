// Feeds arbitrary bytes to the binary form reader (into live components of a
// few registered classes) and to the binary-to-text converter. Both must
// raise a framework exception on bad data, never crash or read past it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Collection.h"
#include "ObjectConvert.h"
#include "Strings.h"

namespace {

FW_ENUM(TFuzzKind, fkOne, fkTwo, fkThree);
using TFuzzKinds = Set<TFuzzKind>;

class TFuzzPart;

class TFuzzItem : public TCollectionItem {
  FW_CLASS(TFuzzItem, TCollectionItem)
 public:
  using TCollectionItem::TCollectionItem;
  int Width = 0;
  WideString Text;
  TFuzzPart* Link = nullptr;  // a component reference, fixed up after the form is read
};

class TFuzzPart : public TComponent {
  FW_CLASS(TFuzzPart, TComponent)
 public:
  explicit TFuzzPart(TComponent* owner) : TComponent(owner) {
    Items = New<TStringList>();
    Columns = New<TCollection>(TFuzzItem::StaticClass());
  }
  void Destroy() override {
    Items->Free();
    Columns->Free();
    inherited::Destroy();
  }
  void DefineProperties(TFiler& filer) override {
    inherited::DefineProperties(filer);
    filer.DefineBinaryProperty(
        "Data", [this](TStream& s) { Data = s.ReadBytes(s.Size()); }, nullptr, false);
    filer.DefineProperty(
        "Extra", [this](TReader& r) { Extra = r.ReadWideString(); }, nullptr, false);
  }
  int Left = 0;
  std::int64_t Big = 0;
  TFuzzKind Kind = fkOne;
  TFuzzKinds Kinds;
  bool Flag = false;
  double Ratio = 0;
  AnsiString Caption;
  WideString Hint;
  char16_t Accel = 0;
  char Letter = 'a';
  TStringList* Items;
  TCollection* Columns;
  TFuzzPart* Buddy = nullptr;
  TNotifyEvent OnClick;
  std::string Data;
  WideString Extra;
  TStringList* GetItems() const { return Items; }
  TCollection* GetColumns() const { return Columns; }
};

class TFuzzForm : public TComponent {
  FW_CLASS(TFuzzForm, TComponent)
 public:
  using TComponent::TComponent;
  TFuzzPart* Part1 = nullptr;
  void Part1Click(TObject*) {}
  void Other(int) {}
};

}  // namespace

FW_BEGIN_CLASS(TFuzzItem)
  FW_PROP(Width, Width, Width)
  FW_PROP(Text, Text, Text)
  FW_PROP(Link, Link, Link)
FW_END_CLASS
FW_BEGIN_CLASS(TFuzzPart)
  FW_PROP(Left, Left, Left)
  FW_PROP(Big, Big, Big)
  FW_PROP(Kind, Kind, Kind)
  FW_PROP(Kinds, Kinds, Kinds)
  FW_PROP(Flag, Flag, Flag)
  FW_PROP(Ratio, Ratio, Ratio)
  FW_PROP(Caption, Caption, Caption)
  FW_PROP(Hint, Hint, Hint)
  FW_PROP(Accel, Accel, Accel)
  FW_PROP(Letter, Letter, Letter)
  FW_PROP_RO(Items, GetItems)
  FW_PROP_RO(Columns, GetColumns)
  FW_PROP(Buddy, Buddy, Buddy)
  FW_EVENT(OnClick, OnClick)
FW_END_CLASS
FW_BEGIN_CLASS(TFuzzForm)
  FW_FIELD(Part1)
  FW_METHOD(Part1Click)
  FW_METHOD(Other)
FW_END_CLASS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool registered = [] {
    RegisterClasses({&TFuzzForm::StaticClass(), &TFuzzPart::StaticClass()});
    return true;
  }();
  (void)registered;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    (void)ObjectBinaryToText(bytes);
  } catch (const Exception&) {
  }
  TReadOnlyMemoryStream* in = New<TReadOnlyMemoryStream>(bytes.data(), bytes.size());
  TReader* reader = New<TReader>(*in);
  TFuzzForm* root = New<TFuzzForm>(nullptr);
  try {
    reader->ReadRootComponent(root);
  } catch (const Exception&) {
  }
  root->Free();
  reader->Free();
  in->Free();
  return 0;
}
