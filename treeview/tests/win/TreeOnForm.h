// A test fixture: a shown form holding one tree window of a given class.
#pragma once

#include <gtest/gtest.h>

#include "Forms.h"
#include "VirtualTreesWin.h"
#include "Win32Platform.h"

// A shown form holding one tree of class TTree, 300 x 200 at its top left.
template <class TTree>
class TreeOnFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitWin32Platform();
    InitVirtualTrees();
    form_ = New<TForm>(Application);
    form_->SetBounds(0, 0, 400, 400);
    tree_ = New<TTree>(form_);
    tree_->SetParent(form_);
    tree_->SetBounds(0, 0, 300, 200);
    form_->Show();
  }
  void TearDown() override {
    FreeAndNil(form_);
    DoneVirtualTrees();
  }
  TForm* form_ = nullptr;
  TTree* tree_ = nullptr;
};
