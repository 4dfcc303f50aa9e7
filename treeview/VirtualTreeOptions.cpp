#include "VirtualTreeOptions.h"

#include "VirtualTrees.h"

FW_IMPLEMENT_CLASS(TCustomVirtualTreeOptions)
FW_IMPLEMENT_CLASS(TClipboardFormats)

TCustomVirtualTreeOptions::TCustomVirtualTreeOptions(TVirtualTreeCore* owner) : owner_(owner) {
  if (owner_) {
    owner_->OptionBits = {paint_, animation_, auto_, selection_, misc_};
    owner_->SetAutoTriStateTracking(auto_ & voAutoTristateTracking);
    owner_->SetMultiSelect(selection_ & voMultiSelect);
    owner_->SetLevelSelectConstraint(selection_ & voLevelSelectConstraint);
    owner_->SetSiblingSelectConstraint(selection_ & voSiblingSelectConstraint);
  }
}

bool TCustomVirtualTreeOptions::Reactive() const {
  TVirtualTreeHost* host = owner_ ? owner_->Host() : nullptr;
  return host && !host->Loading() && host->HandleAllocated();
}

void TCustomVirtualTreeOptions::SetPaintOptions(std::uint16_t value) {
  if (value == paint_) return;
  const std::uint16_t changed = value ^ paint_;
  paint_ = value;
  if (owner_) owner_->OptionBits.Paint = value;
  if (!Reactive()) return;
  if (changed & voPaintThemed) owner_->Host()->ThemeChanged();
  if (changed & ~voPaintThemed) owner_->Host()->Invalidate();
}

void TCustomVirtualTreeOptions::SetAnimationOptions(std::uint8_t value) {
  animation_ = value;
  if (owner_) owner_->OptionBits.Animation = value;
}

void TCustomVirtualTreeOptions::SetAutoOptions(std::uint16_t value) {
  if (value == auto_) return;
  const std::uint16_t changed = value ^ auto_;
  auto_ = value;
  if (owner_) owner_->OptionBits.Auto = value;
  if (owner_) owner_->SetAutoTriStateTracking(auto_ & voAutoTristateTracking);
  if ((changed & voAutoSpanColumns) && Reactive()) owner_->Host()->Invalidate();
}

void TCustomVirtualTreeOptions::SetSelectionOptions(std::uint16_t value) {
  if (value == selection_) return;
  const std::uint16_t changed = value ^ selection_;
  const std::uint16_t added = value & ~selection_;
  selection_ = value;
  if (owner_) owner_->OptionBits.Selection = value;
  if (!owner_) return;
  owner_->SetMultiSelect(value & voMultiSelect);
  owner_->SetLevelSelectConstraint(value & voLevelSelectConstraint);
  owner_->SetSiblingSelectConstraint(value & voSiblingSelectConstraint);
  if ((changed & voMultiSelect) || (added & (voLevelSelectConstraint | voSiblingSelectConstraint))) {
    owner_->DropAllSelected();
    if (owner_->Host()) owner_->Host()->Invalidate();
  }
  // Without extended focus only the main column takes the focus.
  if (!(value & voExtendedFocus) && owner_->FocusedColumn() != owner_->MainColumn()) {
    const bool beyond = owner_->FocusedColumn() > 0;
    owner_->SetFocusedColumnRaw(owner_->MainColumn());
    if (beyond && (changed & voExtendedFocus) && owner_->Host() && owner_->Host()->HandleAllocated())
      owner_->Host()->Invalidate();
  }
}

void TCustomVirtualTreeOptions::SetMiscOptions(std::uint16_t value) {
  if (value == misc_) return;
  const std::uint16_t changed = value ^ misc_;
  misc_ = value;
  if (owner_) owner_->OptionBits.Misc = value;
  if (!Reactive()) return;
  TVirtualTreeHost* host = owner_->Host();
  if (changed & voCheckSupport) host->Invalidate();
  if ((changed & voFullRepaintOnResize) && !host->Designing()) host->RecreateWindow();
  if (changed & voAcceptOLEDrop) host->SetDropTargetRegistered(value & voAcceptOLEDrop);
}

void TCustomVirtualTreeOptions::AssignTo(TPersistent* destination) {
  if (auto* target = dynamic_cast<TCustomVirtualTreeOptions*>(destination)) {
    target->SetPaintOptions(paint_);
    target->SetAnimationOptions(animation_);
    target->SetAutoOptions(auto_);
    target->SetSelectionOptions(selection_);
    target->SetMiscOptions(misc_);
    return;
  }
  inherited::AssignTo(destination);
}

// --- Clipboard formats -----------------------------------------------------------------------------

TClipboardFormats::TClipboardFormats(const ClassInfo* treeClass) : treeClass_(treeClass) {
  SetSorted(true);
  Duplicates = dupIgnore;
}

