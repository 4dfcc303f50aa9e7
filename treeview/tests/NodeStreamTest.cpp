// Node streams: the writer's bytes, round trips, the older versions and
// every fault of a stream read from outside.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "Streams.h"
#include "TreeTestSupport.h"
#include "VirtualTreeCore.h"

namespace {

// A tree that keeps a caption per node (chunk 3) and streams its 8 bytes of
// user data through the save-node and load-node events.
class StreamTree : public RecordingTree {
 public:
  StreamTree() {
    SetNodeDataSize(8);
    freeNode = [this](TVTNode* node) { captions.erase(node); };
  }
  ~StreamTree() override { Shutdown(); }
  std::unordered_map<TVTNode*, std::u16string> captions;
  // How many bytes the load-node event reads (8 by default).
  std::int64_t userReadSize = 8;
  bool writeUserData = true;
  std::vector<TVTNode*> loadedEvents;

  void SaveNodeChunks(TStream& stream, TVTNode* node) override {
    TVirtualTreeCore::SaveNodeChunks(stream, node);
    auto it = captions.find(node);
    if (!node || it == captions.end() || it->second.empty()) return;
    const std::int32_t header[2] = {kCaptionChunk, std::int32_t(it->second.size() * 2)};
    stream.WriteBuffer(header, sizeof header);
    stream.WriteBuffer(it->second.data(), std::int64_t(it->second.size() * 2));
  }
  bool LoadChunkFromStream(TStream& stream, int version, std::int32_t size, std::int32_t type, TVTNode* node) override {
    if (type != kCaptionChunk) return TVirtualTreeCore::LoadChunkFromStream(stream, version, size, type, node);
    std::u16string text(std::size_t(size) / 2, u'\0');
    stream.ReadBuffer(text.data(), std::int64_t(text.size() * 2));
    captions[node] = text;
    return true;
  }

 protected:
  void FireSaveNode(TVTNode* node, TStream& stream) override {
    if (node && writeUserData) stream.WriteBuffer(NodeData(node), 8);
  }
  void FireLoadNode(TVTNode* node, TStream& stream) override {
    std::uint8_t buffer[16] = {};
    stream.Read(buffer, userReadSize);
    if (node) std::memcpy(NodeData(node), buffer, 8);
  }
  void FireStreamLoaded(TVTNode* node) override { loadedEvents.push_back(node); }
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(char(v));
  return s;
}
void Put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i)));
}
void Put16(std::string& s, std::uint32_t v) {
  s.push_back(char(v));
  s.push_back(char(v >> 8));
}
std::string Header(int version, int blank = 0x20) {
  std::string s;
  for (std::uint32_t u : {0x2045u, 0x56u, 0x54u, std::uint32_t(version), std::uint32_t(blank), 0x2046u}) Put16(s, u);
  return s;
}
// A leaf node: an anchor with a base chunk (17 or 12 bytes) and `extra` chunks.
std::string Leaf(int version, std::uint16_t states, std::uint32_t height = 18, const std::string& extra = {},
                 std::uint32_t childCount = 0, const std::string& children = {}) {
  std::string base;
  Put32(base, childCount);
  Put32(base, height);
  if (version >= 2)
    Put16(base, states);
  else
    base.push_back(char(states));
  base += Bytes({50, 0, 0});
  if (version >= 2) Put32(base, 0);
  base += children;
  std::string body;
  Put32(body, 2);
  Put32(body, std::uint32_t(base.size()));
  body += base + extra;
  std::string node;
  Put32(node, 1);
  Put32(node, std::uint32_t(body.size()));
  return node + body;
}

int LoadError(TVirtualTreeCore& tree, const std::string& bytes) {
  TStringStream stream(bytes);
  try {
    tree.LoadTreeFromStream(stream);
  } catch (const EVirtualTreeError& e) {
    return e.HelpContext;
  }
  return 0;
}

std::vector<TVTNode*> AllNodes(const TVirtualTreeCore& tree) {
  std::vector<TVTNode*> nodes;
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n)) nodes.push_back(n);
  return nodes;
}

