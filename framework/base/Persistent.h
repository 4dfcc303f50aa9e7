// TPersistent: objects that can be assigned to one another and streamed.
#pragma once

#include <string>

#include "Object.h"

class TFiler;

class TPersistent : public TObject {
  FW_CLASS(TPersistent, TObject)
 public:
  // Copies `source` into this object; falls back to source->AssignTo(this).
  // An unsuitable pair raises EConvertError "Cannot assign a X to a Y".
  virtual void Assign(TPersistent* source);
  // Declares properties that are streamed by custom code (TFiler::DefineProperty).
  virtual void DefineProperties(TFiler& filer);
  // The object that owns this one, for the name path.
  virtual TPersistent* GetOwner() { return nullptr; }
  // A dotted path naming this object from its owners ("Form1.Button1", "Tree.Columns[2]").
  virtual std::string GetNamePath();

 protected:
  virtual void AssignTo(TPersistent* dest);
  [[noreturn]] void AssignError(TPersistent* source);
};
