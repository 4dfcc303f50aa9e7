#include "PictureRegistry.h"

#include <algorithm>
#include <mutex>

#include "Object.h"
#include "SysUtils.h"

namespace {

struct Registry {
  std::vector<PictureFileFormat> files;
  std::vector<PictureClipboardFormat> clipboard;
};

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
Registry* g_registry = nullptr;  // created by the first registration

Registry& Reg() {
  if (!g_registry) g_registry = new Registry();
  return *g_registry;
}

std::string NormalizeExtension(std::string_view ext) {
  if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
  std::string out(ext);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::vector<PictureFileFormat> FormatsOf(const ClassInfo& base) {
  std::vector<PictureFileFormat> out;
  for (const PictureFileFormat& f : PictureFileFormats())
    if (f.graphicClass && f.graphicClass->InheritsFrom(base)) out.push_back(f);
  return out;
}

}  // namespace

void RegisterPictureFileFormat(std::string_view extension, std::string_view description, const ClassInfo& cls) {
  std::string ext = NormalizeExtension(extension);
  if (ext.empty()) return;
  std::lock_guard<std::mutex> g(Lock());
  auto& files = Reg().files;
  for (PictureFileFormat& f : files)
    if (f.extension == ext) {
      f.description = std::string(description);
      f.graphicClass = &cls;
      return;
    }
  files.push_back({std::move(ext), std::string(description), &cls});
}

void RegisterPictureClipboardFormat(std::uint32_t format, const ClassInfo& cls) {
  std::lock_guard<std::mutex> g(Lock());
  auto& clip = Reg().clipboard;
  for (PictureClipboardFormat& c : clip)
    if (c.format == format) {
      c.graphicClass = &cls;
      return;
    }
  clip.push_back({format, &cls});
}

void UnregisterPictureGraphicClass(const ClassInfo& cls) {
  std::lock_guard<std::mutex> g(Lock());
  if (!g_registry) return;
  std::erase_if(g_registry->files, [&](const PictureFileFormat& f) { return f.graphicClass->InheritsFrom(cls); });
  std::erase_if(g_registry->clipboard,
                [&](const PictureClipboardFormat& c) { return c.graphicClass->InheritsFrom(cls); });
}

void ClearPictureRegistry() {
  std::lock_guard<std::mutex> g(Lock());
  delete g_registry;
  g_registry = nullptr;
}

const ClassInfo* FindGraphicClassForExtension(std::string_view extensionOrFileName) {
  std::string_view ext = extensionOrFileName;
  const std::size_t slash = ext.find_last_of("\\/:");
  if (slash != std::string_view::npos) ext.remove_prefix(slash + 1);
  const std::size_t dot = ext.rfind('.');
  if (dot != std::string_view::npos) ext.remove_prefix(dot + 1);
  const std::string wanted = NormalizeExtension(ext);
  std::lock_guard<std::mutex> g(Lock());
  if (g_registry)
    for (const PictureFileFormat& f : g_registry->files)
      if (f.extension == wanted) return f.graphicClass;
  return nullptr;
}

const ClassInfo* FindGraphicClassForClipboardFormat(std::uint32_t format) {
  std::lock_guard<std::mutex> g(Lock());
  if (g_registry)
    for (const PictureClipboardFormat& c : g_registry->clipboard)
      if (c.format == format) return c.graphicClass;
  return nullptr;
}

bool SupportsPictureClipboardFormat(std::uint32_t format) {
  return FindGraphicClassForClipboardFormat(format);
}

std::vector<PictureFileFormat> PictureFileFormats() {
  std::lock_guard<std::mutex> g(Lock());
  return g_registry ? g_registry->files : std::vector<PictureFileFormat>();
}

std::vector<PictureClipboardFormat> PictureClipboardFormats() {
  std::lock_guard<std::mutex> g(Lock());
  return g_registry ? g_registry->clipboard : std::vector<PictureClipboardFormat>();
}

std::string GraphicExtension(const ClassInfo& base) {
  std::vector<PictureFileFormat> formats = FormatsOf(base);
  return formats.empty() ? std::string() : formats.front().extension;
}

std::string GraphicFileMask(const ClassInfo& base) {
  std::string mask;
  for (const PictureFileFormat& f : FormatsOf(base)) {
    if (!mask.empty()) mask += ';';
    mask += "*." + f.extension;
  }
  return mask;
}

std::string GraphicFilter(const ClassInfo& base) {
  std::vector<PictureFileFormat> formats = FormatsOf(base);
  if (formats.empty()) return {};
  const std::string all = GraphicFileMask(base);
  std::string filter = "All (" + all + ")|" + all;
  for (const PictureFileFormat& f : formats)
    filter += "|" + f.description + " (*." + f.extension + ")|*." + f.extension;
  return filter;
}