TEST(NodeStream, GoldenBytesOfAThreeNodeTree) {
  StreamTree tree;
  TVTNode* a = tree.AllocateNode();
  a->States |= vsInitialized | vsExpanded;
  tree.LinkNode(a, nullptr, 4);
  TVTNode* c = tree.AllocateNode();
  c->States |= vsInitialized;
  tree.LinkNode(c, a, 4);
  TVTNode* b = tree.AllocateNode();
  b->States |= vsInitialized;
  tree.LinkNode(b, nullptr, 4);
  tree.captions[b] = u"B";
  std::memcpy(tree.NodeData(c), "\x7F\1\2\3\4\5\6\7", 8);
  std::memset(tree.NodeData(b), 0, 8);
  std::memset(tree.NodeData(a), 0, 8);
  tree.writeUserData = false;
  TStringStream out;
  tree.SaveTreeToStream(out);
  const std::string expected = Bytes({
      0x45, 0x20, 0x56, 0x00, 0x54, 0x00, 0x02, 0x00, 0x20, 0x00, 0x46, 0x20,                    // header
      0x02, 0x00, 0x00, 0x00,                                                                    // two top-level nodes
      0x01, 0,    0,    0,    0x3A, 0,    0,    0,                                               // A: anchor, 58 bytes
      0x02, 0,    0,    0,    0x32, 0,    0,    0,                                               // base, 17 + 33
      0x01, 0,    0,    0,    0x12, 0,    0,    0,    0xE1, 0x00, 0x32, 0x00, 0x00, 0, 0, 0, 0,  // 1 child, 18, states
      0x01, 0,    0,    0,    0x19, 0,    0,    0,                                               // C: anchor, 25 bytes
      0x02, 0,    0,    0,    0x11, 0,    0,    0,                                               // base, 17
      0x00, 0,    0,    0,    0x12, 0,    0,    0,    0x81, 0x00, 0x32, 0x00, 0x00, 0, 0, 0, 0,  //
      0x01, 0,    0,    0,    0x23, 0,    0,    0,                                               // B: anchor, 35 bytes
      0x02, 0,    0,    0,    0x11, 0,    0,    0,                                               //
      0x00, 0,    0,    0,    0x12, 0,    0,    0,    0x81, 0x00, 0x32, 0x00, 0x00, 0, 0, 0, 0,  //
      0x03, 0,    0,    0,    0x02, 0,    0,    0,    0x42, 0x00,                                // caption "B"
  });
  EXPECT_EQ(out.DataString(), expected);

  // With user data the chunk follows the base chunk, before the caption.
  tree.writeUserData = true;
  TStringStream withData;
  tree.SaveNodeToStream(withData, b);
  const std::string node = withData.DataString();
  ASSERT_EQ(node.size(), 8u + 25u + 16u + 10u);
  EXPECT_EQ(node.substr(33, 8), Bytes({4, 0, 0, 0, 8, 0, 0, 0}));
  EXPECT_EQ(node.substr(49, 4), Bytes({3, 0, 0, 0}));
}

