// Windowless stand-ins for the framework's form classes, named as the
// re-translation walk knows them (it compares class names along the ancestor
// chain), and a fake screen. Shared by the tests and the fuzz target; each
// includer gets its own copies.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "Collection.h"
#include "IdentMaps.h"
#include "LiveForms.h"
#include "Strings.h"

namespace {

std::vector<std::string> gLog;  // setter calls and events, in order

struct TestCharsetTag {
  static const TypeInfo* Info();
};
using TTestCharset = TNamedInt<TestCharsetTag, std::uint8_t>;
const TIdentMapEntry kCharsets[] = {
    {0, "ANSI_CHARSET"}, {1, "DEFAULT_CHARSET"}, {177, "HEBREW_CHARSET"}, {204, "RUSSIAN_CHARSET"}};
const TypeInfo* TestCharsetTag::Info() {
  static const TypeInfo info = MakeIntegerTypeInfo("TFontCharset", 0, 255, kCharsets, std::size(kCharsets));
  return &info;
}

class TFont : public TPersistent {
  FW_CLASS(TFont, TPersistent)
 public:
  TTestCharset GetCharset() const { return charset_; }
  void SetCharset(TTestCharset v) {
    charset_ = v;
    gLog.push_back("charset=" + std::to_string(int(v)));
  }

 private:
  TTestCharset charset_ = 1;
};
FW_BEGIN_CLASS(TFont)
  FW_PROP(Charset, GetCharset, SetCharset)
FW_END_CLASS

FW_ENUM(TTestAlign, taNone, taTop, taClient);

// A control with one property of each kind the walk sets.
class TTestControl : public TComponent {
  FW_CLASS(TTestControl, TComponent)
 public:
  explicit TTestControl(TComponent* owner) : TComponent(owner), font_(New<TFont>()), items_(New<TStringList>()) {}
  void Destroy() override {
    FreeAndNil(font_);
    FreeAndNil(items_);
    inherited::Destroy();
  }
  std::string GetCaption() const { return caption_; }
  void SetCaption(const std::string& v) {
    caption_ = v;
    gLog.push_back(Name() + ".Caption=" + v);
  }
  WideString GetWideCaption() const { return wide_; }
  void SetWideCaption(const WideString& v) { wide_ = v; }
  TFont* GetFont() const { return font_; }
  TStringList* GetItems() const { return items_; }
  int Number = 7;
  TTestAlign Align = taTop;

 private:
  std::string caption_;
  WideString wide_;
  TFont* font_;
  TStringList* items_;
};
FW_BEGIN_CLASS(TTestControl)
  FW_PROP(Caption, GetCaption, SetCaption)
  FW_PROP(WideCaption, GetWideCaption, SetWideCaption)
  FW_PROP_RO(Font, GetFont)
  FW_PROP_RO(Items, GetItems)
  FW_PROP(Number, Number, Number)
  FW_PROP(Align, Align, Align)
FW_END_CLASS

class TLineItem : public TCollectionItem {
  FW_CLASS(TLineItem, TCollectionItem)
 public:
  explicit TLineItem(TCollection* c) : TCollectionItem(c) {}
  std::string Caption;
};
FW_BEGIN_CLASS(TLineItem)
  FW_PROP(Caption, Caption, Caption)
FW_END_CLASS

// A collection item that holds a nested collection ("Columns[0].Lines[2]").
class TColumnItem : public TCollectionItem {
  FW_CLASS(TColumnItem, TCollectionItem)
 public:
  explicit TColumnItem(TCollection* c) : TCollectionItem(c), lines_(New<TCollection>(TLineItem::StaticClass())) {
    for (int i = 0; i < 3; ++i) lines_->Add();
  }
  void Destroy() override {
    FreeAndNil(lines_);
    inherited::Destroy();
  }
  TCollection* GetLines() const { return lines_; }
  std::string Caption;

 private:
  TCollection* lines_;
};
FW_BEGIN_CLASS(TColumnItem)
  FW_PROP(Caption, Caption, Caption)
  FW_PROP_RO(Lines, GetLines)
FW_END_CLASS

class TTestGrid : public TTestControl {
  FW_CLASS(TTestGrid, TTestControl)
 public:
  explicit TTestGrid(TComponent* owner) : TTestControl(owner), columns_(New<TCollection>(TColumnItem::StaticClass())) {
    for (int i = 0; i < 2; ++i) columns_->Add();
  }
  void Destroy() override {
    FreeAndNil(columns_);
    inherited::Destroy();
  }
  TCollection* GetColumns() const { return columns_; }
  TColumnItem* Column(int i) const { return static_cast<TColumnItem*>(columns_->Items(i)); }

 private:
  TCollection* columns_;
};
FW_BEGIN_CLASS(TTestGrid)
  FW_PROP_RO(Columns, GetColumns)
FW_END_CLASS

// A component without a font of its own: its Style holds one.
class TTestStyle : public TPersistent {
  FW_CLASS(TTestStyle, TPersistent)
 public:
  TTestStyle() : font_(New<TFont>()) {}
  void Destroy() override {
    FreeAndNil(font_);
    inherited::Destroy();
  }
  TFont* GetFont() const { return font_; }

 private:
  TFont* font_;
};
FW_BEGIN_CLASS(TTestStyle)
  FW_PROP_RO(Font, GetFont)
FW_END_CLASS

class TTestStyled : public TComponent {
  FW_CLASS(TTestStyled, TComponent)
 public:
  explicit TTestStyled(TComponent* owner) : TComponent(owner), style_(New<TTestStyle>()) {}
  void Destroy() override {
    FreeAndNil(style_);
    inherited::Destroy();
  }
  TTestStyle* GetStyle() const { return style_; }
  std::string Caption;

