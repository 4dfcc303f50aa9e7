// The option sets with their defaults and reactions, the per-tree clipboard
// format names and the legacy "Options" reader.
#include <gtest/gtest.h>

#include "Component.h"
#include "ObjectConvert.h"
#include "Streams.h"
#include "TreeTestSupport.h"
#include "VirtualTreeOptions.h"

namespace {

// A component that reads the legacy property into its own options.
class TLegacyHolder : public TComponent {
  FW_CLASS(TLegacyHolder, TComponent)

 public:
  explicit TLegacyHolder(TComponent* owner) : TComponent(owner) {}
  void DefineProperties(TFiler& filer) override {
    inherited::DefineProperties(filer);
    filer.DefineProperty(
        "Options", [this](TReader& r) { ReadLegacyOptions(r, options); }, nullptr, false);
  }
  RecordingTree tree;
  TCustomVirtualTreeOptions options{&tree};
};

class TFormatTree : public TObject {
  FW_CLASS(TFormatTree, TObject)
};
class TFormatStringTree : public TFormatTree {
  FW_CLASS(TFormatStringTree, TFormatTree)
};

}  // namespace

FW_IMPLEMENT_CLASS(TLegacyHolder)
FW_IMPLEMENT_CLASS(TFormatTree)
FW_IMPLEMENT_CLASS(TFormatStringTree)