// A random tree of captioned nodes with user data survives a save and a load.
TEST(NodeStream, LargeTreeRoundTrip) {
  StreamTree source;
  std::mt19937 random(48);
  std::vector<TVTNode*> nodes;
  const std::u16string samples[] = {u"", u"plain", u"\u03A91", u"\U0001F600 wide", u"\u00E9t\u00E9"};
  for (int i = 0; i < 100000; ++i) {
    TVTNode* parent = nodes.empty() || random() % 4 == 0 ? nullptr : nodes[random() % nodes.size()];
    TVTNode* node = source.AllocateNode();
    node->States = std::uint16_t(vsInitialized | (random() % 5 ? vsVisible : 0) | (random() % 2 ? vsExpanded : 0) |
                                 (random() % 7 ? 0 : vsDisabled));
    node->NodeHeight = std::uint16_t(10 + random() % 30);
    node->TotalHeight = node->NodeHeight;
    node->CheckType = std::uint8_t(random() % 5);
    node->CheckState = std::uint8_t(random() % 6);
    node->Align = std::uint8_t(random() % 100);
    source.LinkNode(node, parent, 4);
    const std::uint64_t data = random() * 0x9E3779B97F4A7C15ull;
    std::memcpy(source.NodeData(node), &data, 8);
    source.captions[node] = samples[i % 5] + (i % 3 ? u"" : std::u16string(1, char16_t(u'A' + i % 26)));
    nodes.push_back(node);
  }
  CheckTreeInvariants(source);
  TMemoryStream stream;
  source.SaveTreeToStream(stream);
  stream.SetPosition(0);
  StreamTree target;
  target.LoadTreeFromStream(stream);
  EXPECT_EQ(CheckTreeInvariants(target), 100000u);
  EXPECT_EQ(target.TotalHeight(), source.TotalHeight());
  EXPECT_EQ(target.VisibleCount(), source.VisibleCount());
  EXPECT_EQ(target.loadedEvents, std::vector<TVTNode*>{nullptr});
  const auto a = AllNodes(source), b = AllNodes(target);
  ASSERT_EQ(a.size(), b.size());
  int mismatches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool same =
        a[i]->ChildCount == b[i]->ChildCount && a[i]->NodeHeight == b[i]->NodeHeight &&
        (a[i]->States & ~kUnsavedStates) == b[i]->States && a[i]->Align == b[i]->Align &&
        a[i]->CheckState == b[i]->CheckState && a[i]->CheckType == b[i]->CheckType &&
        a[i]->TotalHeight == b[i]->TotalHeight && std::memcmp(source.NodeData(a[i]), target.NodeData(b[i]), 8) == 0 &&
        source.captions[a[i]] == target.captions[b[i]] && source.NodeLevel(a[i]) == target.NodeLevel(b[i]);
    if (!same) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(NodeStream, OlderVersionsMapTheStatesAndHaveNoCount) {
  for (int version : {0, 1}) {
    SCOPED_TRACE(version);
    StreamTree tree;
    tree.SetMultiSelect(true);
    std::string bytes = Header(version) + Leaf(version, 0x81) + Leaf(version, 0x01, 20) + Leaf(version, 0x21);
    EXPECT_EQ(LoadError(tree, bytes), 0);
    auto nodes = AllNodes(tree);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0]->States, vsInitialized | vsVisible | vsSelected);
    EXPECT_EQ(nodes[1]->States, vsInitialized | vsVisible);
    EXPECT_EQ(nodes[1]->NodeHeight, 20);
    EXPECT_EQ(nodes[2]->States, vsInitialized | vsVisible | vsExpanded);
    EXPECT_EQ(tree.Selection(), std::vector<TVTNode*>{nodes[0]});
    CheckTreeInvariants(tree);
  }
}

TEST(NodeStream, SingleSelectionDropsLoadedSelectedBits) {
  StreamTree tree;
  EXPECT_EQ(LoadError(tree, Header(2) + Bytes({1, 0, 0, 0}) + Leaf(2, 0x181)), 0);
  ASSERT_EQ(tree.TotalNodeCount(), 1u);
  EXPECT_EQ(tree.FirstNodeRaw()->States & vsSelected, 0);
  CheckTreeInvariants(tree);
}

TEST(NodeStream, HiddenNodeAddsNoHeight) {
  StreamTree tree;
  std::string inner = Leaf(2, 0x81, 30);
  EXPECT_EQ(LoadError(tree, Header(2) + Bytes({2, 0, 0, 0}) + Leaf(2, 0x01, 25) + Leaf(2, 0xA1, 18, {}, 1, inner)), 0);
  EXPECT_EQ(CheckTreeInvariants(tree), 3u);
  EXPECT_EQ(tree.TotalHeight(), 18u + 30u);
  EXPECT_EQ(tree.VisibleCount(), 2u);
}

