#include "UcxTypInfo.h"

#include "Exceptions.h"
#include "Object.h"

namespace {

void CheckWideString(const PropInfo& prop) {
  if (prop.Kind() != TypeKind::WString || !prop.getWStr)
    throw EPropertyError("Property " + prop.name + " is not a WideString property");
}

}  // namespace

WideString GetWideStringProperty(const TObject* instance, const PropInfo& prop) {
  CheckWideString(prop);
  return prop.getWStr(instance);
}

void SetWideStringProperty(TObject* instance, const PropInfo& prop, const WideString& value) {
  CheckWideString(prop);
  if (!prop.setWStr) throw EPropertyError("Property " + prop.name + " is read-only");
  prop.setWStr(instance, value);
}