namespace {

TEST(TreeOptions, DefaultsMatchTheirBits) {
  RecordingTree tree;
  TCustomVirtualTreeOptions options(&tree);
  EXPECT_EQ(options.PaintOptions(),
            voShowButtons | voShowDropmark | voShowRoot | voShowTreeLines | voPaintThemed | voBlendGhosted);
  EXPECT_EQ(options.AnimationOptions(), 0);
  EXPECT_EQ(options.AutoOptions(), voAutoDropExpand | voAutoScrollOnExpand | voAutoTristateTracking | 0x0100);
  EXPECT_EQ(options.SelectionOptions(), 0);
  EXPECT_EQ(options.MiscOptions(),
            voAcceptOLEDrop | voFullRepaintOnResize | voInitOnSave | voToggleOnDblClick | voWheelPanning);
  EXPECT_TRUE(tree.AutoTriStateTracking());
  EXPECT_FALSE(tree.MultiSelect());
}

TEST(TreeOptions, SettersReactOnlyToChangesOfAWindowedTree) {
  struct Case {
    const char* what;
    int set;  // 0 paint, 1 auto, 2 misc
    std::uint16_t toggle;
    bool handle, loading;
    int invalidations, recreations, themeChanges;
  };
  const Case cases[] = {
      {"paint: theme bit", 0, voPaintThemed, true, false, 0, 0, 1},
      {"paint: other bit", 0, voHotTrack, true, false, 1, 0, 0},
      {"paint: while loading", 0, voHotTrack, true, true, 0, 0, 0},
      {"paint: no window", 0, voHotTrack, false, false, 0, 0, 0},
      {"auto: span columns", 1, voAutoSpanColumns, true, false, 1, 0, 0},
      {"auto: other bit", 1, voAutoSort, true, false, 0, 0, 0},
      {"misc: check support", 2, voCheckSupport, true, false, 1, 0, 0},
      {"misc: repaint on resize", 2, voFullRepaintOnResize, true, false, 0, 1, 0},
      {"misc: editable", 2, voEditable, true, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingHost host;
    RecordingTree tree(nullptr, &host);
    TCustomVirtualTreeOptions options(&tree);
    host.handle = c.handle;
    host.loading = c.loading;
    host.invalidations = 0;
    switch (c.set) {
      case 0:
        options.SetPaintOptions(options.PaintOptions() ^ c.toggle);
        options.SetPaintOptions(options.PaintOptions());  // unchanged: nothing
        break;
      case 1:
        options.SetAutoOptions(options.AutoOptions() ^ c.toggle);
        break;
      default:
        options.SetMiscOptions(options.MiscOptions() ^ c.toggle);
        break;
    }
    EXPECT_EQ(host.invalidations, c.invalidations);
    EXPECT_EQ(host.recreations, c.recreations);
    EXPECT_EQ(host.themeChanges, c.themeChanges);
  }
}

TEST(TreeOptions, SelectionChangesClearTheSelectionAndReachTheTree) {
  RecordingTree tree;
  TCustomVirtualTreeOptions options(&tree);
  tree.SetRootChildCount(4);
  options.SetSelectionOptions(voMultiSelect);
  EXPECT_TRUE(tree.MultiSelect());
  tree.AddOneToSelection(tree.FirstNodeRaw(), false);
  options.SetSelectionOptions(voMultiSelect | voFullRowSelect);  // no clearing bit
  EXPECT_EQ(tree.Selection().size(), 1u);
  options.SetSelectionOptions(voMultiSelect | voLevelSelectConstraint);  // newly constrained
  EXPECT_TRUE(tree.Selection().empty());
  EXPECT_TRUE(tree.LevelSelectConstraint());
  tree.AddOneToSelection(tree.FirstNodeRaw(), false);
  options.SetSelectionOptions(voLevelSelectConstraint);  // multi-select off
  EXPECT_TRUE(tree.Selection().empty());
  options.SetAutoOptions(0);
  EXPECT_FALSE(tree.AutoTriStateTracking());
  // Copying goes through the target's setters.
  RecordingTree other;
  TCustomVirtualTreeOptions copy(&other);
  copy.Assign(&options);
  EXPECT_EQ(copy.SelectionOptions(), voLevelSelectConstraint);
  EXPECT_TRUE(other.LevelSelectConstraint());
  CheckTreeInvariants(tree);
}

// Reads a form text into a new holder.
TOwned<TLegacyHolder> ReadHolder(const std::string& text) {
  const std::string binary = ObjectTextToBinary(text);
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(binary.data(), binary.size()));
  TOwned<TReader> reader(New<TReader>(*in));
  TOwned<TLegacyHolder> holder(New<TLegacyHolder>(nullptr));
  reader->ReadRootComponent(holder.get());
  return holder;
}

TEST(TreeOptions, LegacyNamesMapToTheirSetsAndBits) {
  for (int i = 0; i < kLegacyOptionCount; ++i) EXPECT_EQ(FindLegacyOption(kLegacyOptions[i].Name), &kLegacyOptions[i]);
  EXPECT_EQ(FindLegacyOption("voNothing"), nullptr);

  RegisterClasses({&TLegacyHolder::StaticClass()});
  TOwned<TLegacyHolder> holder = ReadHolder(
      "object Holder: TLegacyHolder\n"
      "  Options = [voAcceptOLEDrop, voAnimatedToggle, voAutoTristateTracking, voMultiSelect, voNotKnown, "
      "voShowRoot, voShowVertGridLines, voSiblingSelectConstraint, voToggleOnDblClick]\n"
      "end\n");
  const TCustomVirtualTreeOptions& o = holder->options;
  EXPECT_EQ(o.PaintOptions(), voShowRoot | voShowVertGridLines);
  EXPECT_EQ(o.AnimationOptions(), voAnimatedToggle);
  EXPECT_EQ(o.AutoOptions(), voAutoTristateTracking);
  EXPECT_EQ(o.SelectionOptions(), voMultiSelect | voSiblingSelectConstraint);
  EXPECT_EQ(o.MiscOptions(), voAcceptOLEDrop | voToggleOnDblClick);

  // A value that is no set changes nothing and the rest of the form still reads.
  TOwned<TLegacyHolder> fresh = ReadHolder(
      "object Holder: TLegacyHolder\n"
      "  Options = 5\n"
      "  Tag = 7\n"
      "end\n");
  EXPECT_EQ(fresh->options.PaintOptions(), kDefaultPaintOptions);
  EXPECT_EQ(fresh->Tag, 7);
}

TEST(TreeOptions, ClipboardFormatNamesMustSuitTheTreeClass) {
  CreateClipboardFormats();
  ClipboardFormats()->Add("Virtual Tree Data", &TFormatTree::StaticClass(), 50, TFormatEtc{});
  ClipboardFormats()->Add("CSV", &TFormatStringTree::StaticClass(), 90, TFormatEtc{});
  {
    TOwned<TClipboardFormats> base(New<TClipboardFormats>(&TFormatTree::StaticClass()));
    EXPECT_EQ(base->Add("CSV"), -1);
    EXPECT_EQ(base->Add("Unknown"), -1);
    EXPECT_EQ(base->Add("Virtual Tree Data"), 0);
    TOwned<TClipboardFormats> strings(New<TClipboardFormats>(&TFormatStringTree::StaticClass()));
    strings->Add("Virtual Tree Data");
    strings->Add("csv");
    strings->Add("Virtual Tree Data");  // duplicates are ignored
    strings->Insert(0, "Nope");
    ASSERT_EQ(strings->Count(), 2);
    EXPECT_EQ(strings->Get(0), "csv");
  }
  FreeClipboardFormats();
}

}  // namespace