TEST(NodeStream, FaultsRaiseTheirCodes) {
  std::string count1 = Bytes({1, 0, 0, 0});
  std::string badType = Leaf(2, 0x81);
  badType[0] = 5;
  std::string longAnchor = Leaf(2, 0x81);
  longAnchor[4] = char(longAnchor[4] + 100);
  std::string baseBeyondAnchor = Leaf(2, 0x81);
  baseBeyondAnchor[12] = char(baseBeyondAnchor[12] + 4);
  std::string shortBase = Leaf(2, 0x81);
  shortBase[12] = 16;
  std::string tailInAnchor = Leaf(2, 0x81) + Bytes({0, 0, 0, 0});
  tailInAnchor[4] = char(tailInAnchor[4] + 4);
  std::string tailInBase = Leaf(2, 0x81, 18, {}, 0, Bytes({9, 9, 9, 9, 9, 9, 9, 9}));
  std::string negativeSize = Leaf(2, 0x81);
  negativeSize[4] = negativeSize[5] = negativeSize[6] = negativeSize[7] = char(0xFF);
  std::string childNotAnchor = Leaf(2, 0x81, 18, {}, 1, Leaf(2, 0x81).replace(0, 1, 1, char(4)));
  struct Case {
    const char* name;
    std::string bytes;
    int code;
  } cases[] = {
      {"too short for a header", Header(2).substr(0, 11), 2004},
      {"wrong magic", Bytes({0x46}) + Header(2).substr(1), 2002},
      {"wrong end mark", Header(2).substr(0, 10) + Bytes({0x47, 0x20}), 2002},
      {"blank differs", Header(2, 0x41) + count1 + Leaf(2, 0x81), 0},
      {"version 3", Header(3) + count1 + Leaf(2, 0x81), 2003},
      {"count missing", Header(2) + Bytes({1, 0}), 2004},
      {"no anchor", Header(2) + count1 + badType, 2005},
      {"child without anchor", Header(2) + count1 + childNotAnchor, 2005},
      {"anchor past the stream", Header(2) + count1 + longAnchor, 2004},
      {"negative anchor size", Header(2) + count1 + negativeSize, 2004},
      {"base past its anchor", Header(2) + count1 + baseBeyondAnchor + std::string(8, '\0'), 2006},
      {"base body too short", Header(2) + count1 + shortBase, 2004},
      {"bytes after the chunks", Header(2) + count1 + tailInAnchor, 2006},
      {"bytes after the children", Header(2) + count1 + tailInBase, 2006},
      {"a partial node", Header(1) + Leaf(1, 0x81) + Bytes({1, 0, 0}), 2004},
      {"count beyond the nodes", Header(2) + Bytes({5, 0, 0, 0}) + Leaf(2, 0x81), 0},
      {"child count beyond the bytes", Header(2) + count1 + Leaf(2, 0x81, 18, {}, 0xFFFFFFFFu), 2004},
      {"child count above the children", Header(2) + count1 + Leaf(2, 0x81, 18, {}, 2, Leaf(2, 0x81)), 2004},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamTree tree;
    EXPECT_EQ(LoadError(tree, c.bytes), c.code);
    EXPECT_EQ(tree.UpdateCount(), 0);
    EXPECT_LE(CheckTreeInvariants(tree), 2u);
  }
}

TEST(NodeStream, DeepNestingIsRefusedWithoutRecursion) {
  constexpr std::size_t depth = 1000000;
  std::string bytes = Header(2) + Bytes({1, 0, 0, 0});
  bytes.reserve(bytes.size() + depth * 33);
  std::vector<std::size_t> anchors;
  for (std::size_t i = 0; i < depth; ++i) {
    anchors.push_back(bytes.size());
    Put32(bytes, 1);
    Put32(bytes, 0);
    Put32(bytes, 2);
    Put32(bytes, 0);
    Put32(bytes, i + 1 < depth ? 1 : 0);
    Put32(bytes, 18);
    Put16(bytes, 0xA1);
    bytes += Bytes({50, 0, 0, 0, 0, 0, 0});
  }
  const std::size_t end = bytes.size();
  for (std::size_t start : anchors) {
    const std::uint32_t anchorSize = std::uint32_t(end - start - 8), baseSize = anchorSize - 8;
    std::memcpy(&bytes[start + 4], &anchorSize, 4);
    std::memcpy(&bytes[start + 12], &baseSize, 4);
  }
  StreamTree tree;
  EXPECT_EQ(LoadError(tree, bytes), 2004);
  EXPECT_EQ(tree.UpdateCount(), 0);
  EXPECT_EQ(CheckTreeInvariants(tree), kMaxStreamDepth);
}

