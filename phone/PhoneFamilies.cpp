#include "PhoneFamilies.h"

#include "LinkFrames.h"
#include "NokiaUtils.h"

#include <initializer_list>

namespace {

bool In(int n, std::initializer_list<int> list) {
  for (int v : list) {
    if (v == n) return true;
  }
  return false;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

int PhoneFamily(int cached, int n, std::string_view productCode) {
  if (cached > 0) return cached;
  int family = cached;
  const int h = n / 100;
  if (h == 51 || n == 3210) family = 1;
  if (In(h, {61, 82, 88})) family = 1;
  if (n == 3310 || n == 3390) family = 2;
  if (In(n, {8855, 8250, 3330, 5210, 5510, 3410, 3350}) || h == 36 || n == 2100 || n / 10 == 110) family = 2;
  if (h == 71 || n == 6210 || n == 6250) family = 3;
  const int cls = ModelClassOf(productCode);
  if (cls == 4 || cls == 5) family = 4;
  if (h == 12) family = 0;
  if (h == 26) family = 4;
  if (n == 9999) family = 3;
  return family;
}

bool ConnectPrerequisitesMet(std::uint8_t linkMethod, std::intptr_t socket, int comPort) {
  if (linkMethod == kLinkInfrared) return socket != 0;
  if (linkMethod == kLinkDku2) return true;
  return comPort != 0;
}

std::vector<TPhoneRequest> InitFamilyRequests(int family) {
  switch (family) {
    case 1:
    case 2:
      return {Init5110Request()};
    case 3:
      return {SmsInit7110Request(), DaRequest(""), SmsInitSmsRequest()};
    case 4: {
      std::vector<TPhoneRequest> requests = {SmsInitSmsRequest()};
      for (auto& r : Family4PhonebookInit()) requests.push_back(std::move(r));
      return requests;
    }
    default:
      return {};
  }
}

std::vector<TPhoneRequest> DeinitFamilyRequests(int family) {
  if (family == 3 || family == 4) return {Deinit7110Request()};
  return {};
}

std::optional<TPhoneRequest> PreModelReadRequest(std::uint8_t linkMethod) {
  if (linkMethod == kLinkAtSwitch) return DaRequest("");
  if (linkMethod == kLinkFbusCable) return SysGetRequest();
  return std::nullopt;
}

std::string NormalizeProductCode(std::string_view code) {
  std::string c(code);
  if (c.find("RHV") != std::string::npos && c.find('3') != std::string::npos) c = "RHV-3";
  while (!c.empty() && ModelNameFromCode(c, 0).empty() && !IsDigit(c.back())) c.pop_back();
  return c;
}

std::optional<TIdentityRequest> IdentityRequestFor(std::string_view productCode, int family, int modelNumber) {
  if (!UsesStandardImei(productCode)) return TIdentityRequest::ir6360;
  switch (family) {
    case 1:
    case 2:
      return modelNumber == 2280 ? TIdentityRequest::ir6360 : TIdentityRequest::ir5110;
    case 3:
      return TIdentityRequest::ir7110;
    case 4:
      return TIdentityRequest::ir8310;
    default:
      return std::nullopt;
  }
}

std::vector<TPhoneRequest> StatusRequests(int family, int modelNumber) {
  if (In(modelNumber, {3210, 3310, 3390})) return {};
  switch (family) {
    case 1:
    case 2:
      return {StatInfoRequest()};
    case 3:
      return {Bat7110Request(), Sig7110Request()};
    case 4:
      return {Bat8310Request()};
    default:
      return {};
  }
}

std::vector<TPhoneRequest> HwVersionRequests(int family) {
  if (family >= 1 && family <= 3) return {Init5110Request(), Hw5110Request()};
  if (family == 4) return {Hw8310Request()};
  return {};
}

int KeepAliveIntervalMs(int modelNumber, std::string_view productCode, std::uint8_t linkMethod) {
  if ((modelNumber == 9998 || NeedsDaCheck(productCode)) && linkMethod == kLinkAtSwitch) {
    return kKeepAliveFastIntervalMs;
  }
  return kKeepAliveIntervalMs;
}

bool CanReadClock(int n) {
  return !(n / 10 == 260 || n / 100 == 16 || n / 100 == 11 || n == 2310);
}

bool CanSetClock(int n) {
  return n / 10 != 260;
}

bool CanReadAlarm(int n) {
  return !(In(n, {2100, 1600, 2310}) || n / 10 == 110 || n / 10 == 260);
}

bool CanSetAlarm(int n) {
  return !(In(n, {2100, 2310}) || n / 10 == 110 || n / 10 == 260);
}
