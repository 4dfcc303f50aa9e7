#include "IrDiscovery.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using TId = std::array<std::uint8_t, 4>;

// A scripted infrared stack: the devices in range, which of them accept the
// service, and a record of every socket opened, connected and closed.
class TFakeIrProvider : public TIrProvider {
 public:
  bool startupOk = true;
  bool socketOk = true;
  bool enumerateOk = true;
  bool throwOnEnumerate = false;
  std::string list;                     // the device list the stack returns
  std::map<std::uint32_t, int> refuse;  // device key -> connect error
  int cleanups = 0;
  TIrSocket next = 100;
  std::vector<TIrSocket> opened, closed;
  std::vector<std::pair<TIrSocket, std::uint32_t>> connected;

  bool Startup() override { return startupOk; }
  void Cleanup() override { ++cleanups; }
  TIrSocket OpenSocket() override {
    if (!socketOk) return kNoIrSocket;
    opened.push_back(next);
    return next++;
  }
  bool EnumerateDevices(TIrSocket, std::string& out) override {
    if (throwOnEnumerate) throw std::runtime_error("stack fault");
    if (!enumerateOk) return false;
    out = list;
    return true;
  }
  int Connect(TIrSocket s, const TId& id, const std::string& service) override {
    EXPECT_EQ(service, "Nokia:PhoNet");
    const std::uint32_t key = (std::uint32_t{id[0]} << 24) | (id[1] << 16) | (id[2] << 8) | id[3];
    if (auto it = refuse.find(key); it != refuse.end()) return it->second;
    connected.emplace_back(s, key);
    return 0;
  }
  void CloseSocket(TIrSocket s) override { closed.push_back(s); }
  int LastError() override { return 10050; }
};

// The handler side: takes the sockets it is given.
struct TTaker {
  std::vector<std::pair<std::string, TIrSocket>> got;
  void Take(const std::string& name, TIrSocket s) { got.emplace_back(name, s); }
};

std::string Rec(std::uint8_t last, const std::string& name) {
  return BuildIrDeviceRecord({0x12, 0x34, 0x56, last}, name);
}

}  // namespace

TEST(IrDeviceList, Records) {
  std::string full = Rec(1, std::string(22, 'N'));  // a name that fills its field: no terminator
  std::string list = BuildIrDeviceList({Rec(0xAB, "Nokia 6310"), full});
  const std::vector<TIrDevice> d = ParseIrDeviceList(list);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].name, "Nokia 6310");
  EXPECT_EQ(d[0].key, 0x123456ABu);
  EXPECT_EQ(d[0].id, (TId{0x12, 0x34, 0x56, 0xAB}));
  EXPECT_EQ(d[1].name, std::string(22, 'N'));

  const std::string withHints = BuildIrDeviceList({BuildIrDeviceRecord({1, 2, 3, 4}, "x", 0x82, 0x04, 0x01)});
  const TIrDevice h = ParseIrDeviceList(withHints).at(0);
  EXPECT_EQ(h.key, 0x01020304u);
  EXPECT_EQ(h.hints1, 0x82);
  EXPECT_EQ(h.hints2, 0x04);
  EXPECT_EQ(h.charSet, 0x01);
}

TEST(IrDeviceList, CountClampedToTheRecordsThatFit) {
  const std::string two = Rec(1, "Nokia a") + Rec(2, "Nokia b");
  struct Case {
    const char* name;
    std::string list;
    std::size_t devices;
  };
  auto withCount = [](std::uint32_t n, const std::string& recs) {
    std::string l = {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
                     static_cast<char>((n >> 16) & 0xFF), static_cast<char>(n >> 24)};
    return l + recs;
  };
  const std::vector<Case> cases = {
      {"empty", "", 0},
      {"count field cut short", std::string("\x02\x00", 2), 0},
      {"count 0", withCount(0, two), 0},
      {"count as stated", withCount(2, two), 2},
      {"count below the records", withCount(1, two), 1},
      {"count above the records", withCount(200, two), 2},
      {"huge count", withCount(0xFFFFFFFF, two), 2},
      {"last record cut short", withCount(2, two.substr(0, two.size() - 1)), 1},
      {"a full stack buffer holds ten", withCount(255, std::string(kIrDeviceListLength - 4, 'a')), 10},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseIrDeviceList(c.list).size(), c.devices) << c.name;
}

TEST(IrDeviceList, NokiaNames) {
  for (const char* yes : {"Nokia 6310", "NOKIA", "my nokia phone", "xNoKiAx"}) EXPECT_TRUE(IsNokiaDeviceName(yes));
  for (const char* no : {"", "Nokla", "Siemens S45", "nok ia"}) EXPECT_FALSE(IsNokiaDeviceName(no));
}