 private:
  TTestStyle* style_;
};
FW_BEGIN_CLASS(TTestStyled)
  FW_PROP(Caption, Caption, Caption)
  FW_PROP_RO(Style, GetStyle)
FW_END_CLASS

class TTabbedNotebook : public TComponent {
  FW_CLASS(TTabbedNotebook, TComponent)
 public:
  explicit TTabbedNotebook(TComponent* owner) : TComponent(owner), font_(New<TFont>()), pages_(New<TStringList>()) {
    pages_->SetText("One\r\nTwo\r\nThree");
  }
  void Destroy() override {
    FreeAndNil(font_);
    FreeAndNil(pages_);
    inherited::Destroy();
  }
  TFont* GetFont() const { return font_; }
  TStringList* GetPages() const { return pages_; }

 private:
  TFont* font_;
  TStringList* pages_;
};
FW_BEGIN_CLASS(TTabbedNotebook)
  FW_PROP_RO(Font, GetFont)
  FW_PROP_RO(Pages, GetPages)
FW_END_CLASS

class TForm : public TComponent {
  FW_CLASS(TForm, TComponent)
 public:
  explicit TForm(TComponent* owner) : TComponent(owner) {}
  std::string GetCaption() const { return caption_; }
  void SetCaption(const std::string& v) {
    caption_ = v;
    gLog.push_back("form.Caption=" + v);
  }
  int PixelsPerInch = 96;

 private:
  std::string caption_;
};
FW_BEGIN_CLASS(TForm)
  FW_PROP(Caption, GetCaption, SetCaption)
FW_END_CLASS

class TForm1 : public TForm {
  FW_CLASS(TForm1, TForm)
 public:
  explicit TForm1(TComponent* owner) : TForm(owner) {}
};
FW_IMPLEMENT_CLASS(TForm1)

class TForm2 : public TForm1 {
  FW_CLASS(TForm2, TForm1)
 public:
  explicit TForm2(TComponent* owner) : TForm1(owner) {}
};
FW_IMPLEMENT_CLASS(TForm2)

class TDataModule : public TComponent {
  FW_CLASS(TDataModule, TComponent)
 public:
  explicit TDataModule(TComponent* owner) : TComponent(owner) {}
  std::string Caption;
};
FW_BEGIN_CLASS(TDataModule)
  FW_PROP(Caption, Caption, Caption)
FW_END_CLASS

class TDataModule1 : public TDataModule {
  FW_CLASS(TDataModule1, TDataModule)
 public:
  explicit TDataModule1(TComponent* owner) : TDataModule(owner) {}
};
FW_IMPLEMENT_CLASS(TDataModule1)

class TCustomFrame : public TComponent {
  FW_CLASS(TCustomFrame, TComponent)
 public:
  explicit TCustomFrame(TComponent* owner) : TComponent(owner) {}
};
FW_IMPLEMENT_CLASS(TCustomFrame)

class TFrame1 : public TCustomFrame {
  FW_CLASS(TFrame1, TCustomFrame)
 public:
  explicit TFrame1(TComponent* owner) : TCustomFrame(owner) {}
};
FW_IMPLEMENT_CLASS(TFrame1)

// The screen: forms and data modules, and what the walk asked of it.
class FakeHost : public LiveFormsHost {
 public:
  std::vector<TComponent*> Forms, Modules;
  int ScreenPpi = 96;
  std::vector<std::string> Calls;

  int FormCount() override { return static_cast<int>(Forms.size()); }
  TComponent* Form(int i) override { return Forms.at(static_cast<std::size_t>(i)); }
  int DataModuleCount() override { return static_cast<int>(Modules.size()); }
  TComponent* DataModule(int i) override { return Modules.at(static_cast<std::size_t>(i)); }
  int ScreenPixelsPerInch() override { return ScreenPpi; }
  int FormPixelsPerInch(TComponent* form) override {
    auto* f = dynamic_cast<TForm*>(form);
    return f ? f->PixelsPerInch : ScreenPpi;
  }
  void ScaleForm(TComponent* form, int m, int d) override {
    Calls.push_back("scale " + form->Name() + " " + std::to_string(m) + "/" + std::to_string(d));
    if (auto* f = dynamic_cast<TForm*>(form)) f->PixelsPerInch = m;
  }
  void SetRightToLeft(TComponent* form, bool rtl) override {
    Calls.push_back(std::string(rtl ? "rtl " : "ltr ") + form->Name());
  }
  void SetScreenFontsCharset(std::uint32_t charset) override {
    Calls.push_back("screen fonts " + std::to_string(charset));
  }
};

// A form "Form1" holding a panel, a radio group with three items, a grid of
// two columns of three lines each, a styled component and a tabbed notebook.
struct TFakeTree {
  TForm1* Form;
  TTestControl* Panel;
  TTestControl* RadioGroup;
  TTestGrid* Grid;
  TTestStyled* Styled;
  TTabbedNotebook* Book;
};
inline TFakeTree BuildFakeTree() {
  TFakeTree t{};
  t.Form = New<TForm1>(nullptr);
  t.Form->SetName("Form1");
  t.Panel = New<TTestControl>(t.Form);
  t.Panel->SetName("Panel1");
  t.RadioGroup = New<TTestControl>(t.Form);
  t.RadioGroup->SetName("rgType");
  t.RadioGroup->GetItems()->SetText("a\r\nb\r\nc");
  t.Grid = New<TTestGrid>(t.Form);
  t.Grid->SetName("Grid");
  t.Styled = New<TTestStyled>(t.Form);
  t.Styled->SetName("Styled");
  t.Book = New<TTabbedNotebook>(t.Form);
  t.Book->SetName("Book");
  return t;
}

}  // namespace
