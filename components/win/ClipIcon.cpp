#include "ClipIcon.h"

#include <windows.h>

#include "Graphics.h"
#include "PictureRegistry.h"

namespace {
std::uint32_t g_iconFormat = 0;
}

void InitClipIcon() {
  g_iconFormat = RegisterClipboardFormatA("Lunder Icon");
  if (g_iconFormat) RegisterPictureClipboardFormat(g_iconFormat, TIcon::StaticClass());
}

std::uint32_t IconClipboardFormat() {
  return g_iconFormat;
}