TEST(IrEnumerator, FailureCodes) {
  struct Case {
    const char* name;
    void (*setUp)(TFakeIrProvider&);
    int code;
  };
  const std::vector<Case> cases = {
      {"socket cannot be made", [](TFakeIrProvider& p) { p.socketOk = false; }, kIrEnumerationFailed},
      {"enumeration fails", [](TFakeIrProvider& p) { p.enumerateOk = false; }, kIrEnumerationFailed},
      {"nothing in range", [](TFakeIrProvider& p) { p.list = BuildIrDeviceList({}); }, kIrNoDevice},
      {"a short list", [](TFakeIrProvider& p) { p.list = "\x01"; }, kIrNoDevice},
      {"only other devices", [](TFakeIrProvider& p) { p.list = BuildIrDeviceList({Rec(1, "Laptop")}); }, kIrNoError},
      {"the phone refuses",
       [](TFakeIrProvider& p) {
         p.list = BuildIrDeviceList({Rec(1, "Nokia 6310")});
         p.refuse[0x12345601] = 10061;
       },
       10061},
      {"an exception", [](TFakeIrProvider& p) { p.throwOnEnumerate = true; }, kIrNoError},
  };
  for (const Case& c : cases) {
    TFakeIrProvider p;
    p.list = BuildIrDeviceList({Rec(1, "Nokia 6310")});
    c.setUp(p);
    TIrEnumerator e(p);
    TTaker taker;
    e.OnDeviceConnected = TIrDeviceConnectedEvent::Bind<&TTaker::Take>(&taker);
    EXPECT_FALSE(e.ConnectNextDevice(0)) << c.name;
    EXPECT_EQ(e.ErrorCode(), c.code) << c.name;
    EXPECT_TRUE(taker.got.empty()) << c.name;
    // Every socket opened is closed once: none is left open when nothing connected.
    EXPECT_EQ(p.closed, p.opened) << c.name;
  }
}

TEST(IrEnumerator, StartupFailure) {
  TFakeIrProvider p;
  p.startupOk = false;
  {
    TIrEnumerator e(p);
    EXPECT_FALSE(e.Ready());
    EXPECT_EQ(e.ErrorCode(), kIrStartupFailed);
  }
  EXPECT_EQ(p.cleanups, 0);
  { TIrEnumerator e(p = TFakeIrProvider()); }
  EXPECT_EQ(p.cleanups, 1);
}

TEST(IrEnumerator, ConnectsThePhoneAndHandsOverItsSocket) {
  TFakeIrProvider p;
  // A refusing phone first: its error is kept, the next one connects on the same socket.
  p.list = BuildIrDeviceList({Rec(1, "Laptop"), Rec(2, "NOKIA 7110"), Rec(3, "Nokia 6310")});
  p.refuse[0x12345602] = 10060;
  TIrEnumerator e(p);
  TTaker taker;
  e.OnDeviceConnected = TIrDeviceConnectedEvent::Bind<&TTaker::Take>(&taker);
  EXPECT_TRUE(e.ConnectNextDevice(0));
  EXPECT_EQ(e.ErrorCode(), 10060);
  EXPECT_EQ(e.DeviceCount(), 3);
  ASSERT_EQ(taker.got.size(), 1u);
  EXPECT_EQ(taker.got[0], (std::pair<std::string, TIrSocket>{"Nokia 6310", p.opened[0]}));
  EXPECT_TRUE(p.closed.empty());

  // Both phones are seen now: the next pass connects nothing and closes its socket.
  EXPECT_FALSE(e.ConnectNextDevice(1));
  EXPECT_EQ(p.closed, std::vector<TIrSocket>{p.opened[1]});
  // Pass 0 forgets them.
  p.refuse.clear();
  EXPECT_TRUE(e.ConnectNextDevice(0));
  EXPECT_EQ(taker.got.back().first, "NOKIA 7110");
}

TEST(IrEnumerator, NoHandlerClosesTheConnectedSocket) {
  TFakeIrProvider p;
  p.list = BuildIrDeviceList({Rec(1, "Nokia 6310")});
  TIrEnumerator e(p);
  EXPECT_TRUE(e.ConnectNextDevice(0));
  EXPECT_EQ(p.closed, p.opened);
}

TEST(IrEnumerator, ConnectAllDevices) {
  struct Case {
    const char* name;
    std::vector<std::string> records;
    int passes;
    std::size_t sockets;
  };
  const std::vector<Case> cases = {
      {"three phones", {Rec(1, "Nokia 6310"), Rec(2, "Nokia 6210"), Rec(3, "nokia 8310")}, 3, 3},
      {"one phone", {Rec(1, "Nokia 6310")}, 1, 1},
      {"no phone", {Rec(1, "Palm")}, 0, 0},
      {"a phone and another device", {Rec(1, "Palm"), Rec(2, "Nokia 6310")}, 1, 1},
  };
  for (const Case& c : cases) {
    TFakeIrProvider p;
    p.list = BuildIrDeviceList(c.records);
    TIrEnumerator e(p);
    TTaker taker;
    e.OnDeviceConnected = TIrDeviceConnectedEvent::Bind<&TTaker::Take>(&taker);
    EXPECT_EQ(e.ConnectAllDevices(), c.passes) << c.name;
    EXPECT_EQ(taker.got.size(), c.sockets) << c.name;
    std::set<TIrSocket> distinct;
    for (const auto& g : taker.got) distinct.insert(g.second);
    EXPECT_EQ(distinct.size(), c.sockets) << c.name;
    EXPECT_EQ(p.opened.size(), p.closed.size() + c.sockets) << c.name;
  }
}

TEST(IrEnumerator, DefaultProviderFailsWithCode2) {
  TIrEnumerator e(GetIrProvider());
  EXPECT_FALSE(e.ConnectNextDevice(0));
  EXPECT_EQ(e.ErrorCode(), kIrEnumerationFailed);
  EXPECT_EQ(e.ConnectAllDevices(), 0);
}
