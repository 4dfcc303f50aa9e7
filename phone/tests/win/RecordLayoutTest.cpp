// The records the links hand to the system, as the system of this build sees
// them. The 32-bit build is the one that ships, and its headers pack some
// records differently from the 64-bit ones (the SetupAPI detail record is 1-byte
// packed on i686): the links use sizeof/offsetof, and these checks hold the
// layouts they rely on against the system's own declarations.
#include <winsock2.h>
// After winsock2.h, which declares what these two use.
#include <af_irda.h>
#include <setupapi.h>

#include <gtest/gtest.h>
#include <cstddef>

#include "IrDiscovery.h"
#include "IrdaWin.h"

namespace {

constexpr bool kIs32Bit = sizeof(void*) == 4;

TEST(RecordLayout, InfraredAddressMatchesTheSocketFamilysRecord) {
  EXPECT_EQ(sizeof(TIrdaSockAddr), sizeof(SOCKADDR_IRDA));
  EXPECT_EQ(offsetof(TIrdaSockAddr, family), offsetof(SOCKADDR_IRDA, irdaAddressFamily));
  EXPECT_EQ(offsetof(TIrdaSockAddr, deviceId), offsetof(SOCKADDR_IRDA, irdaDeviceID));
  EXPECT_EQ(offsetof(TIrdaSockAddr, serviceName), offsetof(SOCKADDR_IRDA, irdaServiceName));
  EXPECT_EQ(sizeof(TIrdaSockAddr::serviceName), sizeof(SOCKADDR_IRDA::irdaServiceName));
  EXPECT_EQ(kAfIrda, AF_IRDA);
  EXPECT_EQ(kSolIrlmp, SOL_IRLMP);
  EXPECT_EQ(kIrlmpEnumDevices, IRLMP_ENUMDEVICES);
}

TEST(RecordLayout, InfraredDeviceListMatchesTheStacksRecords) {
  EXPECT_EQ(kIrDeviceRecordSize, sizeof(IRDA_DEVICE_INFO));
  EXPECT_EQ(kIrDeviceNameSize, sizeof(IRDA_DEVICE_INFO::irdaDeviceName));
  EXPECT_EQ(kIrDeviceListHeader, offsetof(DEVICELIST, Device));
  // The buffer offered to the stack holds the header and ten whole records, not eleven.
  EXPECT_GE(kIrDeviceListLength, offsetof(DEVICELIST, Device) + 10 * sizeof(IRDA_DEVICE_INFO));
  EXPECT_LT(kIrDeviceListLength, offsetof(DEVICELIST, Device) + 11 * sizeof(IRDA_DEVICE_INFO));
}

TEST(RecordLayout, SetupApiRecordsAsThisBuildsSystemSeesThem) {
  // The detail record's size is what its cbSize must say: 5 on the 32-bit
  // system (packed to 1 byte), 8 on the 64-bit one; the path starts at 4.
  EXPECT_EQ(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath), 4u);
  EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), kIs32Bit ? 5u : 8u);
  EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DATA), kIs32Bit ? 28u : 32u);
  EXPECT_EQ(sizeof(SP_DEVINFO_DATA), kIs32Bit ? 28u : 32u);
}

}  // namespace
