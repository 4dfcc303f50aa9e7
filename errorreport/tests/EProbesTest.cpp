// The header's system facts formatted from injected raw values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EProbes.h"
#include "EReportBuilder.h"

namespace {

TEST(Probes, ParametersSkipTheProgramsOwnName) {
  struct Case {
    const char* line;
    const char* parameters;
  } cases[] = {
      {"\"C:\\Program Files\\App\\prog.exe\"  /a  b ", "/a  b"},
      {"prog.exe a b", "a b"},
      {"  prog a", "a"},
      {"C:\\APP\\PROG.EXE", ""},
      {"\"C:\\My App\\prog.exe\"", ""},
      {"\"unclosed quote a b", ""},
      {"", ""},
      {"prog.exe\t-x", "-x"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatCommandParameters(c.line), c.parameters) << c.line;
}

TEST(Probes, NetworkTextsOfTheAdapters) {
  TAdapterRaw wired;
  wired.Dhcp = true;
  wired.Ip = "192.168.1.10";
  wired.Mask = "255.255.255.0";
  wired.Gateway = "192.168.1.1";
  wired.DnsKnown = true;
  wired.Dns = {"8.8.8.8"};
  TAdapterRaw wireless;
  wireless.Ip = "10.0.0.7";
  wireless.Mask = "255.0.0.0";
  wireless.DnsKnown = false;
  wireless.Dns = {"1.1.1.1", "1.0.0.1"};  // the per-adapter call failed: not used
  TReportHeaderFacts facts;
  FormatNetworkFacts({wired, wireless}, facts);
  EXPECT_EQ(facts.IpAddress, "192.168.001.010 - 010.000.000.007");
  EXPECT_EQ(facts.Submask, "255.255.255.000 - 255.000.000.000");
  EXPECT_EQ(facts.Gateway, "192.168.001.001 - 000.000.000.000");
  EXPECT_EQ(facts.Dns1, "008.008.008.008 - 000.000.000.000");
  EXPECT_EQ(facts.Dns2, "000.000.000.000 - 000.000.000.000");
  EXPECT_EQ(facts.Dhcp, "ON              - OFF            ");  // each padded to an address's width
  TReportHeaderFacts none;
  FormatNetworkFacts({}, none);
  EXPECT_EQ(none.IpAddress, "");
  EXPECT_EQ(none.Dhcp, "");
}

TEST(Probes, CompanyProcessorVideoPrinterLanguage) {
  EXPECT_EQ(ChooseCompany({"", "Example Ltd", "Other"}, true), "Example Ltd");
  EXPECT_EQ(ChooseCompany({"Microsoft", "Example Ltd"}, true), "");
  EXPECT_EQ(ChooseCompany({"Microsoft"}, false), "Microsoft");
  EXPECT_EQ(ChooseCompany({"", "", ""}, true), "");

  EXPECT_EQ(FormatProcessor("  Example CPU 3.0 GHz ", "GenuineX", "x86"), "Example CPU 3.0 GHz");
  EXPECT_EQ(FormatProcessor("", " GenuineX ", " x86 Family 6 "), "GenuineX - x86 Family 6");
  EXPECT_EQ(FormatProcessor("", "GenuineX", ""), "GenuineX");
  EXPECT_EQ(FormatProcessor(" ", "", "x86"), "Unknown processor");

  EXPECT_EQ(FormatVideoCard(" Example Graphics ", "6.1.7600", 268435456),
            "Example Graphics (driver 6.1.7600 - RAM 256 MB)");
  EXPECT_EQ(FormatVideoCard("Example Graphics", "1.0", 0), "Example Graphics (driver 1.0)");
  EXPECT_EQ(FormatPrinter("Office Driver", "6. 1. 7600"), "Office Driver (driver 6.1.7600)");
  EXPECT_EQ(FormatPrinter("", "1.0"), "");

  const std::vector<TLocaleRaw> locales{{"00000407", "DEU", "German"},
                                        {"00000409", "", "Hidden"},
                                        {"00000409", "ENU", "English"},
                                        {"0409", "X", "Short"}};
  EXPECT_EQ(ChooseLanguage(locales, 0x0409), "English");
  EXPECT_EQ(ChooseLanguage(locales, 0x0407), "German");
  EXPECT_EQ(ChooseLanguage(locales, 0x040C), "");
}

TEST(Probes, CompilationDateInLocalTime) {
  // 9 December 2025 08:00 UTC (OLE date 46000 + 1/3), one hour east of UTC.
  EXPECT_EQ(FormatCompilationDate(46000 + 8.0 / 24, 1, 60), "Tue, 9 Dec 2025 09:00:00 +0100");
  EXPECT_EQ(FormatCompilationDate(0, 1, 60), "");
}

TEST(Probes, PrivilegesInThirtyOneColumns) {
  const std::string text = FormatPrivileges(
      {{"SeShutdownPrivilege", 0}, {"SeChangeNotifyPrivilege", 3}, {"SeAVeryLongPrivilegeNameBeyond31Chars", 2}});
  EXPECT_EQ(text,
            "SeShutdownPrivilege             - OFF\r\n"
            "SeChangeNotifyPrivilege         - ON\r\n"
            "SeAVeryLongPrivilegeNameBeyond31Chars - ON\r\n");
  EXPECT_EQ(FormatPrivileges({}), "");
}

TEST(Probes, AccessViolationMessage) {
  const auto longName = [](const std::string& path) {
    return path == "C:\\PROGRA~1\\SAMPLE~1.EXE" ? std::string("C:\\Program Files\\Sample Application.exe") : path;
  };
  const std::string p;
  struct Case {
    const char* name;
    TAccessViolationRaw raw;
    std::string message;
  } cases[] = {
      {"in a module",
       {0x401015, "C:\\App\\sample.exe", true, 0, "whatever"},
       "Access violation at address " + p + "00401015 in module 'sample.exe'. Write of address " + p + "00000000."},
      {"an 8.3 path that gives the exception's own message",
       {0x401015, "C:\\PROGRA~1\\SAMPLE~1.EXE", false, 0x10,
        "Access violation at address " + p + "00401015 in module 'SAMPLE~1.EXE'. Read of address " + p + "00000010"},
       "Access violation at address " + p + "00401015 in module 'Sample Application.exe'. Read of address " + p +
           "00000010."},
      {"outside any module",
       {0x10, "", false, 0x10, ""},
       "Access violation at address " + p + "00000010. Read of address " + p + "00000010."},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatAccessViolationMessage(c.raw, longName), c.message) << c.name;
  EXPECT_EQ(FormatModuleTitle("sample.exe", "Sample Application"), "sample.exe - (Sample Application)");
  EXPECT_EQ(FormatModuleTitle("sample.exe", ""), "sample.exe");
  EXPECT_EQ(WithFinalDot("Error"), "Error.");
  EXPECT_EQ(WithFinalDot("Error."), "Error.");
  EXPECT_EQ(ReplaceControlChars(std::string("a\tb\r\nc\x01", 7)), "a b\r\nc ");
}

}  // namespace
