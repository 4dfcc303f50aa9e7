// The report header's system facts made from raw values: the formatting half
// of the probes. The raw values come from the system through SystemProbeSource
// (win/EProbesWin.h reads them); tests inject their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TReportHeaderFacts;

// The command line without the program's own name: the first token (quoted,
// or up to the first blank) is skipped and the rest trimmed.
std::string FormatCommandParameters(const std::string& commandLine);

// Every byte below 32 other than CR and LF becomes a blank.
std::string ReplaceControlChars(const std::string& text);

// The first registered organisation found; "Microsoft" on Windows Vista and
// later gives an empty company.
std::string ChooseCompany(const std::vector<std::string>& candidates, bool vistaOrLater);

struct TPrivilegeRaw {
  std::string Name;
  std::uint32_t Attributes = 0;  // 2: enabled
};
// One line per privilege: its name padded to 31 characters, " - ON" or " - OFF", CRLF.
std::string FormatPrivileges(const std::vector<TPrivilegeRaw>& privileges);

// The processor name, else vendor + " - " + identifier, the vendor alone, or "Unknown processor".
std::string FormatProcessor(const std::string& nameString, const std::string& vendor, const std::string& identifier);

// adapter + " (driver " + version + " - RAM " + MB + " MB)", or without the RAM part for no memory.
std::string FormatVideoCard(const std::string& adapter, const std::string& driverVersion, std::uint64_t memoryBytes);

// driver + " (driver " + version with all blanks removed + ")"; empty without a driver name.
std::string FormatPrinter(const std::string& driverName, const std::string& driverVersion);

struct TLocaleRaw {
  std::string LocaleText;    // its hexadecimal id in characters 5 to 8
  std::string Abbreviation;  // the abbreviated language name
  std::string EnglishName;
};
// The English name of the first locale with an abbreviation whose id is the system's language id.
std::string ChooseLanguage(const std::vector<TLocaleRaw>& locales, std::uint16_t systemLanguageId);

// An address with every part zero-padded to three digits; "000.000.000.000" when absent.
std::string PadIpAddress(const std::string& address);

struct TAdapterRaw {
  bool Dhcp = false;
  std::string Ip, Mask, Gateway;  // the first of each
  bool DnsKnown = false;          // the per-adapter call succeeded
  std::vector<std::string> Dns;
};
// IP, mask, gateway, DNS 1, DNS 2 and DHCP texts of all adapters, joined by " - ".
void FormatNetworkFacts(const std::vector<TAdapterRaw>& adapters, TReportHeaderFacts& facts);

// The exception message of an access violation: with the module when the
// address lies in one ("Access violation at address %p in module '%s'. %s of
// address %p"), built again with the module's long name when the short one
// gives the exception's own message; a message gets a final ".".
struct TAccessViolationRaw {
  std::uintptr_t Address = 0;
  std::string ModuleFile;  // of the faulting address; empty when none
  bool Write = false;
  std::uintptr_t Target = 0;
  std::string OwnMessage;
};
std::string FormatAccessViolationMessage(const TAccessViolationRaw& raw,
                                         const std::function<std::string(const std::string&)>& longPathName);
// A message that does not end in "." gets one.
std::string WithFinalDot(const std::string& message);

// The module's link time (UTC; 0 when unknown) moved by the local offset from
// UTC in hours, in mail date form; empty for an unknown time.
std::string FormatCompilationDate(double linkTimeUtc, int utcOffsetHours, std::int32_t biasMinutes);

// A module's header title: its file name, then " - (" + description + ")" when it has one.
std::string FormatModuleTitle(const std::string& fileName, const std::string& description);
