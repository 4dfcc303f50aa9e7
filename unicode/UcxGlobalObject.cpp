#include "UcxGlobalObject.h"

#include "Swallow.h"

namespace {
TObject* g_object = nullptr;
}

TObject* UcxGlobalObject() {
  return g_object;
}

void SetUcxGlobalObject(TObject* object) {
  if (object == g_object) return;
  TObject* old = g_object;
  g_object = object;
  if (old) old->Free();
}

void DoneUcxGlobalObject() noexcept {
  TObject* old = g_object;
  g_object = nullptr;
  if (!old) return;
  try {
    old->Free();
  } catch (...) {
    SwallowException("UcxGlobalObject: releasing the global object");
  }
}
