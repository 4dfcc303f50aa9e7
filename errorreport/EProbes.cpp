#include "EProbes.h"

#include "ECore.h"
#include "EReportBuilder.h"
#include "SysUtils.h"

namespace {
std::string Hex(std::uintptr_t value) {
  return IntToHex(value, 8);  // as the fault's own message writes addresses
}

std::string FilePart(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::string FormatCommandParameters(const std::string& commandLine) {
  const std::string line = Trim(commandLine);
  std::size_t at = 0;
  if (!line.empty() && line[0] == '"') {
    const std::size_t end = line.find('"', 1);
    at = end == std::string::npos ? line.size() : end + 1;
  } else {
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
  }
  return Trim(line.substr(at));
}

std::string ReplaceControlChars(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32 && c != '\r' && c != '\n') c = ' ';
  return out;
}

std::string ChooseCompany(const std::vector<std::string>& candidates, bool vistaOrLater) {
  for (const std::string& candidate : candidates) {
    if (candidate.empty()) continue;
    return vistaOrLater && candidate == "Microsoft" ? std::string() : candidate;
  }
  return {};
}

std::string FormatPrivileges(const std::vector<TPrivilegeRaw>& privileges) {
  std::string text;
  for (const TPrivilegeRaw& p : privileges) {
    std::string name = p.Name;
    if (name.size() < 31) name.append(31 - name.size(), ' ');
    text += name + ((p.Attributes & 2) ? " - ON" : " - OFF") + "\r\n";
  }
  return text;
}

std::string FormatProcessor(const std::string& nameString, const std::string& vendor, const std::string& identifier) {
  const std::string name = Trim(nameString);
  if (!name.empty()) return name;
  const std::string v = Trim(vendor), id = Trim(identifier);
  if (!v.empty() && !id.empty()) return v + " - " + id;
  if (!v.empty()) return v;
  return "Unknown processor";
}

std::string FormatVideoCard(const std::string& adapter, const std::string& driverVersion, std::uint64_t memoryBytes) {
  const std::string name = Trim(adapter);
  if (memoryBytes == 0) return name + " (driver " + driverVersion + ")";
  return name + " (driver " + driverVersion + " - RAM " + std::to_string(memoryBytes / 1048576) + " MB)";
}

std::string FormatPrinter(const std::string& driverName, const std::string& driverVersion) {
  if (driverName.empty()) return {};
  std::string version;
  for (char c : driverVersion)
    if (c != ' ') version += c;
  return driverName + " (driver " + version + ")";
}

std::string ChooseLanguage(const std::vector<TLocaleRaw>& locales, std::uint16_t systemLanguageId) {
  for (const TLocaleRaw& locale : locales) {
    if (locale.Abbreviation.empty() || locale.LocaleText.size() < 8) continue;
    std::int64_t id = 0;
    if (!TryStrToInt64("$" + locale.LocaleText.substr(4, 4), id)) continue;
    if (id == systemLanguageId) return locale.EnglishName;
  }
  return {};
}

std::string PadIpAddress(const std::string& address) {
  const std::string text = Trim(address);
  if (text.empty()) return "000.000.000.000";
  std::string out;
  std::size_t at = 0;
  while (true) {
    const std::size_t dot = text.find('.', at);
    std::string part = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
    if (part.size() < 3) part.insert(0, 3 - part.size(), '0');
    out += part;
    if (dot == std::string::npos) break;
    out += '.';
    at = dot + 1;
  }
  return out;
}

void FormatNetworkFacts(const std::vector<TAdapterRaw>& adapters, TReportHeaderFacts& facts) {
  std::string dhcp, ip, mask, gateway, dns1, dns2;
  for (const TAdapterRaw& a : adapters) {
    dhcp += a.Dhcp ? "ON              - " : "OFF             - ";
    ip += PadIpAddress(a.Ip) + " - ";
    mask += PadIpAddress(a.Mask) + " - ";
    gateway += PadIpAddress(a.Gateway) + " - ";
    dns1 += PadIpAddress(a.DnsKnown && !a.Dns.empty() ? a.Dns[0] : std::string()) + " - ";
    dns2 += PadIpAddress(a.DnsKnown && a.Dns.size() > 1 ? a.Dns[1] : std::string()) + " - ";
  }
  const auto cut = [](std::string& text) {
    if (text.size() >= 3 && text.compare(text.size() - 3, 3, " - ") == 0) text.resize(text.size() - 3);
  };
  for (std::string* text : {&dhcp, &ip, &mask, &gateway, &dns1, &dns2}) cut(*text);
  facts.Dhcp = dhcp;
  facts.IpAddress = ip;
  facts.Submask = mask;
  facts.Gateway = gateway;
  facts.Dns1 = dns1;
  facts.Dns2 = dns2;
}

std::string WithFinalDot(const std::string& message) {
  return !message.empty() && message.back() == '.' ? message : message + ".";
}

std::string FormatAccessViolationMessage(const TAccessViolationRaw& raw,
                                         const std::function<std::string(const std::string&)>& longPathName) {
  const std::string access = raw.Write ? "Write" : "Read";
  std::string message;
  if (!raw.ModuleFile.empty()) {
    const auto build = [&](const std::string& file) {
      return "Access violation at address " + Hex(raw.Address) + " in module '" + FilePart(file) + "'. " + access +
             " of address " + Hex(raw.Target);
    };
    message = build(raw.ModuleFile);
    if (WithFinalDot(message) == WithFinalDot(raw.OwnMessage) && longPathName)
      message = build(longPathName(raw.ModuleFile));
  } else {
    message = "Access violation at address " + Hex(raw.Address) + ". " + access + " of address " + Hex(raw.Target);
  }
  return WithFinalDot(message);
}

std::string FormatCompilationDate(double linkTimeUtc, int utcOffsetHours, std::int32_t biasMinutes) {
  if (linkTimeUtc == 0) return {};
  return FormatMailDate(linkTimeUtc + utcOffsetHours / 24.0, biasMinutes);
}

std::string FormatModuleTitle(const std::string& fileName, const std::string& description) {
  return description.empty() ? fileName : fileName + " - (" + description + ")";
}
