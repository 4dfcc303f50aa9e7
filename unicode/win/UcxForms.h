// Unicode forms and the application companion.
//
// TUcxForm is a form whose window is a Unicode window on the NT line, with a
// wide Caption and Hint. (The framework has no MDI forms, so neither has the
// layer.) TUcxApplication is the one companion of the framework's application
// object: it keeps the application's wide hint and wide title, runs the wide
// hint action in place of the plain one, and, on the NT line, a per-thread
// WH_GETMESSAGE hook dispatches character messages above 255 for Unicode
// windows unconverted (the framework's loop then sees WM_NULL).
// TUcxAppIdleEventControl sits on a main form that is not a TUcxForm and brings
// the framework's idle-time action updates to the companion.
#pragma once

#include <windows.h>

#include "Forms.h"
#include "UcxActnList.h"
#include "UcxControls.h"
#include "UcxMenus.h"
#include "UcxStdActns.h"

class TUcxForm : public TForm {
  FW_CLASS(TUcxForm, TForm)
 public:
  explicit TUcxForm(TComponent* owner) : TForm(owner) {}
  void DefineProperties(TFiler& filer) override;
  // The wide caption and hint are stored only when no action link supplies them.
  bool IsCaptionStored() const { return !ActionLink() || !ActionLink()->IsCaptionLinked(); }
  bool IsHintStored() const { return !ActionLink() || !ActionLink()->IsHintLinked(); }
  void Dispatch(TMessage& msg) override;
  // The framework's update, then the companion's idle step.
  void UpdateActions() override;

  WideString GetWideCaption() const {
    return WideControlGetText(const_cast<TControl*>(static_cast<const TControl*>(this)));
  }
  void SetWideCaption(const WideString& v) { WideControlSetText(this, v); }
  WideString GetWideHint() const {
    return WideControlGetHint(const_cast<TControl*>(static_cast<const TControl*>(this)));
  }
  void SetWideHint(const WideString& v) { WideControlSetHint(this, v); }
  TBasicActionLinkClass GetActionLinkClass() override;

 protected:
  // Resources are read for the classes below TUcxForm.
  const ClassInfo& InheritedResourceStop() const override;
  void CreateWindowHandle(const TCreateParams& params) override;
  void DestroyWindowHandle() override;
  void ActionChange(TObject* sender, bool checkDefaults) override;
};

class TUcxAppIdleEventControl;

class TUcxApplication : public TComponent {
  FW_CLASS(TUcxApplication, TComponent)
 public:
  // Hooks the application window.
  explicit TUcxApplication(TComponent* owner);
  // Unhooks it and frees the idle control.
  void Destroy() override;

  // The wide hint over the framework's ANSI hint (whose setter fires OnHint).
  WideString GetHint();
  void SetHint(const WideString& value);
  // The wide title: the application window's own text on the NT line; kept
  // (pending) while there is no window.
  WideString GetTitle();
  void SetTitle(const WideString& value);
  // The long part of the first wide hint of the mouse control or its parents.
  void DoIdle();
  // IsDialogMessage of the framework's dialog window accepts the message.
  bool IsDialogMessageFor(MSG& msg);

  TUcxAppIdleEventControl* IdleControl() const { return idleControl_; }
  bool MainFormInspected() const { return mainFormChecked_; }
  // The hook of the application window (WM_CREATE, CM_ACTIONEXECUTE).
  bool AppWindowHook(TMessage& msg);
  // One message the GetMessage hook saw taken from the queue.
  void HookMessage(MSG& msg);

 private:
  friend class TUcxAppIdleEventControl;
  void IdleEvent(TObject*) { DoIdle(); }
  bool mainFormChecked_ = false;
  WideString hint_;
  TUcxAppIdleEventControl* idleControl_ = nullptr;
  WideString pendingTitle_;
};

// A control that draws nothing, on the main form: its wide action's execute
// and update handlers run the companion's idle step.
class TUcxAppIdleEventControl : public TControl {
  FW_CLASS(TUcxAppIdleEventControl, TControl)
 public:
  explicit TUcxAppIdleEventControl(TComponent* owner);
  void AfterConstruction() override;
  void Destroy() override;
};

// The companion (made by InitUcxForms).
extern TUcxApplication* UcxApplication;
// The GetMessage hook's handle (null on the 9x line and before InitUcxForms).
HHOOK UcxMessageHook();

// The unit's start: the companion, and on the NT line the GetMessage hook of
// this thread (a failure raises the system's error).
void InitUcxForms();
// The unit's end: the hook is removed (a failure is logged, never raised: the
// rest of the end still runs), then the companion is freed.
void DoneUcxForms() noexcept;
