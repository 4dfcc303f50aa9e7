// The binary form reader on components with wide properties and their
// extra "W" and "_UTF7" entries: bad data raises a framework exception, never
// more.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Component.h"
#include "Streams.h"
#include "UcxClasses.h"

namespace {

class TFuzzWidePart : public TComponent {
  FW_CLASS(TFuzzWidePart, TComponent)
 public:
  using TComponent::TComponent;
  void DefineProperties(TFiler& filer) override {
    inherited::DefineProperties(filer);
    DefineWideProperties(filer, this);
  }
  WideString Caption;
  WideString Hint;
  char16_t Accel = u'A';
  TFuzzWidePart* Part1 = nullptr;  // the root's field for its child
};

}  // namespace

FW_BEGIN_CLASS(TFuzzWidePart)
  FW_PROP(Caption, Caption, Caption)
  FW_PROP(Hint, Hint, Hint)
  FW_PROP(Accel, Accel, Accel)
  FW_DEFAULT(u'A')
  FW_FIELD(Part1)
FW_END_CLASS

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool registered = [] {
    RegisterClasses({&TFuzzWidePart::StaticClass()});
    return true;
  }();
  (void)registered;
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(data, size));
  TOwned<TReader> reader(New<TReader>(*in));
  TOwned<TFuzzWidePart> root(New<TFuzzWidePart>(nullptr));
  try {
    reader->ReadRootComponent(root.get());
  } catch (const Exception&) {
  }
  return 0;
}
