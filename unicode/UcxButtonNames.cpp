#include "UcxButtonNames.h"

#include <vector>

namespace {
std::vector<WideString>* g_names = nullptr;
}

WideString UcxButtonName(int index) {
  if (!g_names || index < 0 || index >= static_cast<int>(g_names->size())) return {};
  return (*g_names)[static_cast<std::size_t>(index)];
}

void InitUcxButtonNames() {
  if (g_names) return;
  g_names = new std::vector<WideString>{u"Yes",    u"No",  u"OK",      u"Cancel",   u"Abort", u"Retry",
                                        u"Ignore", u"All", u"NoToAll", u"YesToAll", u"Help"};
}

void DoneUcxButtonNames() noexcept {
  delete g_names;
  g_names = nullptr;
}
