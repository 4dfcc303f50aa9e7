// Forms, the application and the screen.
//
// Application (TApplication) owns the hidden "TApplication" window made by the
// platform layer, runs the message loop, routes every exception caught at a
// callback boundary to HandleException, and answers help requests. Screen
// (TScreen) keeps the list of forms, the active form and the cursor forced
// over the whole program. Both are created by InitForms (the framework's forms
// unit initialization, after InitWin32Platform) and freed by DoneForms.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "Controls.h"

class TCustomForm;
class TMainMenu;

FW_ENUM(TCloseAction, caNone, caHide, caFree, caMinimize);
FW_ENUM(TFormBorderStyle, bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin);
FW_ENUM(TPosition, poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter,
        poMainFormCenter, poOwnerFormCenter);
FW_ENUM(TBorderIcon, biSystemMenu, biMinimize, biMaximize, biHelp);
using TBorderIcons = Set<TBorderIcon>;
FW_ENUM(TWindowState, wsNormal, wsMinimized, wsMaximized);
FW_ENUM(TFormStateItem, fsCreating, fsVisible, fsShowing, fsModal, fsCreatedMDIChild, fsActivated);
using TFormState = Set<TFormStateItem>;

// The result of a modal form: set by a button's ModalResult or the form's own.
using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
                       mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

using TCloseEvent = Method<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = Method<void(TObject* sender, bool& canClose)>;
using TExceptionEvent = Method<void(TObject* sender, const Exception& e)>;
using TMessageEvent = Method<void(MSG& msg, bool& handled)>;
// A hook on the application window: true when it handled the message (msg.Result is the answer).
using TWindowHook = Method<bool(TMessage& msg)>;

// Reads the form resources of `instance`'s classes below `stopClass`, from
// the top one down: RCDATA named by the upper-case class name, in the
// resource module of the module that defines the class. False when none was found.
bool InitInheritedComponent(TComponent* instance, const ClassInfo& stopClass);
// The next form constructed on this thread skips its form resource.
void SkipNextFormResource();

class TCustomForm : public TWinControl {
  FW_CLASS(TCustomForm, TWinControl)
 public:
  // A form class below TForm is read from its form resource in
  // AfterConstruction (EResNotFound "Resource %s not found" when it has
  // none), then OnCreate fires. CreateNew makes one without its resource.
  explicit TCustomForm(TComponent* owner);
  template <class T>
  static T* CreateNew(TComponent* owner) {
    SkipNextFormResource();
    return New<T>(owner);
  }
  void AfterConstruction() override;
  void BeforeDestruction() override;
  void Destroy() override;

  TFormBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle v);
  TBorderIcons GetBorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TBorderIcons v);
  TPosition GetPosition() const { return position_; }
  void SetPosition(TPosition v) { position_ = v; }
  TWindowState GetWindowState() const;
  void SetWindowState(TWindowState v);
  // Settings form files carry, kept as read: the form is not rescaled for
  // another PixelsPerInch, and OnCreate always fires after the form is read.
  bool KeyPreview = false;
  bool Scaled = true;
  bool OldCreateOrder = false;
  int GetPixelsPerInch() const { return pixelsPerInch_; }
  void SetPixelsPerInch(int v) { pixelsPerInch_ = v; }
  int TextHeight = 13;
  int GetClientWidth() const { return ClientWidth(); }
  void SetClientWidth(int v);
  int GetClientHeight() const { return ClientHeight(); }
  void SetClientHeight(int v);
  std::string GetHelpFile() const { return helpFile_; }
  void SetHelpFile(const std::string& v) { helpFile_ = v; }
  TFormState FormState;

  bool Active() const;
  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* control);

  // The close protocol: OnCloseQuery may refuse; OnClose picks the action
  // (hide; free; or, for the main form, end the application).
  void Close();
  virtual bool CloseQuery();
  void Release();  // frees the form once the messages under way are handled
  void Show();
  // Shows the form modal: the program's other windows are disabled and
  // messages (and synchronous calls from threads) are handled until
  // ModalResult is set (a button's ModalResult, Close: mrCancel) and the
  // close protocol agrees; then the form hides (OnClose may free it, caFree)
  // and the result is returned. The application ending ends it with mrCancel.
  TModalResult ShowModal();
  TModalResult GetModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult v) { modalResult_ = v; }

  // The menu bar (a main menu the form owns or refers to).
  TMainMenu* GetMenu() const { return menu_; }
  void SetMenu(TMainMenu* value);

  // The idle-time update of the actions of the form's visible controls (the
  // form first, then its controls, depth first).
  virtual void UpdateActions();

  // Focus moves to the next (or previous) tab stop.
  void SelectNext(bool forward);
  // bdRightToLeft gives the window the right-to-left reading and layout style.
  void SetBiDiMode(TBiDiMode v) override;

  TNotifyEvent OnCreate, OnShow, OnDestroy;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  void Dispatch(TMessage& msg) override;
  // Without a window: the bounds less the frame the form's window will have.
  RECT ClientRect() const override;
  // For writing: the child controls, then the owned components that have no parent.
  void GetChildren(const Method<void(TComponent*)>& proc, TComponent* root) override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWnd() override;
  // A form keeps its position: its children, client size and font are scaled.
  void ChangeScale(int multiplier, int divisor) override;
  virtual void DoCreate();
  virtual void DoClose(TCloseAction& action);
  // The class at which the search for the form's resources stops (its own
  // resources and those of the classes between are read): TForm.
  virtual const ClassInfo& InheritedResourceStop() const;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void CloseModal();
  // CM_ACTIONEXECUTE / CM_ACTIONUPDATE: the active control, the form, then its visible controls.
  bool DispatchAction(UINT msg, TBasicAction* action);
  bool HandleDialogKey(MSG& msg);
  bool HandleDialogChar(MSG& msg);
  friend class TApplication;
  bool createNew_ = false;
  // The frame around the client area for the current border style and icons.
  SIZE FrameSize() const;
  void ApplyClientSize();
  TFormBorderStyle borderStyle_ = bsSizeable;
  TBorderIcons borderIcons_{biSystemMenu, biMinimize, biMaximize};
  TPosition position_ = poDesigned;
  TWindowState windowState_ = wsNormal;
  int pixelsPerInch_ = 96;
  int clientWidth_ = -1, clientHeight_ = -1;  // asked for before the window exists
  TModalResult modalResult_ = mrNone;
  std::string helpFile_;
  TWinControl* activeControl_ = nullptr;
  TMainMenu* menu_ = nullptr;
};

class TForm : public TCustomForm {
  FW_CLASS(TForm, TCustomForm)
 public:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
};

// A non-visual container of components (no window): it is in the screen's
// list of data modules from its construction to its destruction.
class TDataModule : public TComponent {
  FW_CLASS(TDataModule, TComponent)
 public:
  explicit TDataModule(TComponent* owner);
  void Destroy() override;
};

// A container control that a form owns; in form text it is an "inline"
// object, and the components inside it belong to the frame.
class TCustomFrame : public TWinControl {
  FW_CLASS(TCustomFrame, TWinControl)
 public:
  explicit TCustomFrame(TComponent* owner);
  TComponent* GetChildOwner() override { return this; }
};

// A hint: a small window with the hint text by the mouse (in the screen's hint font).
class THintWindow : public TCustomControl {
  FW_CLASS(THintWindow, TCustomControl)
 public:
  explicit THintWindow(TComponent* owner);
  // Shows `text` in `rect` (screen coordinates) without taking the focus.
  virtual void ActivateHint(RECT rect, const std::string& text);
  // The same with the hint data a control put in its THintInfo (may be null).
  virtual void ActivateHintData(RECT rect, const std::string& text, void* data);
  // The rectangle `text` needs (at 0, 0), at most `maxWidth` wide.
  RECT CalcHintRect(int maxWidth, const std::string& text) { return CalcHintRect(maxWidth, text, nullptr); }
  virtual RECT CalcHintRect(int maxWidth, const std::string& text, void* data);
  void ReleaseHint();  // hides it
  // Whether a message that comes while the hint shows ends it: key presses,
  // button presses and mouse moves over a window frame.
  virtual bool IsHintMsg(const MSG& msg);
  // The presses that end a hint, shown or still waiting to show.
  static bool IsHintEndingPress(UINT message);
  // The font the text is measured and drawn with: the screen's hint font.
  TFont* TextFont() const;

