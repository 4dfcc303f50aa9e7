// THelpContextMap: the map from a help project's topic names to help contexts.
// This plain version keeps the map file's name only; the program relies on the
// help file's own context numbers.
#pragma once

#include <string>

#include "Component.h"

class THelpContextMap : public TComponent {
  FW_CLASS(THelpContextMap, TComponent)
 public:
  explicit THelpContextMap(TComponent* owner) : TComponent(owner) {}
  std::string FileName;
};

// The unit's initialization: registers the class for form streaming.
void InitQhrContextMap();
