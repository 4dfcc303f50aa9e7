// A tree's option sets and the names of the clipboard formats it offers, and
// the reader of the legacy "Options" property of older forms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Filer.h"
#include "Persistent.h"
#include "Strings.h"
#include "VirtualTreeCore.h"

// Bits of the paint set.
constexpr std::uint16_t voHideFocusRect = 1u << 0, voHideSelection = 1u << 1, voHotTrack = 1u << 2,
                        voPopupMode = 1u << 3, voShowBackground = 1u << 4, voShowButtons = 1u << 5,
                        voShowDropmark = 1u << 6, voShowHorzGridLines = 1u << 7, voShowRoot = 1u << 8,
                        voShowTreeLines = 1u << 9, voShowVertGridLines = 1u << 10, voPaintThemed = 1u << 11,
                        voBlendGhosted = 1u << 12;
// Bits of the auto set.
constexpr std::uint16_t voAutoDropExpand = 1u << 0, voAutoExpand = 1u << 1, voAutoScroll = 1u << 2,
                        voAutoScrollOnExpand = 1u << 3, voAutoSort = 1u << 4, voAutoSpanColumns = 1u << 5,
                        voAutoTristateTracking = 1u << 6, voAutoDeleteMovedNodes = 1u << 8,
                        voAutoCancelEditOnClick = 1u << 9;
// Bits of the selection set.
constexpr std::uint16_t voDisableDrawSelection = 1u << 0, voExtendedFocus = 1u << 1, voFullRowSelect = 1u << 2,
                        voLevelSelectConstraint = 1u << 3, voMiddleClickSelect = 1u << 4, voMultiSelect = 1u << 5,
                        voRightClickSelect = 1u << 6, voSiblingSelectConstraint = 1u << 7,
                        voCenterScrollIntoView = 1u << 8;
// Bits of the misc set.
constexpr std::uint16_t voAcceptOLEDrop = 1u << 0, voCheckSupport = 1u << 1, voEditable = 1u << 2,
                        voFullRepaintOnResize = 1u << 3, voGridExtensions = 1u << 4, voInitOnSave = 1u << 5,
                        voReportMode = 1u << 6, voToggleOnDblClick = 1u << 7, voWheelPanning = 1u << 8;
// The animation set.
constexpr std::uint8_t voAnimatedToggle = 1u << 0;

constexpr std::uint16_t kDefaultPaintOptions = 0x1B60;
constexpr std::uint8_t kDefaultAnimationOptions = 0;
constexpr std::uint16_t kDefaultAutoOptions = 0x0149;
constexpr std::uint16_t kDefaultSelectionOptions = 0;
constexpr std::uint16_t kDefaultMiscOptions = 0x01A9;

// The five option sets of a tree. Each setter stores the set and, when it
// changed, makes the tree react (repaint, recreate its window, clear its
// selection) through the tree's host.
class TCustomVirtualTreeOptions : public TPersistent {
  FW_CLASS(TCustomVirtualTreeOptions, TPersistent)

 public:
  explicit TCustomVirtualTreeOptions(TVirtualTreeCore* owner);

  std::uint16_t PaintOptions() const { return paint_; }
  std::uint8_t AnimationOptions() const { return animation_; }
  std::uint16_t AutoOptions() const { return auto_; }
  std::uint16_t SelectionOptions() const { return selection_; }
  std::uint16_t MiscOptions() const { return misc_; }
  void SetPaintOptions(std::uint16_t value);
  void SetAnimationOptions(std::uint8_t value);
  void SetAutoOptions(std::uint16_t value);
  void SetSelectionOptions(std::uint16_t value);
  void SetMiscOptions(std::uint16_t value);
  TVirtualTreeCore* Owner() const { return owner_; }

 protected:
  // Copies the five sets into another options object through its setters.
  void AssignTo(TPersistent* destination) override;

 private:
  // Not loading and with a window.
  bool Reactive() const;
  TVirtualTreeCore* owner_;
  std::uint16_t paint_ = kDefaultPaintOptions;
  std::uint8_t animation_ = kDefaultAnimationOptions;
  std::uint16_t auto_ = kDefaultAutoOptions;
  std::uint16_t selection_ = kDefaultSelectionOptions;
  std::uint16_t misc_ = kDefaultMiscOptions;
};

// The descriptions of the clipboard formats a tree offers: sorted, without
// duplicates, and only formats registered for the tree's class or an ancestor.
class TClipboardFormats : public TStringList {
  FW_CLASS(TClipboardFormats, TStringList)

 public:
  // `treeClass`: the class of the tree that owns the list.
  explicit TClipboardFormats(const ClassInfo* treeClass);
  // The index, or -1 when no registered format of that description suits the tree.
  int Add(const std::string& name) override;
  void Insert(int index, const std::string& name) override;

 private:
  bool Suits(const std::string& name) const;
  const ClassInfo* treeClass_;
};

// The legacy option names, in their order, and where each one's bit goes.
enum class TLegacyOptionSet { Paint, Animation, Auto, Selection, Misc };
struct TLegacyOption {
  const char* Name;
  TLegacyOptionSet Set;
  int Bit;
};
constexpr int kLegacyOptionCount = 32;
extern const TLegacyOption kLegacyOptions[kLegacyOptionCount];
// The entry of a legacy name (exact, as stored), or null.
const TLegacyOption* FindLegacyOption(std::string_view name);

// Reads the stored legacy "Options" value: a set of legacy names empties all
// five sets and adds each known name's bit through its setter; unknown names
// are skipped. Any other kind of value is skipped and changes nothing.
void ReadLegacyOptions(TReader& reader, TCustomVirtualTreeOptions& options);