 protected:
  void CreateParams(TCreateParams& params) override;
  void Paint(HDC dc) override;
};

// What CM_HINTSHOW hands the control (LParam: THintInfo*), which may change
// the text and the place or refuse the hint (answering non-zero).
struct THintInfo {
  TControl* HintControl;
  POINT CursorPos;  // in the control's coordinates
  std::string HintStr;
  POINT HintPos;  // screen coordinates of the window's top-left corner
  int HintMaxWidth;
  // The class of the window that shows the hint (a THintWindow descendant) and
  // data the control hands that window.
  const ClassInfo* HintWindowClass = nullptr;
  void* HintData = nullptr;
};

// Replaceable slots for the application's exception handling (the error
// reporting library fills them). The defaults: HandleException ignores
// EAbort, then calls OnException when set, else ShowException; ShowException
// shows the message in a message box (safe from any thread).
class TApplication;
using THandleExceptionProc = void (*)(TApplication* app, TObject* sender, std::exception_ptr error);
using TShowExceptionProc = void (*)(TApplication* app, std::exception_ptr error);
extern THandleExceptionProc HandleExceptionHook;
extern TShowExceptionProc ShowExceptionHook;
void DefaultHandleException(TApplication* app, TObject* sender, std::exception_ptr error);
void DefaultShowException(TApplication* app, std::exception_ptr error);

class TApplication : public TComponent {
  FW_CLASS(TApplication, TComponent)
 public:
  explicit TApplication(TComponent* owner);
  void Destroy() override;

  HWND Handle() const;
  std::string Title() const;
  void SetTitle(const std::string& title);
  TCustomForm* MainForm() const { return mainForm_; }

  void Initialize() {}
  // Creates a form owned by the application; the first one becomes the main form.
  template <class T>
  T* CreateForm() {
    T* form = New<T>(this);
    if (!mainForm_) mainForm_ = form;
    return form;
  }
  void SetMainForm(TCustomForm* form) { mainForm_ = form; }

  // The message loop: until Terminate (or the main form closes).
  void Run();
  // Handles one message, or idles (serving synchronous calls) until one comes.
  void HandleMessage();
  // Handles every pending message. On the main thread it also serves the
  // synchronous calls; on any other thread it pumps only that thread's queue
  // and never runs synchronous calls.
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Called inside a catch block (or with an exception) from any entry point.
  void HandleException(TObject* sender);
  void HandleException(TObject* sender, std::exception_ptr error);
  void ShowException(std::exception_ptr error);
  TExceptionEvent OnException;

  // Help: OnHelp first; when it leaves CallHelp true, the help file is asked
  // (the active form's HelpFile, else the application's).
  bool HelpContext(int context);
  bool HelpCommand(std::uint16_t command, std::intptr_t data);
  std::string HelpFile;
  std::string CurrentHelpFile() const;
  THelpEvent OnHelp;

  TMessageEvent OnMessage;
  TNotifyEvent OnIdle;

  // Hints: when the mouse rests HintPause ms on a control with ShowHint and a
  // Hint, the hint shows for HintHidePause ms (or until the mouse moves on, a
  // button or key is pressed). Hint holds the text of the control under the mouse.
  bool ShowHint = true;
  unsigned HintPause = 500;
  unsigned HintHidePause = 2500;
  TColor HintColor = clInfoBk;
  std::string GetHint() const { return hint_; }
  // A new hint fires OnHint; without a handler a hint action carrying it is executed.
  void SetHint(const std::string& value);
  TNotifyEvent OnHint;
  // Shown hints of actions with a shortcut name the shortcut ("Save (Ctrl+S)").
  bool GetHintShortCuts() const { return ActionHintShortCuts; }
  void SetHintShortCuts(bool v) { ActionHintShortCuts = v; }
  void CancelHint();
  THintWindow* HintWindow() const { return hintWindow_; }
  // The mouse control changed (the controls unit tells).
  void HintMouseChanged(TControl* control);
  // A hint asked for by a mouse move over a control's non-client part (a band
  // it paints there), which the client moves above do not follow: the hint
  // starts over for `control` at `clientPos` (its client coordinates) and shows
  // after HintPause, also when the control's Hint is empty (its CM_HINTSHOW
  // gives the text). A client area's mouse leave keeps the request; the
  // control ends it with EndNonClientHint once the mouse leaves the part.
  void NonClientHintMouseMove(TControl* control, POINT clientPos);
  void EndNonClientHint(TControl* control);
  // A control that goes is forgotten (the controls unit tells).
  void HintControlGoing(TControl* control);

