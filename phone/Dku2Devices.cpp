#include "Dku2Devices.h"

#include <atomic>

#include "ByteReader.h"

namespace {
class TNoDku2Provider : public TDku2Provider {
 public:
  std::vector<std::string> ListDevicePaths(bool /*filtered*/) override { return {}; }
};

std::atomic<TDku2Provider*> g_provider{nullptr};
}  // namespace

bool Dku2ClassListed(std::size_t classIndex, bool filtered) {
  if (classIndex >= kDku2InterfaceClasses.size()) return false;
  return !filtered || kDku2InterfaceClasses[classIndex].keptWhenFiltered;
}

std::string Dku2DetailPath(std::string_view record, std::size_t pathOffset) {
  const ByteReader r(record);
  if (!r.Fits(pathOffset, 1)) return {};
  const std::string_view path = record.substr(pathOffset);
  return std::string(path.substr(0, path.find('\0')));
}

std::vector<std::string> CollectDku2DevicePaths(TDku2DeviceSource& source, bool filtered) {
  std::vector<std::string> paths;
  for (std::size_t c = 0; c < kDku2InterfaceClasses.size(); ++c) {
    if (!source.OpenClass(kDku2InterfaceClasses[c])) break;
    try {
      for (std::size_t m = 0;; ++m) {
        std::string record;
        std::size_t offset = 0;
        const TDku2DeviceSource::TMember got = source.Member(m, record, offset);
        if (got == TDku2DeviceSource::TMember::mbEnd) break;
        if (got == TDku2DeviceSource::TMember::mbRecord && Dku2ClassListed(c, filtered))
          paths.push_back(Dku2DetailPath(record, offset));
      }
    } catch (...) {
      source.CloseClass();
      throw;
    }
    source.CloseClass();
  }
  return paths;
}

void SetDku2Provider(TDku2Provider* provider) {
  g_provider.store(provider);
}

TDku2Provider& GetDku2Provider() {
  if (TDku2Provider* p = g_provider.load()) return *p;
  static TNoDku2Provider none;
  return none;
}

std::vector<std::string> ListDku2DevicePaths(bool filtered) {
  return GetDku2Provider().ListDevicePaths(filtered);
}
