// The tree's OLE transfer under the system's OLE: the COM objects' answers
// and reference counts, the clipboard between two trees of one process, a
// tree that goes while its object is on the clipboard, and forged references.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "../TreeTestSupport.h"
#include "VirtualTreeTransferWin.h"

namespace {

// A host whose clipboard call puts the tree's data object on the OLE clipboard.
class ClipboardHost : public RecordingHost {
 public:
  TVTTransferTree* transfer = nullptr;
  bool SetClipboard(bool empty) override {
    if (empty) return OleSetClipboard(nullptr) == S_OK;
    TVTDataObject* data = transfer->CreateDataObject(true);
    const HRESULT result = OleSetClipboard(data);
    data->Release();
    return result == S_OK;
  }
};

struct TransferTree {
  ClipboardHost host;
  RecordingTree core{nullptr, &host};
  std::unique_ptr<TVTTransferTree> transfer = std::make_unique<TVTTransferTree>(core);
  TransferTree() {
    host.transfer = transfer.get();
    core.SetMultiSelect(true);
  }
  ~TransferTree() { transfer.reset(); }
};

std::vector<int> Levels(TVirtualTreeCore& tree) {
  std::vector<int> levels;
  for (TVTNode* n = tree.FirstNodeRaw(); n; n = tree.NextNodeRaw(n)) levels.push_back(tree.NodeLevel(n));
  return levels;
}

FORMATETC Format(CLIPFORMAT cf, DWORD tymed, DWORD aspect = DVASPECT_CONTENT, LONG index = -1) {
  FORMATETC f{};
  f.cfFormat = cf;
  f.dwAspect = aspect;
  f.lindex = index;
  f.tymed = tymed;
  return f;
}

class TransferWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    liveBefore_ = LiveComObjects();
  }
  void TearDown() override {
    OleSetClipboard(nullptr);
    EXPECT_EQ(LiveComObjects(), liveBefore_) << "a COM object was not freed";
    OleUninitialize();
  }
  long liveBefore_ = 0;
};

TEST_F(TransferWinTest, DataObjectAnswersQueriesInTheErrorOrder) {
  TransferTree a;
  IDataObject* data = a.transfer->CreateDataObject(false);
  const CLIPFORMAT own = TreeDataFormat();
  struct Case {
    FORMATETC format;
    HRESULT result;
  };
  const Case cases[] = {{Format(own, TYMED_HGLOBAL), S_OK},
                        {Format(own, TYMED_ISTREAM), S_OK},
                        {Format(CF_TEXT, TYMED_HGLOBAL), DV_E_CLIPFORMAT},
                        {Format(own, TYMED_GDI), DV_E_TYMED},
                        {Format(own, TYMED_HGLOBAL, DVASPECT_ICON), DV_E_DVASPECT},
                        {Format(own, TYMED_HGLOBAL, DVASPECT_CONTENT, 0), DV_E_LINDEX}};
  for (const Case& c : cases) {
    FORMATETC f = c.format;
    EXPECT_EQ(data->QueryGetData(&f), c.result);
  }
  EXPECT_EQ(data->Release(), 0u);
}

TEST_F(TransferWinTest, EnumeratorStepsSkipsAndClones) {
  std::vector<FORMATETC> formats = {Format(1, TYMED_HGLOBAL), Format(13, TYMED_HGLOBAL), Format(2, TYMED_GDI)};
  IEnumFORMATETC* e = new TEnumFormatEtc(formats);
  e->AddRef();
  FORMATETC out[4] = {};
  ULONG fetched = 9;
  EXPECT_EQ(e->Next(2, out, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(out[1].cfFormat, 13);
  EXPECT_EQ(e->Skip(2), S_FALSE);  // past the end: the index stays
  IEnumFORMATETC* clone = nullptr;
  ASSERT_EQ(e->Clone(&clone), S_OK);
  EXPECT_EQ(clone->Next(4, out, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(out[0].cfFormat, 2);
  EXPECT_EQ(clone->Next(1, out, nullptr), S_FALSE);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(3), S_OK);
  EXPECT_EQ(clone->Release(), 0u);
  EXPECT_EQ(e->Release(), 0u);
}

TEST_F(TransferWinTest, SetDataTwiceKeepsOneEntryAndNoObjectHoldsItself) {
  TransferTree a;
  TVTDataObject* data = a.transfer->CreateDataObject(false);
  FORMATETC f = Format(CF_TEXT, TYMED_HGLOBAL);
  for (const char* text : {"one", "two!"}) {
    STGMEDIUM m{};
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 5);
    std::memcpy(GlobalLock(m.hGlobal), text, std::strlen(text) + 1);
    GlobalUnlock(m.hGlobal);
    EXPECT_EQ(data->SetData(&f, &m, TRUE), S_OK);
  }
  EXPECT_EQ(data->StoredMediumCount(), 1u);
  STGMEDIUM got{};
  ASSERT_EQ(data->GetData(&f, &got), S_OK);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(got.hGlobal)), "two!");
  GlobalUnlock(got.hGlobal);
  EXPECT_EQ(got.pUnkForRelease, static_cast<IUnknown*>(static_cast<IDataObject*>(data)));
  // Set back with this object as the release object, copied: it must not keep the object alive.
  EXPECT_EQ(data->SetData(&f, &got, FALSE), S_OK);
  ReleaseStgMedium(&got);
  EXPECT_EQ(data->StoredMediumCount(), 1u);
  EXPECT_EQ(data->GetData(&f, &got), S_OK);
  ReleaseStgMedium(&got);
  EXPECT_EQ(data->Release(), 0u);
}

