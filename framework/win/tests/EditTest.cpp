// TEdit over the system EDIT class.
#include <gtest/gtest.h>

#include "Forms.h"
#include "StdCtrls.h"

namespace {

struct ChangeCounter {
  int count = 0;
  void OnChange(TObject*) { ++count; }
};

class EditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitForms();
    form.reset(TCustomForm::CreateNew<TForm>(Application));
    edit = New<TEdit>(form.get());
    edit->SetParent(form.get());
    edit->SetBounds(10, 10, 150, 24);
  }
  TOwned<TForm> form;
  TEdit* edit = nullptr;
};

TEST_F(EditTest, TextSelectionAndModifiedThroughTheWindow) {
  ChangeCounter changes;
  edit->OnChange = TNotifyEvent::Bind<&ChangeCounter::OnChange>(&changes);
  edit->SetText("Hello world");  // before the window: kept, then given to it
  HWND wnd = edit->Handle();
  char cls[16] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  EXPECT_STREQ(cls, "TEdit");
  EXPECT_EQ(edit->GetText(), "Hello world");
  EXPECT_FALSE(edit->GetModified());

  edit->SetSelStart(6);
  edit->SetSelLength(5);
  EXPECT_EQ(edit->GetSelStart(), 6);
  EXPECT_EQ(edit->GetSelLength(), 5);
  EXPECT_EQ(edit->GetSelText(), "world");
  edit->SetSelText("there");
  EXPECT_EQ(edit->GetText(), "Hello there");
  EXPECT_GE(changes.count, 1);
  edit->SelectAll();
  EXPECT_EQ(edit->GetSelLength(), 11);

  SendMessageA(wnd, WM_CHAR, '!', 1);
  EXPECT_EQ(edit->GetText(), "!");
  EXPECT_TRUE(edit->GetModified());
  edit->SetModified(false);
  EXPECT_FALSE(edit->GetModified());
}

TEST_F(EditTest, StyleProperties) {
  edit->SetMaxLength(3);
  edit->SetPasswordChar('*');
  HWND wnd = edit->Handle();
  EXPECT_EQ(SendMessageA(wnd, EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_TRUE(GetWindowLongPtrA(wnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  for (char c : std::string("abcdef")) SendMessageA(wnd, WM_CHAR, static_cast<unsigned char>(c), 1);
  EXPECT_EQ(edit->GetText(), "abc") << "MaxLength";
  edit->SetPasswordChar(0);
  EXPECT_EQ(SendMessageA(wnd, EM_GETPASSWORDCHAR, 0, 0), 0);

  edit->SetReadOnly(true);
  EXPECT_TRUE(GetWindowLongPtrA(wnd, GWL_STYLE) & ES_READONLY);
  SendMessageA(wnd, WM_CHAR, 'x', 1);
  EXPECT_EQ(edit->GetText(), "abc");
  edit->SetReadOnly(false);

  edit->SetText("kept");
  edit->SetBorderStyle(bsNone);  // a new window, the text kept
  EXPECT_FALSE(GetWindowLongPtrA(edit->Handle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_EQ(edit->GetText(), "kept");
  EXPECT_EQ(SendMessageA(edit->Handle(), EM_GETLIMITTEXT, 0, 0), 3);
}

TEST_F(EditTest, AutoSizeFitsTheHeightToTheFont) {
  edit->HandleNeeded();
  const int small = edit->GetHeight();
  edit->GetFont()->SetSize(20);
  EXPECT_GT(edit->GetHeight(), small);
  edit->SetAutoSize(false);
  edit->SetHeight(50);
  edit->GetFont()->SetSize(8);
  EXPECT_EQ(edit->GetHeight(), 50);
}

}  // namespace
