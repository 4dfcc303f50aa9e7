// The picture registry: which graphic class loads a file extension, and which
// one reads a clipboard format. Picture classes register themselves in their
// unit's initialization (and may unregister in its finalization); TPicture
// looks classes up here when it loads a file or pastes from the clipboard.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ClassInfo;

struct PictureFileFormat {
  std::string extension;  // lower case, without the dot
  std::string description;
  const ClassInfo* graphicClass = nullptr;
};

struct PictureClipboardFormat {
  std::uint32_t format = 0;
  const ClassInfo* graphicClass = nullptr;
};

// Registers (or re-registers, replacing the class and description) an
// extension, given with or without its dot, compared without regard to case.
void RegisterPictureFileFormat(std::string_view extension, std::string_view description, const ClassInfo& cls);
void RegisterPictureClipboardFormat(std::uint32_t format, const ClassInfo& cls);
// Removes every file and clipboard format of `cls` and of its descendants.
void UnregisterPictureGraphicClass(const ClassInfo& cls);
void ClearPictureRegistry();

// The class for an extension (".bmp", "BMP") or a file name's extension; null when none.
const ClassInfo* FindGraphicClassForExtension(std::string_view extensionOrFileName);
const ClassInfo* FindGraphicClassForClipboardFormat(std::uint32_t format);
bool SupportsPictureClipboardFormat(std::uint32_t format);

// The formats in registration order.
std::vector<PictureFileFormat> PictureFileFormats();
std::vector<PictureClipboardFormat> PictureClipboardFormats();

// For open and save dialogs, over the classes that are or inherit from `base`:
// the first extension ("bmp"), the mask ("*.bmp;*.ico") and the filter
// ("All (*.bmp;*.ico)|*.bmp;*.ico|Bitmaps (*.bmp)|*.bmp|Icons (*.ico)|*.ico").
std::string GraphicExtension(const ClassInfo& base);
std::string GraphicFileMask(const ClassInfo& base);
std::string GraphicFilter(const ClassInfo& base);