TEST_F(TransferWinTest, DropSourceAnswers) {
  TransferTree a;
  auto* manager = new TVTDragManager(a.transfer.get(), nullptr, nullptr);
  manager->AddRef();
  EXPECT_EQ(manager->QueryContinueDrag(TRUE, MK_LBUTTON), DRAGDROP_S_CANCEL);
  EXPECT_EQ(manager->QueryContinueDrag(FALSE, MK_LBUTTON | MK_RBUTTON), DRAGDROP_S_CANCEL);
  EXPECT_EQ(manager->QueryContinueDrag(FALSE, MK_RBUTTON), S_OK);
  EXPECT_EQ(manager->QueryContinueDrag(FALSE, 0), DRAGDROP_S_DROP);
  EXPECT_EQ(manager->GiveFeedback(DROPEFFECT_COPY), DRAGDROP_S_USEDEFAULTCURSORS);
  IDropTarget* target = nullptr;
  ASSERT_EQ(manager->QueryInterface(IID_IDropTarget, reinterpret_cast<void**>(&target)), S_OK);
  target->Release();
  EXPECT_EQ(manager->Release(), 0u);
}

TEST_F(TransferWinTest, CopyAndPasteThroughTheClipboard) {
  TransferTree a, b;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a.core, {0, 1, 2, 0, 0});
  BuildTreeFromLevels(b.core, {0});
  a.core.SetNodeSelected(n[0], true);
  a.core.SetNodeSelected(n[4], true);
  a.core.CopyToClipboard();
  ASSERT_TRUE(a.core.HasTreeState(tsCopyPending));
  EXPECT_TRUE(b.transfer->PasteFromClipboard(4, nullptr));
  EXPECT_EQ(Levels(b.core), (std::vector<int>{0, 0, 1, 2, 0}));
  EXPECT_EQ(Levels(a.core), (std::vector<int>{0, 1, 2, 0, 0}));
  EXPECT_EQ(CheckTreeInvariants(b.core), 5u);
  EXPECT_TRUE(a.core.freed.empty());
}

TEST_F(TransferWinTest, GlobalBlockCarriesTheSizeInFront) {
  TransferTree a, b;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a.core, {0, 1, 0});
  n[0]->States |= vsCutOrCopy;
  a.core.SetTreeState(tsCopyPending, true);
  IDataObject* data = a.transfer->CreateDataObject(true);
  FORMATETC f = Format(TreeDataFormat(), TYMED_HGLOBAL);
  STGMEDIUM m{};
  ASSERT_EQ(data->GetData(&f, &m), S_OK);
  ASSERT_EQ(m.tymed, DWORD(TYMED_HGLOBAL));
  const SIZE_T size = GlobalSize(m.hGlobal);
  const auto* block = static_cast<const std::uint8_t*>(GlobalLock(m.hGlobal));
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, block, 4);
  EXPECT_LE(prefix + 4u, size);
  b.core.InsertTransferBlock(block, size, nullptr, 4);
  GlobalUnlock(m.hGlobal);
  ReleaseStgMedium(&m);
  EXPECT_EQ(Levels(b.core), (std::vector<int>{0, 1}));
  a.core.SetTreeState(tsCopyPending, false);
  EXPECT_EQ(data->Release(), 0u);
}

