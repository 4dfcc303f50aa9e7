// Windows Sockets behind the client socket: the unit's start-up, the DNS
// server list from the network parameters, and connection errors.
#include <gtest/gtest.h>

#include <string>

#include "ESockets.h"
#include "ESocketsWin.h"

namespace {

class SocketsWin : public ::testing::Test {
 protected:
  void SetUp() override { InitESocketsWin(); }
  void TearDown() override { DoneESocketsWin(); }
};

std::string ErrorOf(TVantorClientSocket* s) {
  try {
    s->Connect();
  } catch (const EVantorSocketError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST_F(SocketsWin, StartsWindowsSocketsAndListsTheDnsServers) {
  EXPECT_EQ(&net::SocketApi(), &WinsockApi());
  EXPECT_TRUE(SocketStartup());
  const std::vector<std::string> servers = GetDnsServers();
  ASSERT_FALSE(servers.empty());
  EXPECT_EQ(servers.back(), kFallbackDnsServer);
  for (const std::string& s : servers) {
    EXPECT_NE(s, "0.0.0.0");
    EXPECT_NE(WinsockApi().ResolveHost(s), 0u) << s;
  }
  EXPECT_EQ(WinsockApi().ResolveHost("127.0.0.1"), 0x0100007Fu);
  EXPECT_FALSE(WinsockApi().LocalHostName().empty());
}

TEST_F(SocketsWin, UnknownHostsAndClosedPortsAreConnectionErrors) {
  TOwned<TVantorClientSocket> unknown(New<TVantorClientSocket>("", 25, true, 10));
  EXPECT_EQ(ErrorOf(unknown.get()).rfind("Connection error: \"Unknown host \"\".\"", 0), 0u);
  // Port 1 on the loopback address: nothing listens there.
  TOwned<TVantorClientSocket> closed(New<TVantorClientSocket>("127.0.0.1", 1, true, 10));
  const std::string text = ErrorOf(closed.get());
  EXPECT_EQ(text.rfind("Connection error: \"", 0), 0u) << text;
  EXPECT_FALSE(closed->Connected());
}

}  // namespace
