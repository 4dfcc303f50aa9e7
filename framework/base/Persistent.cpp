#include "Persistent.h"

FW_IMPLEMENT_CLASS(TPersistent)

void TPersistent::Assign(TPersistent* source) {
  if (source)
    source->AssignTo(this);
  else
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* dest) {
  dest->AssignError(this);
}

void TPersistent::AssignError(TPersistent* source) {
  std::string from = source ? source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + from + " to a " + ClassName());
}

void TPersistent::DefineProperties(TFiler&) {}

std::string TPersistent::GetNamePath() {
  std::string path = ClassName();
  if (TPersistent* owner = GetOwner()) {
    std::string ownerPath = owner->GetNamePath();
    if (!ownerPath.empty()) path = ownerPath + "." + path;
  }
  return path;
}
