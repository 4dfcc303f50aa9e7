// The icon list: its entries and their changes, and the "Icons" property
// through the form writer and reader.
#include "IcoListWin.h"

#include <gtest/gtest.h>

#include <string>

#include "ByteWriter.h"
#include "ClipIcon.h"
#include "Exceptions.h"
#include "Filer.h"
#include "PictureRegistry.h"
#include "Strings.h"

namespace {

// A 32-bit icon file of `size` x `size` pixels of one colour.
std::string IconFile(std::uint8_t size, std::uint32_t bgra) {
  std::string s;
  ByteWriter w(s);
  const std::uint32_t maskRow = (size + 31u) / 32u * 4u;
  const std::uint32_t imageSize = 40u + 4u * size * size + maskRow * size;
  w.U16LE(0);
  w.U16LE(1);
  w.U16LE(1);
  w.U8(size);
  w.U8(size);
  w.U8(0);
  w.U8(0);
  w.U16LE(1);
  w.U16LE(32);
  w.U32LE(imageSize);
  w.U32LE(22);
  w.U32LE(40);
  w.U32LE(std::uint32_t{size});
  w.U32LE(2u * size);
  w.U16LE(1);
  w.U16LE(32);
  for (int i = 0; i < 6; ++i) w.U32LE(0);
  for (int i = 0; i < size * size; ++i) w.U32LE(bgra);
  s.append(maskRow * size, '\0');
  return s;
}

TOwned<TIcon> LoadedIcon(const std::string& file) {
  TOwned<TIcon> icon(New<TIcon>());
  TOwned<TStringStream> s(New<TStringStream>(file));
  icon->LoadFromStream(*s);
  return icon;
}

std::string Saved(TIcon* icon) {
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  icon->SaveToStream(*s);
  return s->DataString();
}

// Counts the list's change reports.
struct TChangeCounter {
  int calls = 0;
  TObject* sender = nullptr;
  void Changed(TObject* s) {
    ++calls;
    sender = s;
  }
};

class TIconHolder : public TComponent {
  FW_CLASS(TIconHolder, TComponent)
 public:
  explicit TIconHolder(TComponent* owner) : TComponent(owner) { Icons = New<TIconList>(); }
  void Destroy() override {
    Icons->Free();
    inherited::Destroy();
  }
  TIconList* GetIcons() const { return Icons; }
  TIconList* Icons = nullptr;
};

FW_BEGIN_CLASS(TIconHolder)
  FW_PROP_RO(Icons, GetIcons)
FW_END_CLASS

// Records which binary properties a writer would write.
class TRecordingFiler : public TFiler {
  FW_CLASS(TRecordingFiler, TFiler)
 public:
  explicit TRecordingFiler(TStream& stream) : TFiler(stream) {}
  void DefineProperty(const std::string&, const ReaderProc&, const WriterProc&, bool) override {}
  void DefineBinaryProperty(const std::string& name, const StreamProc&, const StreamProc&, bool hasData) override {
    if (hasData) written += name;
  }
  std::string written;
};
FW_IMPLEMENT_CLASS(TRecordingFiler)

std::string WrittenForm(TIconHolder* holder) {
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  TWriter* w = New<TWriter>(*s);
  w->WriteRootComponent(holder);
  w->Free();
  return s->DataString();
}

TEST(IconList, IconsPropertyRoundTripsThroughFormData) {
  const std::string small = IconFile(16, 0xFF0000FF), large = IconFile(32, 0xFF00FF00);
  TOwned<TIconHolder> holder(New<TIconHolder>(nullptr));
  holder->SetName("Holder");
  EXPECT_EQ(WrittenForm(holder.get()).find("Icons"), std::string::npos) << "an empty list is not written";

  TOwned<TIcon> a = LoadedIcon(small), b = LoadedIcon(large);
  holder->Icons->AppendIcon(a.get());
  holder->Icons->SetIconAt(1, b.get());
  holder->Icons->InsertIcon(1, nullptr);
  holder->Icons->RemoveIcon(1);
  holder->Icons->InsertIcon(1, b.get());
  holder->Icons->SetIconAt(1, nullptr);  // the entry empties: written as absent
  ASSERT_EQ(holder->Icons->IconCount(), 3);
  const std::string form = WrittenForm(holder.get());
  EXPECT_NE(form.find("Icons"), std::string::npos);

  TOwned<TStringStream> in(New<TStringStream>(form));
  TOwned<TIconHolder> copy(New<TIconHolder>(nullptr));
  TChangeCounter changes;
  copy->Icons->OnListChange = TNotifyEvent::Bind<&TChangeCounter::Changed>(&changes);
  TReader* r = New<TReader>(*in);
  r->ReadRootComponent(copy.get());
  r->Free();
  EXPECT_EQ(changes.calls, 1) << "a load reports once";
  TIconList* icons = copy->Icons;
  ASSERT_EQ(icons->IconCount(), 3);
  ASSERT_NE(icons->IconAt(0), nullptr);
  EXPECT_EQ(icons->IconAt(1), nullptr) << "the empty icon comes back absent";
  ASSERT_NE(icons->IconAt(2), nullptr);
  EXPECT_EQ(icons->IconAt(0)->GetWidth(), 16);
  EXPECT_EQ(icons->IconAt(2)->GetWidth(), 32);
  EXPECT_EQ(Saved(icons->IconAt(0)), small);
  EXPECT_EQ(Saved(icons->IconAt(2)), large);
}

TEST(IconList, ChangesInsideOneUpdateReportOnce) {
  TOwned<TIconList> list(New<TIconList>());
  TChangeCounter changes;
  list->OnListChange = TNotifyEvent::Bind<&TChangeCounter::Changed>(&changes);
  TOwned<TIcon> icon = LoadedIcon(IconFile(16, 0xFFFFFFFF));
  list->LockUpdates();
  for (int i = 0; i < 4; ++i) list->AppendIcon(icon.get());
  list->SwapIcons(0, 3);
  list->MoveIcon(1, 2);
  list->InsertIcon(0, nullptr);
  list->SetIconAt(0, icon.get());
  list->RemoveIcon(4);
  list->IconAt(1)->SetHandle(nullptr);  // a held icon's change is the list's
  EXPECT_EQ(changes.calls, 0);
  list->UnlockUpdates();
  EXPECT_EQ(changes.calls, 1);
  EXPECT_EQ(changes.sender, list.get());
  list->UnlockUpdates();  // an extra unlock reports nothing and breaks nothing
  EXPECT_EQ(changes.calls, 1);

  // Outside an update every change reports.
  changes.calls = 0;
  list->AppendIcon(icon.get());
  list->IconAt(0)->Assign(icon.get());
  list->RemoveAll();
  EXPECT_EQ(changes.calls, 3);
  EXPECT_EQ(list->IconCount(), 0);
}

TEST(IconList, EntriesAndAssignment) {
  TOwned<TIcon> a = LoadedIcon(IconFile(16, 0xFF112233)), b = LoadedIcon(IconFile(32, 0xFF445566));
  TOwned<TIconList> list(New<TIconList>());
  EXPECT_EQ(list->AppendIcon(a.get()), 0);
  EXPECT_EQ(list->AppendIcon(b.get()), 1);
  EXPECT_NE(list->IconAt(0), a.get()) << "the list holds copies";
  EXPECT_EQ(list->FindIcon(list->IconAt(1)), 1);
  EXPECT_EQ(list->FindIcon(a.get()), -1);
  list->SwapIcons(0, 1);
  EXPECT_EQ(list->IconAt(0)->GetWidth(), 32);
  list->MoveIcon(0, 1);
  EXPECT_EQ(list->IconAt(0)->GetWidth(), 16);
  for (int bad : {-1, 2}) EXPECT_THROW(list->IconAt(bad), EListError);
  EXPECT_THROW(list->SetIconAt(3, a.get()), EListError);
  EXPECT_THROW(list->InsertIcon(3, a.get()), EListError);
  EXPECT_EQ(list->AppendResourceIcon(nullptr, IDI_APPLICATION), 2);
  EXPECT_FALSE(list->IconAt(2)->Empty()) << "a system icon by resource name";
  list->InsertResourceIcon(0, nullptr, IDI_ERROR);
  EXPECT_EQ(list->IconCount(), 4);
  {
    // Icons made from handles stream too.
    TOwned<TMemoryStream> s(New<TMemoryStream>());
    list->WriteIcons(*s);
    s->SetPosition(0);
    TOwned<TIconList> read(New<TIconList>());
    read->ReadIcons(*s);
    ASSERT_EQ(read->IconCount(), 4);
    for (int i = 0; i < 4; ++i) {
      ASSERT_NE(read->IconAt(i), nullptr);
      EXPECT_EQ(read->IconAt(i)->GetWidth(), list->IconAt(i)->GetWidth());
    }
  }

  // Another list: its entries copied, an absent one as an empty icon.
  TOwned<TIconList> other(New<TIconList>());
  other->AppendIcon(b.get());
  TOwned<TStringStream> layout(New<TStringStream>(std::string("\2\0\0\0\0\0\0\0", 8) + [&] {
    std::string f = IconFile(16, 0xFF000000);
    std::string s;
    ByteWriter(s).U32LE(static_cast<std::uint32_t>(f.size()));
    return s + f;
  }()));
  other->ReadIcons(*layout);
  ASSERT_EQ(other->IconCount(), 2);
  ASSERT_EQ(other->IconAt(0), nullptr);
  TChangeCounter changes;
  list->OnListChange = TNotifyEvent::Bind<&TChangeCounter::Changed>(&changes);
  list->Assign(other.get());
  EXPECT_EQ(changes.calls, 1);
  ASSERT_EQ(list->IconCount(), 2);
  ASSERT_NE(list->IconAt(0), nullptr);
  EXPECT_TRUE(list->IconAt(0)->Empty());
  EXPECT_EQ(list->IconAt(1)->GetWidth(), 16);
  list->Assign(list.get());
  EXPECT_EQ(list->IconCount(), 2) << "a list assigned to itself stays";
  list->Assign(a.get());
  ASSERT_EQ(list->IconCount(), 1);
  EXPECT_EQ(list->IconAt(0)->GetWidth(), 16);
  list->Assign(nullptr);
  EXPECT_EQ(list->IconCount(), 0);
  TOwned<TStringList> strings(New<TStringList>());
  EXPECT_THROW(list->Assign(strings.get()), EConvertError);
}

TEST(IconList, DamagedIconsDataKeepsWhatWasRead) {
  const std::string good = IconFile(16, 0xFF0000FF);
  std::string bytes;
  ByteWriter w(bytes);
  w.U32LE(3);
  w.U32LE(static_cast<std::uint32_t>(good.size()));
  bytes += good;
  w.U32LE(10);
  bytes += "not an ico";
  w.U32LE(0);
  TOwned<TIconList> list(New<TIconList>());
  TChangeCounter changes;
  list->OnListChange = TNotifyEvent::Bind<&TChangeCounter::Changed>(&changes);
  TOwned<TStringStream> s(New<TStringStream>(bytes));
  EXPECT_THROW(list->ReadIcons(*s), EInvalidGraphic);
  EXPECT_EQ(list->IconCount(), 1) << "the entry before the damaged one stays";
  EXPECT_EQ(changes.calls, 1);
  list->RemoveIcon(0);
  EXPECT_EQ(changes.calls, 2) << "the update count came back to 0";

  // A size beyond the data is refused before it is read.
  std::string cut;
  ByteWriter(cut).U32LE(1);
  ByteWriter(cut).U32LE(1u << 30);
  TOwned<TStringStream> c(New<TStringStream>(cut));
  EXPECT_THROW(list->ReadIcons(*c), EReadError);
  EXPECT_EQ(list->IconCount(), 0);
}

TEST(IconList, IconsHaveAClipboardFormatOfTheirOwn) {
  InitClipIcon();
  const std::uint32_t format = IconClipboardFormat();
  ASSERT_NE(format, 0u);
  EXPECT_EQ(format, RegisterClipboardFormatA("Lunder Icon"));
  EXPECT_EQ(FindGraphicClassForClipboardFormat(format), &TIcon::StaticClass());
  InitClipIcon();
  EXPECT_EQ(IconClipboardFormat(), format);
}

TEST(IconList, IconsAreWrittenAgainstAnAncestorOnlyWhereTheyDiffer) {
  TOwned<TIcon> a = LoadedIcon(IconFile(16, 0xFF0000FF)), b = LoadedIcon(IconFile(32, 0xFF00FF00));
  auto list = [](std::initializer_list<TIcon*> icons) {
    TOwned<TIconList> l(New<TIconList>());
    for (TIcon* i : icons) l->AppendIcon(i);
    return l;
  };
  // Each list holds copies of its icons, so only a list and itself share entries.
  TOwned<TIconList> two = list({a.get(), b.get()}), otherTwo = list({a.get(), b.get()});
  TOwned<TIconList> one = list({a.get()}), empty = list({});
  TOwned<TMemoryStream> s(New<TMemoryStream>());
  const struct {
    const char* name;
    TIconList* list;
    TPersistent* ancestor;
    bool written;
  } cases[] = {
      {"no ancestor", two.get(), nullptr, true},
      {"the ancestor's own entries", two.get(), two.get(), false},
      {"entries that differ from the ancestor's", two.get(), otherTwo.get(), true},
      {"an ancestor of another count", two.get(), one.get(), true},
      {"an empty ancestor", one.get(), empty.get(), true},
      {"an ancestor that is no icon list", one.get(), a.get(), true},
      {"an empty list against a full ancestor", empty.get(), two.get(), false},
      {"an empty list without ancestor", empty.get(), nullptr, false},
  };
  for (const auto& c : cases) {
    TOwned<TRecordingFiler> f(New<TRecordingFiler>(*s));
    f->Ancestor = c.ancestor;
    c.list->DefineProperties(*f);
    EXPECT_EQ(f->written == "Icons", c.written) << c.name;
  }
}

}  // namespace
