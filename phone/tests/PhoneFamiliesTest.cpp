#include "PhoneFamilies.h"

#include "LinkFrames.h"

#include <gtest/gtest.h>

TEST(PhoneFamilies, FamilyOfModel) {
  struct Case {
    int n;
    const char* code;
    int family;
  };
  const Case cases[] = {
      {6110, "NSE-3", 1},   {5110, "NSE-1", 1},   {3210, "NSE-8", 1}, {8210, "NSM-3", 1}, {8810, "NSE-6", 1},
      {3310, "NHM-5NX", 2}, {3390, "NPB-1NB", 2}, {3330, "NHM-6", 2}, {3610, "", 2},      {3610, "NAM-1", 4},
      {2100, "NAM-2", 2},   {1100, "RH-18", 4},  // 110x is family 2, but its class 4 makes it 4
      {6210, "NPE-3", 3},   {7110, "NSE-5", 3},   {6250, "NHM-3", 3}, {6310, "NPE-4", 4}, {8310, "NHM-7", 4},
      {6230, "RH-12", 4},   {1200, "", 0},        {9999, "RHV-1", 3}, {2600, "", 4},      {2600, "RM-340", 4},
      {999, "", -1},        {0, "", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(PhoneFamily(-1, c.n, c.code), c.family) << c.n << " " << c.code;
  // A cached family above 0 stands; 0 and -1 are computed again.
  EXPECT_EQ(PhoneFamily(3, 6110, "NSE-3"), 3);
  EXPECT_EQ(PhoneFamily(0, 999, ""), 0);
  EXPECT_EQ(PhoneFamily(0, 6110, "NSE-3"), 1);
}

TEST(PhoneFamilies, ConnectPrerequisites) {
  EXPECT_FALSE(ConnectPrerequisitesMet(kLinkInfrared, 0, 5));
  EXPECT_TRUE(ConnectPrerequisitesMet(kLinkInfrared, 123, 0));
  EXPECT_TRUE(ConnectPrerequisitesMet(kLinkDku2, 0, 0));
  EXPECT_FALSE(ConnectPrerequisitesMet(kLinkFbusCable, 123, 0));
  EXPECT_TRUE(ConnectPrerequisitesMet(kLinkAtSwitch, 0, 4));
  EXPECT_TRUE(ConnectPrerequisitesMet(kLinkBluetooth, 0, 40));
}

namespace {
std::vector<std::string> Keys(const std::vector<TPhoneRequest>& requests) {
  std::vector<std::string> keys;
  for (const auto& r : requests) keys.push_back(r.key + "/" + std::to_string(r.msgType));
  return keys;
}
}  // namespace

TEST(PhoneFamilies, InitialisationByFamily) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Keys(InitFamilyRequests(1)), V{"5110_INIT/64"});
  EXPECT_EQ(Keys(InitFamilyRequests(2)), V{"5110_INIT/64"});
  EXPECT_EQ(Keys(InitFamilyRequests(3)), (V{"SMS_INIT7110/2", "/218", "SMS_INITSMS/16"}));
  EXPECT_EQ(Keys(InitFamilyRequests(4)), (V{"SMS_INITSMS/16", "/2", "/2"}));
  EXPECT_TRUE(InitFamilyRequests(0).empty());
  EXPECT_TRUE(InitFamilyRequests(-1).empty());
  for (int f : {1, 2, 3, 4}) {
    for (const auto& r : InitFamilyRequests(f)) EXPECT_EQ(r.timeoutSec, 0) << r.key;
  }
  EXPECT_EQ(Keys(DeinitFamilyRequests(3)), V{"7110_DEINIT/16"});
  EXPECT_EQ(Keys(DeinitFamilyRequests(4)), V{"7110_DEINIT/16"});
  EXPECT_TRUE(DeinitFamilyRequests(1).empty());

  EXPECT_EQ(PreModelReadRequest(kLinkAtSwitch), DaRequest(""));
  EXPECT_EQ(PreModelReadRequest(kLinkFbusCable), SysGetRequest());
  EXPECT_FALSE(PreModelReadRequest(kLinkBluetooth).has_value());
  EXPECT_FALSE(PreModelReadRequest(kLinkInfrared).has_value());
}