TEST(NodeStream, UserDataReadShortOrLongIsSkippedToItsEnd) {
  for (std::int64_t readSize : {0, 1, 8, 16}) {
    SCOPED_TRACE(readSize);
    StreamTree tree;
    tree.userReadSize = readSize;
    std::string user = Bytes({4, 0, 0, 0, 8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8});
    std::string caption = Bytes({3, 0, 0, 0, 2, 0, 0, 0, 'x', 0});
    EXPECT_EQ(LoadError(tree, Header(2) + Bytes({2, 0, 0, 0}) + Leaf(2, 0x81, 18, user + caption) + Leaf(2, 0x81)), 0);
    auto nodes = AllNodes(tree);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(tree.captions[nodes[0]], u"x");
  }
}

TEST(NodeStream, UninitialisedNodeIsWrittenWithoutChildren) {
  StreamTree source;
  source.OptionBits.Misc &= ~(1u << 5);
  TVTNode* parent = source.AllocateNode();
  source.LinkNode(parent, nullptr, 4);
  TVTNode* child = source.AllocateNode();
  source.LinkNode(child, parent, 4);
  ASSERT_EQ(parent->States & vsInitialized, 0);
  TMemoryStream stream;
  source.SaveTreeToStream(stream);
  stream.SetPosition(0);
  StreamTree target;
  target.LoadTreeFromStream(stream);
  EXPECT_EQ(CheckTreeInvariants(target), 1u);
}

TEST(NodeStream, InsertingIntoALastChildKeepsSelectionsOutsideIt) {
  StreamTree tree;
  TVTNode* p = tree.AllocateNode();
  p->States |= vsInitialized | vsExpanded;
  tree.LinkNode(p, nullptr, 4);
  TVTNode* last = tree.AllocateNode();
  last->States |= vsInitialized;
  tree.LinkNode(last, p, 4);
  TVTNode* after = tree.AllocateNode();
  after->States |= vsInitialized;
  tree.LinkNode(after, nullptr, 4);
  tree.AddToSelectionAndNotify(after);
  TStringStream stream(Leaf(2, 0x1A1, 18, {}, 1, Leaf(2, 0x181)));
  tree.InsertNodesFromStream(stream, 2, last);
  EXPECT_TRUE(after->States & vsSelected);
  EXPECT_EQ(tree.Selection(), std::vector<TVTNode*>{after});
  EXPECT_EQ(CheckTreeInvariants(tree), 4u);
}

TEST(NodeStream, LoadTreeFromFileReadsASavedFile) {
  StreamTree source;
  TVTNode* node = source.AllocateNode();
  node->States |= vsInitialized;
  source.LinkNode(node, nullptr, 4);
  source.captions[node] = u"\u03A9 file";
  std::memset(source.NodeData(node), 7, 8);
  const std::string path = ::testing::TempDir() + "node-stream-test.vtd";
  {
    TMemoryStream stream;
    source.SaveTreeToStream(stream);
    stream.SaveToFile(path);
  }
  StreamTree target;
  target.LoadTreeFromFile(path);
  ASSERT_EQ(target.TotalNodeCount(), 1u);
  EXPECT_EQ(target.captions[target.FirstNodeRaw()], u"\u03A9 file");
  // A corrupt file raises the stream's error and is closed: it can be removed afterwards.
  TStringStream bad(Header(2));
  TMemoryStream badFile;
  badFile.CopyFrom(bad, 0);
  badFile.SaveToFile(path);
  try {
    target.LoadTreeFromFile(path);
    ADD_FAILURE();
  } catch (const EVirtualTreeError& e) {
    EXPECT_EQ(e.HelpContext, 2004);
  }
  EXPECT_EQ(std::remove(path.c_str()), 0);
}

TEST(NodeStream, SkipNodeMovesPastOneNode) {
  StreamTree tree;
  TStringStream stream(Leaf(2, 0x81) + Leaf(2, 0x81));
  tree.SkipNodeInStream(stream);
  EXPECT_EQ(stream.Position(), std::int64_t(Leaf(2, 0x81).size()));
  TStringStream bad(Bytes({2, 0, 0, 0, 0, 0, 0, 0}));
  try {
    tree.SkipNodeInStream(bad);
    ADD_FAILURE();
  } catch (const EVirtualTreeError& e) {
    EXPECT_EQ(e.HelpContext, 2005);
    EXPECT_EQ(e.Message, "Stream data corrupt. A node's anchor chunk is missing.");
  }
}

}  // namespace