  // One message through the application's processing (hooks, dialog keys, dispatch).
  void DispatchOne(MSG& msg);

  // Hooks on the application window, asked first (the last hooked first is not
  // promised: they are asked in the order they were added) until one handles it.
  void HookMainWindow(const TWindowHook& hook);
  void UnhookMainWindow(const TWindowHook& hook);
  // A modeless dialog window whose messages go through IsDialogMessage (null: none).
  HWND DialogHandle = nullptr;

  // Actions: the application's own handlers (asked after an action's list).
  TActionEvent OnActionExecute, OnActionUpdate;
  bool ExecuteAction(TBasicAction* action);
  bool UpdateAction(TBasicAction* action);
  // CM_ACTIONEXECUTE / CM_ACTIONUPDATE: the active form, then the main form.
  bool DispatchAction(UINT msg, TBasicAction* action);
  // The idle-time update of the actions of every visible, enabled form.
  void UpdateFormActions();

 private:
  bool ProcessMessage(MSG& msg);
  void Idle();
  static bool AppWindowHandler(void* data, TMessage& msg);
  void HintTimerProc(TMessage& msg);
  void ActivateHint();
  TCustomForm* mainForm_ = nullptr;
  HWND hintTimerWnd_ = nullptr;
  THintWindow* hintWindow_ = nullptr;
  TControl* hintControl_ = nullptr;
  bool nonClientHint_ = false;  // hintControl_ asked from a non-client move
  POINT nonClientHintPos_{};
  bool terminated_ = false;
  std::string title_;  // kept while there is no window
  std::string hint_;
  std::vector<TWindowHook> hooks_;
};

class TScreen : public TComponent {
  FW_CLASS(TScreen, TComponent)
 public:
  explicit TScreen(TComponent* owner);

  int FormCount() const { return static_cast<int>(forms_.size()); }
  TCustomForm* Forms(int index) const { return forms_.at(static_cast<std::size_t>(index)); }
  int CustomFormCount() const { return FormCount(); }
  TCustomForm* CustomForms(int index) const { return Forms(index); }
  TCustomForm* ActiveForm() const { return activeForm_; }

  // A cursor other than crDefault shows over every window of the program.
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);
  HCURSOR Cursors(TCursor id) const;
  void SetCursors(TCursor id, HCURSOR cursor);
  int PixelsPerInch() const;

  void AddForm(TCustomForm* form);
  void RemoveForm(TCustomForm* form);
  void SetActiveForm(TCustomForm* form) { activeForm_ = form; }

  int DataModuleCount() const { return static_cast<int>(dataModules_.size()); }
  TDataModule* DataModules(int index) const { return dataModules_.at(static_cast<std::size_t>(index)); }
  void AddDataModule(TDataModule* module);
  void RemoveDataModule(TDataModule* module);

  // The system's fonts for icon titles, hints (status texts) and menus, read at creation.
  TFont* IconFont() const { return iconFont_; }
  TFont* HintFont() const { return hintFont_; }
  TFont* MenuFont() const { return menuFont_; }
  // The desktop (the primary monitor) and its work area (less the task bar), in screen coordinates.
  RECT DesktopRect() const;
  RECT WorkAreaRect() const;
  void Destroy() override;

 private:
  std::vector<TCustomForm*> forms_;
  std::vector<TDataModule*> dataModules_;
  TFont* iconFont_ = nullptr;
  TFont* hintFont_ = nullptr;
  TFont* menuFont_ = nullptr;
  TCustomForm* activeForm_ = nullptr;
  TCursor cursor_ = crDefault;
  std::map<TCursor, HCURSOR> cursors_;
};

extern TApplication* Application;
extern TScreen* Screen;

// The forms unit: creates Application and Screen (after InitWin32Platform) and frees them.
// Its unit-table entry is {"Forms", &InitForms, &DoneForms}, placed after the framework's base units.
void InitForms();
void DoneForms();

// The form that contains a control (null when none).
TCustomForm* GetParentForm(TControl* control);
