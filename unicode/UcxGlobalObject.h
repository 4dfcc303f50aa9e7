// A global object of the layer that its unit's end releases. Nothing in the
// program makes one; whoever sets it hands it over to the unit.
#pragma once

#include "Object.h"

// The object (null while none is set); setting one frees the one before.
TObject* UcxGlobalObject();
void SetUcxGlobalObject(TObject* object);

// The unit's end: frees the object; never raises.
void DoneUcxGlobalObject() noexcept;