TEST_F(TransferWinTest, CutAndPasteMovesTheNodes) {
  TransferTree a, b;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a.core, {0, 1, 2, 0, 0});
  a.core.SetNodeSelected(n[0], true);
  a.core.SetNodeSelected(n[2], true);  // a descendant of a cut node as well
  a.core.CutToClipboard();
  EXPECT_TRUE(b.transfer->PasteFromClipboard(4, nullptr));
  EXPECT_EQ(Levels(a.core), (std::vector<int>{0, 0}));
  EXPECT_EQ(Levels(b.core), (std::vector<int>{0, 1, 2}));
  std::set<TVTNode*> unique(a.core.freed.begin(), a.core.freed.end());
  EXPECT_EQ(unique.size(), a.core.freed.size()) << "a node freed twice";
  EXPECT_EQ(a.core.freed.size(), 3u);
  EXPECT_FALSE(a.core.HasTreeState(tsCutPending));
  EXPECT_EQ(CheckTreeInvariants(a.core), 2u);
  EXPECT_EQ(CheckTreeInvariants(b.core), 3u);
}

TEST_F(TransferWinTest, TreeGoingWithItsObjectOnTheClipboardLeavesNothingBehind) {
  auto a = std::make_unique<TransferTree>();
  TransferTree b;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a->core, {0, 1});
  a->core.SetNodeSelected(n[0], true);
  a->core.CopyToClipboard();
  a.reset();  // the clipboard let go of A's object
  IDataObject* data = nullptr;
  if (OleGetClipboard(&data) == S_OK && data) {
    EXPECT_EQ(TVTTransferTree::FindSourceTreeOfDataObject(data), nullptr);
    data->Release();
  }
  bool inserted = true;
  try {
    inserted = b.transfer->PasteFromClipboard(4, nullptr);
  } catch (const EVirtualTreeError&) {
    inserted = false;
  }
  EXPECT_FALSE(inserted);
  EXPECT_EQ(b.core.TotalNodeCount(), 0u);
}

TEST_F(TransferWinTest, DetachedDataObjectRendersNothing) {
  auto a = std::make_unique<TransferTree>();
  BuildTreeFromLevels(a->core, {0});
  TVTDataObject* data = a->transfer->CreateDataObject(false);
  a.reset();
  FORMATETC f = Format(TreeDataFormat(), TYMED_HGLOBAL);
  STGMEDIUM m{};
  EXPECT_EQ(data->GetData(&f, &m), E_FAIL);
  FORMATETC r = Format(TreeReferenceFormat(), TYMED_HGLOBAL);
  EXPECT_EQ(data->GetData(&r, &m), E_FAIL);
  EXPECT_EQ(data->Release(), 0u);
}

TEST_F(TransferWinTest, ForgedReferencesNameNoTree) {
  TransferTree a;
  struct Case {
    DWORD process;
    std::uint32_t id;
    bool found;
  };
  const Case cases[] = {{GetCurrentProcessId(), a.core.TreeId(), true},
                        {GetCurrentProcessId() + 1, a.core.TreeId(), false},
                        {GetCurrentProcessId(), a.core.TreeId() + 1000, false},
                        {GetCurrentProcessId(), 0, false}};
  for (const Case& c : cases) {
    std::uint8_t block[8];
    std::memcpy(block, &c.process, 4);
    std::memcpy(block + 4, &c.id, 4);
    EXPECT_EQ(TVTTransferTree::FindTreeOfReference(block, sizeof block), c.found ? a.transfer.get() : nullptr)
        << c.process << " " << c.id;
    EXPECT_EQ(TVTTransferTree::FindTreeOfReference(block, 7), nullptr);
  }
  // The tree's own object names it; a stale id names nothing.
  TVTDataObject* own = a.transfer->CreateDataObject(false);
  EXPECT_EQ(TVTTransferTree::FindSourceTreeOfDataObject(own), a.transfer.get());
  own->Release();
}