bool TClipboardFormats::Suits(const std::string& name) const {
  TClipboardFormatList* formats = ClipboardFormats();
  if (!formats || !treeClass_) return false;
  const TClipboardFormatEntry* entry = formats->FindByDescription(name);
  return entry && entry->TreeClass && treeClass_->InheritsFrom(*entry->TreeClass);
}

int TClipboardFormats::Add(const std::string& name) {
  return Suits(name) ? inherited::Add(name) : -1;
}

void TClipboardFormats::Insert(int index, const std::string& name) {
  if (Suits(name)) inherited::Insert(index, name);
}

// --- Legacy options --------------------------------------------------------------------------------

const TLegacyOption kLegacyOptions[kLegacyOptionCount] = {
    {"voAcceptOLEDrop", TLegacyOptionSet::Misc, 0},
    {"voAnimatedToggle", TLegacyOptionSet::Animation, 0},
    {"voAutoDropExpand", TLegacyOptionSet::Auto, 0},
    {"voAutoExpand", TLegacyOptionSet::Auto, 1},
    {"voAutoScroll", TLegacyOptionSet::Auto, 2},
    {"voAutoSort", TLegacyOptionSet::Auto, 4},
    {"voAutoSpanColumns", TLegacyOptionSet::Auto, 5},
    {"voAutoTristateTracking", TLegacyOptionSet::Auto, 6},
    {"voCheckSupport", TLegacyOptionSet::Misc, 1},
    {"voDisableDrawSelection", TLegacyOptionSet::Selection, 0},
    {"voEditable", TLegacyOptionSet::Misc, 2},
    {"voExtendedFocus", TLegacyOptionSet::Selection, 1},
    {"voFullRowSelect", TLegacyOptionSet::Selection, 2},
    {"voGridExtensions", TLegacyOptionSet::Misc, 4},
    {"voHideFocusRect", TLegacyOptionSet::Paint, 0},
    {"voHideSelection", TLegacyOptionSet::Paint, 1},
    {"voHotTrack", TLegacyOptionSet::Paint, 2},
    {"voInitOnSave", TLegacyOptionSet::Misc, 5},
    {"voLevelSelectConstraint", TLegacyOptionSet::Selection, 3},
    {"voMiddleClickSelect", TLegacyOptionSet::Selection, 4},
    {"voMultiSelect", TLegacyOptionSet::Selection, 5},
    {"voRightClickSelect", TLegacyOptionSet::Selection, 6},
    {"voPopupMode", TLegacyOptionSet::Paint, 3},
    {"voShowBackground", TLegacyOptionSet::Paint, 4},
    {"voShowButtons", TLegacyOptionSet::Paint, 5},
    {"voShowDropmark", TLegacyOptionSet::Paint, 6},
    {"voShowHorzGridLines", TLegacyOptionSet::Paint, 7},
    {"voShowRoot", TLegacyOptionSet::Paint, 8},
    {"voShowTreeLines", TLegacyOptionSet::Paint, 9},
    {"voShowVertGridLines", TLegacyOptionSet::Paint, 10},
    {"voSiblingSelectConstraint", TLegacyOptionSet::Selection, 7},
    {"voToggleOnDblClick", TLegacyOptionSet::Misc, 7},
};

const TLegacyOption* FindLegacyOption(std::string_view name) {
  for (const TLegacyOption& option : kLegacyOptions) {
    if (name == option.Name) return &option;
  }
  return nullptr;
}

void ReadLegacyOptions(TReader& reader, TCustomVirtualTreeOptions& options) {
  // Wheel panning belongs to the mouse handling; nothing runs it yet.
  if (reader.NextValue() != vaSet) {
    reader.SkipValue();
    return;
  }
  reader.ReadValue();
  options.SetPaintOptions(0);
  options.SetAnimationOptions(0);
  options.SetAutoOptions(0);
  options.SetSelectionOptions(0);
  options.SetMiscOptions(0);
  for (;;) {
    const std::string name = reader.ReadStr();
    if (name.empty()) break;
    const TLegacyOption* option = FindLegacyOption(name);
    if (!option) continue;
    const std::uint16_t bit = std::uint16_t(1u << option->Bit);
    switch (option->Set) {
      case TLegacyOptionSet::Paint:
        options.SetPaintOptions(options.PaintOptions() | bit);
        break;
      case TLegacyOptionSet::Animation:
        options.SetAnimationOptions(std::uint8_t(options.AnimationOptions() | bit));
        break;
      case TLegacyOptionSet::Auto:
        options.SetAutoOptions(options.AutoOptions() | bit);
        break;
      case TLegacyOptionSet::Selection:
        options.SetSelectionOptions(options.SelectionOptions() | bit);
        break;
      case TLegacyOptionSet::Misc:
        options.SetMiscOptions(options.MiscOptions() | bit);
        break;
    }
  }
}
