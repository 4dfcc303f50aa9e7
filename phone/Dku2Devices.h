// The device paths of phones on DKU-2 (CA-53) USB cables, listed through the
// USB phone driver's device-interface classes. The listing goes through a small
// provider: the Windows program installs one on SetupAPI, tests install fakes.
// The class table, the filter and the reading of a device-interface detail
// record are here, bounds-checked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TDku2InterfaceClass {
  const char* guid;       // interface class identifier, in registry form
  bool keptWhenFiltered;  // listed in a filtered list too
};
// The USB phone driver's interface classes, in the order they are listed.
inline constexpr std::array<TDku2InterfaceClass, 4> kDku2InterfaceClasses = {{
    {"{4F919104-4ADF-11D5-882D-00B0D02FE381}", false},
    {"{4F919102-4ADF-11D5-882D-00B0D02FE381}", true},
    {"{4F919100-4ADF-11D5-882D-00B0D02FE381}", false},
    {"{4F919108-4ADF-11D5-882D-00B0D02FE381}", true},
}};

// The two driver requests sent after a device is opened, in this order (device
// type 0x22, buffered, any access), each with a 512-byte output buffer and a
// wait of at most 5000 ms.
inline constexpr std::array<std::uint32_t, 2> kDku2OpenRequests = {0x22203C, 0x222034};
inline constexpr std::size_t kDku2RequestOutputSize = 512;
inline constexpr std::uint32_t kDku2RequestWaitMs = 5000;

// True when paths of the class at `classIndex` go into the list.
bool Dku2ClassListed(std::size_t classIndex, bool filtered);

// The device path in a device-interface detail record: the text from
// `pathOffset` (the offset of the path field after the record's size field) to
// the first zero byte or the end of the record. Empty when the record is too
// short to hold the field. The record's sizes differ between 32- and 64-bit
// builds: a provider takes them from the platform's own record types (sizeof,
// offsetof), never from fixed numbers.
std::string Dku2DetailPath(std::string_view record, std::size_t pathOffset);

// Lists the paths of the present devices of the driver's interface classes.
class TDku2Provider {
 public:
  virtual ~TDku2Provider() = default;
  // Paths in class order; `filtered` keeps only the classes marked so. The
  // caller owns the list; it may be empty.
  virtual std::vector<std::string> ListDevicePaths(bool filtered) = 0;
};

// The platform's device-installation interface, one interface class at a time
// (SetupAPI on Windows). CollectDku2DevicePaths walks it.
class TDku2DeviceSource {
 public:
  enum class TMember {
    mbEnd,     // no such member, or its interface or detail size cannot be had: the class ends
    mbSkip,    // its detail record could not be fetched: go on with the next member
    mbRecord,  // `record` holds its detail record, the path at `pathOffset`
  };
  virtual ~TDku2DeviceSource() = default;
  // Makes the set of present devices of the class; false when it cannot be made.
  virtual bool OpenClass(const TDku2InterfaceClass& cls) = 0;
  // Member `index` (0, 1, 2, ...) of the open class.
  virtual TMember Member(std::size_t index, std::string& record, std::size_t& pathOffset) = 0;
  // Releases the set made by a successful OpenClass.
  virtual void CloseClass() = 0;
};

// The device paths of every class in table order (`filtered`: only the classes
// marked so). A class whose set cannot be made ends the listing with what was
// found so far; a member that ends its class ends that class only.
std::vector<std::string> CollectDku2DevicePaths(TDku2DeviceSource& source, bool filtered);

// A provider that lists the paths it was given (every one, filtered or not).
class TDku2PathListProvider : public TDku2Provider {
 public:
  explicit TDku2PathListProvider(std::vector<std::string> paths) : paths_(std::move(paths)) {}
  std::vector<std::string> ListDevicePaths(bool /*filtered*/) override { return paths_; }

 private:
  std::vector<std::string> paths_;
};

// The provider the finder uses. Until one is installed: no devices.
void SetDku2Provider(TDku2Provider* provider);  // null restores the default
TDku2Provider& GetDku2Provider();
// The paths of the installed provider.
std::vector<std::string> ListDku2DevicePaths(bool filtered);