TEST_F(TransferWinTest, DropTargetModesAndEffects) {
  TransferTree a, b;
  b.host.clientWidth = 200;
  b.host.clientHeight = 200;
  BuildTreeFromLevels(b.core, {0, 0});  // rows at 0 and 18, 18 pixels high
  BuildTreeFromLevels(a.core, {0});
  TVTTreeDropHandler handler(*b.transfer, nullptr);
  auto* manager = new TVTDragManager(b.transfer.get(), &handler, nullptr);
  manager->AddRef();
  IDataObject* data = a.transfer->CreateDataObject(false);
  const DWORD all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
  DWORD effect = all;
  ASSERT_EQ(manager->DragEnter(data, MK_LBUTTON, POINTL{10, 2}, &effect), S_OK);
  EXPECT_EQ(manager->SourceTree(), a.transfer.get());
  EXPECT_EQ(effect, DWORD(DROPEFFECT_COPY)) << "from another tree: copy";
  struct Place {
    LONG y;
    int mode;
  };
  for (const Place& c : {Place{2, 1}, Place{15, 3}, Place{20, 1}, Place{34, 3}, Place{100, 0}}) {
    effect = all;
    EXPECT_EQ(manager->DragOver(MK_LBUTTON, POINTL{10, c.y}, &effect), S_OK);
    EXPECT_EQ(handler.DropMode(), c.mode) << c.y;
  }
  struct Keys {
    DWORD keys;
    DWORD effect;
  };
  for (const Keys& c :
       {Keys{MK_LBUTTON, DROPEFFECT_COPY}, Keys{MK_SHIFT, DROPEFFECT_MOVE}, Keys{MK_CONTROL, DROPEFFECT_COPY},
        Keys{MK_CONTROL | MK_SHIFT, DROPEFFECT_LINK}, Keys{MK_ALT, DROPEFFECT_LINK}}) {
    effect = all;
    manager->DragOver(c.keys, POINTL{10, 2}, &effect);
    EXPECT_EQ(effect, c.effect) << c.keys;
  }
  b.core.OptionBits.Paint &= std::uint16_t(~(1u << 6));  // no drop mark: on the node
  effect = all;
  manager->DragOver(MK_LBUTTON, POINTL{10, 2}, &effect);
  EXPECT_EQ(handler.DropMode(), 2);
  handler.OnDragOver = [](TVTTransferTree*, std::uint8_t, int, POINT, int, DWORD&) { return false; };
  effect = all;
  manager->DragOver(MK_LBUTTON, POINTL{10, 2}, &effect);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE)) << "a refusing drag-over event";
  EXPECT_EQ(manager->DragLeave(), S_OK);
  EXPECT_FALSE(manager->IsCurrentDropTarget());
  EXPECT_EQ(handler.DropTargetNode(), nullptr);
  data->Release();
  EXPECT_EQ(manager->Release(), 0u);
}

TEST_F(TransferWinTest, DragOverArmsTheExpandTimerAndForgetsAFreedTarget) {
  TransferTree a, b;
  b.host.clientWidth = 200;
  b.host.clientHeight = 200;
  b.core.OptionBits.Auto |= 1u;  // expand on drop
  std::vector<TVTNode*> m = BuildTreeFromLevels(b.core, {0, 1, 0});
  b.core.SetExpanded(m[0], false);
  TVTTreeDropHandler handler(*b.transfer, nullptr);
  handler.ExpandDelay = 700;
  DWORD effect = DROPEFFECT_COPY;
  handler.DropTargetOver(nullptr, MK_LBUTTON, POINTL{10, 5}, effect);
  EXPECT_EQ(handler.DropTargetNode(), m[0]);
  ASSERT_TRUE(b.host.TimerRunning(kExpandTimer)) << "a node with children under the drag";
  EXPECT_EQ(b.host.timers[kExpandTimer], 700u);
  effect = DROPEFFECT_COPY;
  handler.DropTargetOver(nullptr, MK_LBUTTON, POINTL{10, 20}, effect);  // the childless next node
  EXPECT_EQ(handler.DropTargetNode(), m[2]);
  EXPECT_FALSE(b.host.TimerRunning(kExpandTimer));
  b.core.RemoveNode(m[2]);
  EXPECT_EQ(handler.DropTargetNode(), nullptr) << "a freed node is no drop target";
  handler.DropTargetLeave();
}

