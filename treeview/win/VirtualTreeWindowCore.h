// The core as the window sees it: the image widths and check image width
// that hit tests and content widths need come from the window (the node
// widths come through the host), and a freed node leaves the hint data.
// A template over the core class, so that the string tree's core (which
// extends the portable core) gets the same answers.
#pragma once

#include "VirtualTreesWin.h"

template <class CoreBase>
class TBaseVirtualTree::WindowCore : public CoreBase {
 public:
  WindowCore(TBaseVirtualTree& tree, TVirtualTreeHost* host) : CoreBase(&tree, host), tree_(tree) {}
  ~WindowCore() override {
    try {
      this->Shutdown();
    } catch (...) {
      // A failing free-node handler: the nodes are gone all the same.
    }
  }

  // The header's main column (-1 without columns).
  int MainColumn() const override { return this->ColumnLayout.MainColumn; }

  void ForgetReleasedNode(TVTNode* node) override {
    CoreBase::ForgetReleasedNode(node);
    if (tree_.hintData_.Node == node) tree_.hintData_.Node = nullptr;
  }

 protected:
  int NodeImageWidth(TVTNode* node, int column, bool state) override {
    TCustomImageList* list = state ? tree_.stateImages_ : tree_.images_;
    if (!list) return 0;
    bool ghosted = false;
    const int kind = state ? 2 : ((node->States & vsSelected) ? 1 : 0);
    return tree_.QueryImageIndex(node, kind, column, ghosted) >= 0 ? list->GetWidth() : 0;
  }
  int CheckImageWidth() const override {
    const TCustomImageList* list = tree_.CheckImages();
    return list ? list->GetWidth() : 0;
  }
  bool DoNodeMoving(TVTNode* node, TVTNode* target) override { return tree_.AskStreamEvent(node, target); }
  void DoNodeMoved(TVTNode* node) override { tree_.FireStreamEvent(node); }
  TBaseVirtualTree& WindowTree() const { return tree_; }

 private:
  TBaseVirtualTree& tree_;
};
