#include "SimOptions.h"

#include <gtest/gtest.h>

#include "SimTestUtil.h"

TEST(SimOptions, DefaultsAndOverrides) {
  TSimOptions o;
  std::string error;
  ASSERT_TRUE(SimParseOptions({}, o, error)) << error;
  EXPECT_EQ(o.Persona.Name, "NPE-4");
  EXPECT_EQ(o.Persona.Imei, "350612345678901");
  EXPECT_EQ(o.Link.Kind, TSimLinkKind::lkAuto);
  EXPECT_FALSE(o.ExitOnClose);

  // Overrides apply to the chosen persona whatever their order on the line.
  ASSERT_TRUE(SimParseOptions({"--imei", "111", "--persona", "NSE-5", "--sw=V 9.99", "--family", "4", "--imei-style",
                               "6360", "--battery", "10", "--code", "NSE-5X"},
                              o, error))
      << error;
  EXPECT_EQ(o.Persona.Model, "7110");
  EXPECT_EQ(o.Persona.Imei, "111");
  EXPECT_EQ(o.Persona.SwVersion, "V 9.99");
  EXPECT_EQ(o.Persona.Family, 4);
  EXPECT_EQ(o.Persona.ImeiStyle, TSimImeiStyle::is6360);
  EXPECT_EQ(o.Persona.Battery, 10);
  EXPECT_EQ(o.Persona.Code, "NSE-5X");

  ASSERT_TRUE(SimParseOptions({"--link", "dlr3", "--ignore", "1B", "--ignore", "0x40", "--exit-on-close=500", "--push",
                               "D9:00 01 00 42@250", "--mute", "--corrupt-every", "3", "--media", "1b"},
                              o, error))
      << error;
  EXPECT_EQ(o.Link.Kind, TSimLinkKind::lkAtSwitch);
  EXPECT_EQ(o.Link.Ignore, (std::set<std::uint8_t>{0x1B, 0x40}));
  EXPECT_TRUE(o.ExitOnClose);
  EXPECT_EQ(o.CloseGraceMs, 500);
  ASSERT_EQ(o.Link.Push.size(), 1u);
  EXPECT_EQ(o.Link.Push[0].Type, 0xD9);
  EXPECT_EQ(o.Link.Push[0].Payload, FromHex("00 01 00 42"));
  EXPECT_EQ(o.Link.Push[0].DelayMs, 250);
  EXPECT_TRUE(o.Link.Mute);
  EXPECT_EQ(o.Link.CorruptEvery, 3);
  EXPECT_EQ(o.Link.PhonetMedia, 0x1B);
}

TEST(SimOptions, RejectsBadInput) {
  const std::vector<std::vector<std::string>> bad = {
      {"--persona", "NXX-1"},
      {"--persona"},
      {"--family", "5"},
      {"--family", "x"},
      {"--battery", "101"},
      {"--imei-style", "odd"},
      {"--link", "usb"},
      {"--ignore", "100"},
      {"--seq-start", "8"},
      {"--reply-delay", "-1"},
      {"--push", "D9"},
      {"--push", "D9:0"},
      {"--push", "D9:00@soon"},
      {"--exit-on-close=x"},
      {"--path", "/dev/x", "--fd", "3"},
      {"--fd", "3", "--symlink", "/tmp/x"},
      {"--code", "A\nB"},
      {"--frobnicate"},
  };
  for (const auto& args : bad) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    TSimOptions o;
    std::string error;
    EXPECT_FALSE(SimParseOptions(args, o, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimOptions, PersonaListNamesEveryPersona) {
  const std::string list = SimPersonaList();
  for (const char* name : {"NSE-3", "NSE-5", "NPE-4", "NPW-2", "RHV-3"}) EXPECT_NE(list.find(name), std::string::npos);
}

TEST(SimOptions, TcpPlaysAnInfraredPhone) {
  TSimOptions o;
  std::string error;
  ASSERT_TRUE(SimParseOptions({"--tcp", "0"}, o, error)) << error;
  EXPECT_EQ(o.TcpPort, 0);
  EXPECT_EQ(o.Link.Kind, TSimLinkKind::lkPhonet);
  EXPECT_EQ(o.Link.PhonetMedia, 0x14);
  ASSERT_TRUE(SimParseOptions({"--media", "1B", "--tcp=4001", "--link", "auto"}, o, error)) << error;
  EXPECT_EQ(o.TcpPort, 4001);
  EXPECT_EQ(o.Link.Kind, TSimLinkKind::lkAuto);
  EXPECT_EQ(o.Link.PhonetMedia, 0x1B);
  ASSERT_TRUE(SimParseOptions({}, o, error)) << error;
  EXPECT_EQ(o.TcpPort, -1);
  EXPECT_EQ(o.Link.PhonetMedia, 0x19);

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--tcp", "65536"},
                                             {"--tcp", "-1"},
                                             {"--tcp", "x"},
                                             {"--tcp"},
                                             {"--tcp", "1", "--fd", "3"},
                                             {"--tcp", "1", "--path", "/dev/null"},
                                             {"--tcp", "1", "--symlink", "/tmp/x"}}) {
    EXPECT_FALSE(SimParseOptions(bad, o, error)) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
  }
}