// Leaves the flushed data on the clipboard (the next test reads it from another process).
TEST(TransferFlush, FlushedClipboardKeepsTheTreeDataAfterTheTree) {
  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
  const long live = LiveComObjects();
  auto a = std::make_unique<TransferTree>();
  std::vector<TVTNode*> n = BuildTreeFromLevels(a->core, {0, 1, 0});
  a->core.SetNodeSelected(n[0], true);
  a->core.CopyToClipboard();
  ASSERT_EQ(OleFlushClipboard(), S_OK);
  a.reset();
  EXPECT_TRUE(IsClipboardFormatAvailable(TreeDataFormat()));
  // The reference is answered to a direct ask only, never offered: it does not outlive the tree.
  EXPECT_FALSE(IsClipboardFormatAvailable(TreeReferenceFormat()));
  EXPECT_EQ(LiveComObjects(), live);
  OleUninitialize();
}

TEST_F(TransferWinTest, AnotherProcessTreeIsNeverTakenForOneOfThisProcess) {
  // The other process runs the test above: its tree (whose id this process's
  // first trees share) goes on the clipboard and the process ends.
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  std::wstring command =
      std::wstring(L"\"") + path + L"\" --gtest_filter=TransferFlush.FlushedClipboardKeepsTheTreeDataAfterTheTree";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_EQ(code, 0u);
  TransferTree b;
  TransferTree c;  // trees of this process with low ids, as the other process's tree had
  BuildTreeFromLevels(c.core, {0, 0, 0, 0});
  IDataObject* data = nullptr;
  ASSERT_EQ(OleGetClipboard(&data), S_OK);
  EXPECT_EQ(TVTTransferTree::FindSourceTreeOfDataObject(data), nullptr);
  data->Release();
  EXPECT_TRUE(b.transfer->PasteFromClipboard(4, nullptr));
  EXPECT_EQ(Levels(b.core), (std::vector<int>{0, 1}));
  EXPECT_EQ(c.core.TotalNodeCount(), 4u) << "no tree of this process was touched";
}

// A drag from `from` dropped on `to`'s manager at a point with keys; the effect the drop gave.
DWORD DragAndDrop(TransferTree& from, TVTDragManager* to, POINTL point, DWORD keys) {
  return from.core.StartOleDrag([&](std::uint32_t allowed) -> std::uint32_t {
    IDataObject* data = from.transfer->CreateDataObject(false);
    DWORD effect = allowed;
    to->DragEnter(data, keys | MK_LBUTTON, point, &effect);
    effect = allowed;
    to->DragOver(keys | MK_LBUTTON, point, &effect);
    effect = allowed;
    const HRESULT result = to->Drop(data, keys, point, &effect);
    data->Release();
    return result == S_OK ? effect : DROPEFFECT_NONE;
  });
}

TEST_F(TransferWinTest, MoveDropsLeaveNothingForTheSourceToDeleteTwice) {
  TransferTree a, b;
  b.host.clientWidth = a.host.clientWidth = 200;
  b.host.clientHeight = a.host.clientHeight = 200;
  a.core.OptionBits.Auto |= 1u << 8;  // delete moved nodes after a move
  b.core.OptionBits.Auto |= 1u << 8;
  std::vector<TVTNode*> n = BuildTreeFromLevels(a.core, {0, 1, 0});
  std::vector<TVTNode*> m = BuildTreeFromLevels(b.core, {0, 0, 0});
  TVTTreeDropHandler handlerB(*b.transfer, nullptr);
  auto* managerB = new TVTDragManager(b.transfer.get(), &handlerB, nullptr);
  managerB->AddRef();

  // Across trees: ancestor and descendant dragged, moved (Shift) onto B's empty space.
  a.core.SetNodeSelected(n[0], true);
  a.core.SetNodeSelected(n[1], true);
  EXPECT_EQ(DragAndDrop(a, managerB, POINTL{10, 150}, MK_SHIFT), DWORD(DROPEFFECT_MOVE));
  EXPECT_EQ(Levels(a.core), (std::vector<int>{0}));
  EXPECT_EQ(Levels(b.core), (std::vector<int>{0, 0, 0, 0, 1}));
  std::set<TVTNode*> unique(a.core.freed.begin(), a.core.freed.end());
  EXPECT_EQ(unique.size(), a.core.freed.size()) << "a node freed twice";
  EXPECT_EQ(a.core.freed.size(), 2u);
  EXPECT_EQ(CheckTreeInvariants(a.core), 1u);
  EXPECT_EQ(CheckTreeInvariants(b.core), 5u);

  // Within B: its first node dropped below the third (plain drag: move); nothing is deleted afterwards.
  b.core.ClearSelectionAndRepaint();
  b.core.SetNodeSelected(m[0], true);
  EXPECT_EQ(DragAndDrop(b, managerB, POINTL{10, 18 * 2 + 15}, 0), DWORD(DROPEFFECT_MOVE));
  EXPECT_TRUE(b.core.freed.empty());
  EXPECT_EQ(b.core.TotalNodeCount(), 5u);
  EXPECT_EQ(m[0]->PrevSibling, m[2]) << "moved below the third node";
  EXPECT_EQ(CheckTreeInvariants(b.core), 5u);
  EXPECT_EQ(managerB->Release(), 0u);
}

