// Reading and writing WideString published properties by their property
// information: through the property table's getter and setter (a field, an
// accessor function or an indexed accessor alike).
#pragma once

#include "TypeInfo.h"

class TObject;

// Raises EPropertyError for a property that is not a WideString one, or,
// when setting, one without a setter.
WideString GetWideStringProperty(const TObject* instance, const PropInfo& prop);
void SetWideStringProperty(TObject* instance, const PropInfo& prop, const WideString& value);
