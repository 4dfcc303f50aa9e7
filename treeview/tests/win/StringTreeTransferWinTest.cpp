// Two string tree windows of one process: a copy offers and renders the
// texts of the nodes besides the nodes themselves, and a paste brings the
// captions along through the node stream.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "TreeOnForm.h"
#include "VirtualStringTreesWin.h"
#include "VirtualTreeTransferWin.h"

namespace {

class StringTreeTransferWinTest : public TreeOnFormTest<TCustomVirtualStringTree> {
 protected:
  void SetUp() override {
    TreeOnFormTest<TCustomVirtualStringTree>::SetUp();
    other_ = New<TCustomVirtualStringTree>(form_);
    other_->SetParent(form_);
    other_->SetBounds(0, 200, 300, 200);
    for (TCustomVirtualStringTree* tree : {tree_, other_}) {
      tree->Tree().SetMultiSelect(true);
      tree->OnGetText = decltype(tree->OnGetText)::Bind<&StringTreeTransferWinTest::GetText>(this);
      tree->OnNewText = decltype(tree->OnNewText)::Bind<&StringTreeTransferWinTest::NewText>(this);
    }
  }
  void TearDown() override {
    OleSetClipboard(nullptr);
    TreeOnFormTest<TCustomVirtualStringTree>::TearDown();
  }
  void GetText(TObject*, TVTNode* node, int, int, std::u16string& text) {
    auto found = texts_.find(node);
    text = found == texts_.end() ? u"?" : found->second;
  }
  void NewText(TObject*, TVTNode* node, int, const std::u16string& text) { texts_[node] = text; }
  // Top-level nodes with the given captions, each with two children ("<caption>.1", "<caption>.2").
  void Fill(TCustomVirtualStringTree* tree, const std::vector<std::u16string>& captions) {
    TVirtualTreeCore& core = tree->Tree();
    for (const std::u16string& caption : captions) {
      TVTNode* node = core.AllocateNode();
      core.LinkNode(node, nullptr, 4);
      texts_[node] = caption;
      for (char16_t c : {u'1', u'2'}) {
        TVTNode* child = core.AllocateNode();
        core.LinkNode(child, node, 4);
        texts_[child] = caption + u"." + c;
      }
    }
    for (TVTNode* n = core.FirstNodeRaw(); n; n = core.NextNodeRaw(n)) core.InitializeNodeOnDemand(n);
  }
  // Every node as "<level>:<caption>", in tree order.
  std::vector<std::u16string> Outline(TCustomVirtualStringTree* tree) {
    std::vector<std::u16string> outline;
    TVirtualTreeCore& core = tree->Tree();
    for (TVTNode* n = core.FirstNodeRaw(); n; n = core.NextNodeRaw(n))
      outline.push_back(std::u16string(1, char16_t(u'0' + core.NodeLevel(n))) + u":" + tree->CellText(n, -1));
    return outline;
  }
  static std::u16string ClipboardUnicodeText() {
    std::u16string text;
    if (!OpenClipboard(nullptr)) return u"<clipboard not opened>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      if (const auto* p = static_cast<const char16_t*>(GlobalLock(data))) {
        text = p;
        GlobalUnlock(data);
      }
    }
    CloseClipboard();
    return text;
  }
  TCustomVirtualStringTree* other_ = nullptr;
  std::map<TVTNode*, std::u16string> texts_;
};

TEST_F(StringTreeTransferWinTest, CopyOffersTheTextFormatsAndRendersTheNodesText) {
  Fill(tree_, {u"Gr\u00fc\u00dfe \u20ac", u"Second"});
  TVirtualTreeCore& core = tree_->Tree();
  TVTNode* first = core.FirstNodeRaw();
  core.SetNodeSelected(first, true);
  core.SetNodeSelected(first->FirstChild->NextSibling, true);
  SendMessageW(tree_->WindowHandle(), WM_COPY, 0, 0);

  std::vector<UINT> expected = {CF_TEXT, CF_UNICODETEXT, RegisterClipboardFormatA("CSV"),
                                RegisterClipboardFormatA("Rich Text Format"), RegisterClipboardFormatA("HTML Format")};
  for (UINT format : expected) EXPECT_TRUE(IsClipboardFormatAvailable(format)) << format;
  // The nodes marked for the copy, each indented by its level.
  EXPECT_EQ(ClipboardUnicodeText(), u"Gr\u00fc\u00dfe \u20ac\r\n\tGr\u00fc\u00dfe \u20ac.2\r\n");
}

TEST_F(StringTreeTransferWinTest, CopyAndCutCarryTheCaptionsToTheOtherTree) {
  Fill(tree_, {u"One", u"Two"});
  tree_->Tree().SetNodeSelected(tree_->Tree().FirstNodeRaw(), true);
  SendMessageW(tree_->WindowHandle(), WM_COPY, 0, 0);
  SendMessageW(other_->WindowHandle(), WM_PASTE, 0, 0);
  EXPECT_EQ(Outline(other_), (std::vector<std::u16string>{u"0:One", u"1:One.1", u"1:One.2"}));
  EXPECT_EQ(tree_->Tree().TotalNodeCount(), 6u);

  SendMessageW(tree_->WindowHandle(), WM_CUT, 0, 0);
  SendMessageW(other_->WindowHandle(), WM_PASTE, 0, 0);
  EXPECT_EQ(Outline(other_),
            (std::vector<std::u16string>{u"0:One", u"1:One.1", u"1:One.2", u"0:One", u"1:One.1", u"1:One.2"}));
  EXPECT_EQ(Outline(tree_), (std::vector<std::u16string>{u"0:Two", u"1:Two.1", u"1:Two.2"}));
}

}  // namespace