TEST_F(TransferWinTest, ADropThatFailsAnswersUnexpectedAndKeepsTheErrorInside) {
  TransferTree a, b;
  b.host.clientWidth = 200;
  b.host.clientHeight = 200;
  BuildTreeFromLevels(a.core, {0});
  TVTTreeDropHandler handler(*b.transfer, nullptr);
  handler.OnDragDrop = [](TVTTransferTree*, IDataObject*, const std::vector<CLIPFORMAT>& formats, std::uint8_t, POINT,
                          DWORD&, int) {
    EXPECT_FALSE(formats.empty());
    throw std::runtime_error("drop handler");
  };
  auto* manager = new TVTDragManager(b.transfer.get(), &handler, nullptr);
  manager->AddRef();
  IDataObject* data = a.transfer->CreateDataObject(false);
  DWORD effect = DROPEFFECT_COPY;
  manager->DragEnter(data, MK_LBUTTON, POINTL{10, 100}, &effect);
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(manager->Drop(data, 0, POINTL{10, 100}, &effect), E_UNEXPECTED);
  EXPECT_FALSE(manager->IsCurrentDropTarget());
  data->Release();
  EXPECT_EQ(manager->Release(), 0u);
}

}  // namespace

#include "VirtualStringTreeTransferWin.h"

namespace {

class TextTree : public TVirtualStringTreeCore {
 public:
  explicit TextTree(TVirtualTreeHost* host) : TVirtualStringTreeCore(nullptr, host) {}
  ~TextTree() override { Shutdown(); }

 protected:
  void DoGetText(TVTNode* node, int column, int, std::u16string& text) override {
    text = node->FirstChild ? u"caf\u00e9 \U0001F600" : u"a\tb\r\n";
    if (column >= 0) text += char16_t(u'0' + column);
  }
};

struct StringTransferTree {
  ClipboardHost host;
  TextTree core{&host};
  std::unique_ptr<TVTStringTransferTree> transfer = std::make_unique<TVTStringTransferTree>(core);
  StringTransferTree() {
    host.transfer = transfer.get();
    core.SetMultiSelect(true);
  }
  ~StringTransferTree() { transfer.reset(); }
};

TEST_F(TransferWinTest, ClipboardTextEqualsTheRendering) {
  StringTransferTree a;
  TVTNode* first = a.core.AllocateNode();
  a.core.LinkNode(first, nullptr, 4);
  TVTNode* child = a.core.AllocateNode();
  a.core.LinkNode(child, first, 4);
  a.core.SetNodeSelected(first, true);
  a.core.SetNodeSelected(child, true);
  a.core.CopyToClipboard();
  ASSERT_TRUE(a.core.HasTreeState(tsCopyPending));
  TVTStringTreeCells cells(a.core, tstCutCopySet, TVTRenderLooks());
  const std::u16string expected = WideTextOfRows(cells, u"\t");
  EXPECT_EQ(expected, u"caf\u00e9 \U0001F600\r\n\ta\tb\r\n\r\n");
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE handle = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(handle, nullptr);
  const auto* text = static_cast<const char16_t*>(GlobalLock(handle));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), expected);
  GlobalUnlock(handle);
  // The CSV block quotes the cell holding the separator and the line break.
  HGLOBAL csv =
      a.transfer->ClipboardBlockOfNodes(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("CSV")), tstCutCopySet);
  ASSERT_NE(csv, nullptr);
  const std::string csvText = static_cast<const char*>(GlobalLock(csv));
  GlobalUnlock(csv);
  GlobalFree(csv);
  const std::u16string separator = TVTStringTransferTree::ListSeparator();
  EXPECT_FALSE(separator.empty());
  EXPECT_NE(csvText.find("\"a\tb\r\n\""), std::string::npos) << csvText;
  CloseClipboard();
}

}  // namespace