TEST(PhoneFamilies, NormalisesProductCodes) {
  struct Case {
    const char *in, *out;
  };
  const Case cases[] = {
      {"NPE-4", "NPE-4"},  {"NPE-4X", "NPE-4"},  {"NPE-4XY", "NPE-4"},
      {"RHV-3", "RHV-3"},  {"xRHV-31", "RHV-3"}, {"NHM-5NX", "NHM-5NX"},  // known with its letters
      {"ABC", ""},         {"ABC-9Z", "ABC-9"},  {"", ""},
      {"NPE-4 ", "NPE-4"},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeProductCode(c.in), c.out) << c.in;
}

TEST(PhoneFamilies, IdentityRequestByModel) {
  struct Case {
    const char* code;
    int family;
    int n;
    std::optional<TIdentityRequest> request;
  };
  const Case cases[] = {
      {"NSE-3", 1, 6110, TIdentityRequest::ir5110},
      {"NHM-5NX", 2, 3310, TIdentityRequest::ir5110},
      {"RH-17", 2, 2280, TIdentityRequest::ir6360},
      {"NSE-5", 3, 7110, TIdentityRequest::ir7110},
      {"NPE-4", 4, 6310, TIdentityRequest::ir8310},
      {"NPW-2", 4, 6360, TIdentityRequest::ir6360},
      {"RH-40", 4, 2220, TIdentityRequest::ir6360},
      {"XYZ-1", 0, 0, std::nullopt},
      {"XYZ-1", -1, 0, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(IdentityRequestFor(c.code, c.family, c.n), c.request) << c.code;
}

TEST(PhoneFamilies, StatusAndHardwareRequests) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Keys(StatusRequests(1, 6110)), V{"STAT_INFO/4"});
  EXPECT_EQ(Keys(StatusRequests(3, 7110)), (V{"7110_BAT/23", "7110_SIG/10"}));
  EXPECT_EQ(Keys(StatusRequests(4, 6310)), V{"8310_BAT/23"});
  EXPECT_TRUE(StatusRequests(2, 3310).empty());
  EXPECT_TRUE(StatusRequests(1, 3210).empty());
  EXPECT_TRUE(StatusRequests(0, 1200).empty());
  EXPECT_EQ(Keys(HwVersionRequests(3)), (V{"5110_INIT/64", "5110_HW/64"}));
  EXPECT_EQ(Keys(HwVersionRequests(4)), V{"8310_HW/27"});
  EXPECT_TRUE(HwVersionRequests(0).empty());
}

TEST(PhoneFamilies, KeepAliveAndClockRules) {
  EXPECT_EQ(KeepAliveIntervalMs(9998, "RHV-3", kLinkAtSwitch), 3000);
  EXPECT_EQ(KeepAliveIntervalMs(9998, "RHV-3", kLinkFbusCable), 15000);
  EXPECT_EQ(KeepAliveIntervalMs(3220, "RH-37", kLinkAtSwitch), 3000);
  EXPECT_EQ(KeepAliveIntervalMs(6310, "NPE-4", kLinkAtSwitch), 15000);
  // The hint can make the model number 9998 where the code alone does not.
  EXPECT_EQ(KeepAliveIntervalMs(9998, "NHL-4", kLinkAtSwitch), 3000);

  for (int n : {2600, 2605, 1600, 1100, 2310}) EXPECT_FALSE(CanReadClock(n)) << n;
  EXPECT_TRUE(CanReadClock(6310));
  EXPECT_FALSE(CanSetClock(2600));
  EXPECT_TRUE(CanSetClock(1600));
  for (int n : {2100, 1600, 2310, 1100, 1108, 2600}) EXPECT_FALSE(CanReadAlarm(n)) << n;
  EXPECT_TRUE(CanReadAlarm(6310));
  for (int n : {2100, 2310, 1101, 2609}) EXPECT_FALSE(CanSetAlarm(n)) << n;
  EXPECT_TRUE(CanSetAlarm(1600));
}
