#include "ESystem.h"

std::string GetFolderOfPath(std::string_view path) {
  if (path.substr(0, 4) == "\\??\\") path.remove_prefix(4);
  const std::size_t sep = path.find_last_of("\\/");
  if (sep == std::string_view::npos) {
    const std::size_t colon = path.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(path.substr(0, colon + 1));
  }
  // "C:\file" keeps its backslash after the drive colon.
  if (sep > 0 && path[sep - 1] == ':') return std::string(path.substr(0, sep + 1));
  return std::string(path.substr(0, sep));
}

std::string FormatSizeInKb(std::uint64_t bytes) {
  if (bytes == 0) return {};
  const std::uint64_t whole = bytes / 1024, rest = bytes % 1024;
  std::uint64_t kb = whole;
  if (rest > 512 || (rest == 512 && (whole & 1) != 0)) ++kb;
  return std::to_string(kb) + " Kb";
}

std::string MaskVersionBuild(std::string_view version) {
  const std::size_t first = version.find('.');
  if (first == std::string_view::npos) return std::string(version);
  const std::size_t second = version.find('.', first + 1);
  if (second == std::string_view::npos) return std::string(version);
  return std::string(version.substr(0, second + 1)) + "x";
}

std::string GetPriorityClassName(std::uint32_t priorityClass) {
  switch (priorityClass) {
    case 32:
      return "Normal";
    case 64:
      return "Low";
    case 128:
      return "High";
    case 256:
      return "Real-Time";
    case 0x4000:
      return "Below-Normal";
    case 0x8000:
      return "Above-Normal";
    default:
      return {};
  }
}

std::string FormatNumberOrUnknown(std::int64_t n) {
  return n == 0 ? std::string("??") : std::to_string(n);
}

std::uint32_t PriorityClassFromBasePriority(std::int32_t basePriority) {
  if (basePriority <= 0) return 0;
  if (basePriority <= 5) return 64;
  if (basePriority <= 7) return 0x4000;
  if (basePriority <= 9) return 32;
  if (basePriority <= 12) return 0x8000;
  if (basePriority <= 23) return 128;
  return 256;
}

std::uintptr_t CodeAddressFromOffset(ModuleHandle module, std::uint32_t offset) {
  return static_cast<std::uintptr_t>(module) + kCodeStartRva + offset;
}
