// The phones found in one run of the wizard and their hand-over to the phone
// manager (Corvessa): when the wizard closes, the found connections become
// string values in HKEY_CURRENT_USER\Software\Talvex\Corvessa\Options, section
// (subkey) "Common":
//   "COM<port>"              the connection kind ("1", "2" or "3") of each phone
//                            found on a serial cable or a Bluetooth serial port;
//   "IrDA", "DKU-2", "DKU-5" "1" when a phone was found that way, else "0".
// Any other "COM1" to "COM255" value is removed; values of other names stay.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Object.h"

class RegistryBackend;
class TRegistryIniFile;

// Connection kinds: chosen in the wizard, kept with each found phone, used as
// the finder's port mark and written to the registry.
constexpr std::uint8_t ConnNone = 0;
constexpr std::uint8_t ConnFbusCable = 1;  // serial data cable (DAU-9P)
constexpr std::uint8_t ConnDlr3Cable = 2;  // serial cable with the AT switch (DLR-3/DLR-3P)
constexpr std::uint8_t ConnBluetooth = 3;  // Bluetooth serial port
constexpr std::uint8_t ConnDku5 = 4;       // DKU-5/CA-42 USB virtual COM port
constexpr std::uint8_t ConnIrDA = 5;       // infrared
constexpr std::uint8_t ConnDku2 = 6;       // DKU-2/CA-53 USB

// The phone manager's options key (below HKEY_CURRENT_USER) and its section.
constexpr std::string_view CorvessaOptionsKey = "Software\\Talvex\\Corvessa\\Options";
constexpr std::string_view CorvessaCommonSection = "Common";

// One found phone.
class TPhone : public TObject {
  FW_CLASS(TPhone, TObject)

 public:
  std::string Model;      // model name as shown ("Unknown" when the product code has no entry)
  std::string IMEI;       // IMEI or ESN as read
  std::string SWVersion;  // software version text
  std::uint8_t Kind = ConnNone;
  std::int32_t Port = 0;  // the port the phone object reports (the COM number for the serial kinds)
};

// The phones found, in the order found. The list owns its entries and frees
// them with itself. The same phone found twice gives two entries.
class TMobilePhones : public TObject {
  FW_CLASS(TMobilePhones, TObject)

 public:
  void Destroy() override;

  int PhoneCount() const { return static_cast<int>(phones_.size()); }
  // Raises EListError when index is out of range.
  TPhone* PhoneAt(int index) const;
  // Appends the phone and returns its index; nil gives -1 and adds nothing.
  int AddPhone(TPhone* phone);

 private:
  std::vector<TPhone*> phones_;
};

// Writes the found connections to the phone manager's options (the key is
// created when missing). The new values are written before any stale "COM"
// value is removed, so a save that fails part-way loses none of the earlier
// settings; the registry error (ERegistryException) then reaches the caller.
// On success "Common" holds exactly the values described above.
void SaveConnections(const TMobilePhones& phones, RegistryBackend* backend = nullptr);

// The clearing step on an open options key: "IrDA", "DKU-2" and "DKU-5" set to
// "0", then every "COM1" to "COM255" value removed. Nothing happens for nil.
// Raises ERegistryException when a value cannot be written or removed.
void ClearSavedConnections(TRegistryIniFile* ini);
