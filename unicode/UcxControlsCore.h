// The portable half of the wide captions: how a stored wide value shadows the
// framework's ANSI one, the short and long parts of a hint, and the holders
// that keep the wide caption and hint of controls that have no room for them.
//
// Shadowing: a read gives the stored wide value while its ANSI form is the
// current ANSI value, else (someone changed the ANSI value behind it) the
// widened ANSI value, which is then stored. A write stores the wide value and
// pushes its ANSI form through the ANSI setter.
#pragma once

#include <functional>
#include <string>

#include "Component.h"
#include "Lists.h"
#include "Types.h"

// UTF-16 <-> ANSI; the default is the layer's conversion through the ANSI code page.
struct TAnsiConverter {
  std::string (*Narrow)(std::u16string_view text);
  WideString (*Widen)(std::string_view text);
};
const TAnsiConverter& LayerAnsiConverter();

WideString GetSyncedWideString(WideString& stored, const std::string& ansi,
                               const TAnsiConverter& conv = LayerAnsiConverter());
// Nothing happens when `value` equals the synchronised stored value. A value
// the code page cannot hold whose ANSI form is the current ANSI value first
// sets the ANSI value empty, so that the ANSI side still sees a change.
void SetSyncedWideString(const WideString& value, WideString& stored, const std::string& ansi,
                         const std::function<void(const std::string&)>& setAnsi,
                         const TAnsiConverter& conv = LayerAnsiConverter());

// The part before / after the first "|"; the whole text without one.
WideString WideGetShortHint(const WideString& hint);
WideString WideGetLongHint(const WideString& hint);

// The wide caption and hint of one control, in the holder list. A holder
// frees itself (and leaves the list) when its control is freed.
class TWideCaptionHolder : public TComponent {
  FW_CLASS(TWideCaptionHolder, TComponent)
 public:
  explicit TWideCaptionHolder(TComponent* control);
  void Destroy() override;
  TComponent* Control() const { return control_; }
  WideString Caption;
  WideString Hint;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TComponent* control_;
};

// The holder list is sorted by control address: found or not, and the index
// of the holder or where one would go.
bool FindWideCaptionHolderIndex(const TComponent* control, int& index);
// The control's holder; without one, a new one when `create` is set, else null.
TWideCaptionHolder* FindWideCaptionHolder(TComponent* control, bool create);
const TList& WideCaptionHolders();
// Frees every holder (the layer's finalization); never raises.
void FreeWideCaptionHolders() noexcept;
