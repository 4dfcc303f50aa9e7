// THelpRouter: takes over the application's help requests (F1, HelpContext
// and the like) and sends each WinHelp-style command either to WinHelp with a
// ".hlp" file or to HTML Help with a ".chm" file, context popups included,
// whose texts come from a topic file inside the compiled help file.
//
// The router reaches the application, its forms, WinHelp and the cursor
// position through the replaceable HelpHost and the function slots below
// (the Windows build fills them; tests record what is asked of them).
#pragma once

#include <cstdint>
#include <string>

#include "Component.h"
#include "QhrHhApi.h"

FW_ENUM(THelpType, htWinhelp, htHTMLhelp, htMixedMode);
FW_ENUM(TShowType, stDefault, stMain, stPopup);

// WinHelp commands the router handles by number.
constexpr std::uint16_t HelpContextCommand = 1;   // HELP_CONTEXT
constexpr std::uint16_t HelpQuitCommand = 2;      // HELP_QUIT
constexpr std::uint16_t HelpContentsCommand = 3;  // HELP_CONTENTS
constexpr std::uint16_t HelpContextPopupCommand = 8;
constexpr std::uint16_t HelpFinderCommand = 11;
constexpr std::uint16_t HelpSetPopupPosCommand = 13;
constexpr std::uint16_t HelpTabCommand = 15;
constexpr std::uint16_t HelpKeyCommand = 257;
constexpr std::uint16_t HelpPartialKeyCommand = 261;

// What the router needs of the application and its screen.
class HelpHost {
 public:
  virtual ~HelpHost() = default;
  // The application's help handler slot.
  virtual THelpEvent& ApplicationOnHelp() = 0;
  virtual std::string ApplicationHelpFile() = 0;
  virtual HelpWindow ApplicationWindow() = 0;
  // The active form (null when none).
  virtual TComponent* ActiveForm() = 0;
  virtual bool IsForm(TComponent* component) = 0;
  // The form's window; without one, 0, or (with `create`) a new one.
  virtual HelpWindow FormWindow(TComponent* form, bool create) = 0;
  virtual std::string FormHelpFile(TComponent* form) = 0;
};

// The installed host (null: none; a router then hooks nothing and resolves no file).
HelpHost* GetHelpHost();
void SetHelpHost(HelpHost* host);

// WinHelp: true when it served the command.
using HelpWinHelpFunc = bool (*)(HelpWindow window, const std::string& file, unsigned command, std::intptr_t data);
// The cursor's screen position; false when it is not known.
using HelpCursorPosFunc = bool (*)(std::int32_t& x, std::int32_t& y);
extern HelpWinHelpFunc HelpRouterWinHelp;
extern HelpCursorPosFunc HelpRouterCursorPos;

class THelpRouter : public TComponent {
  FW_CLASS(THelpRouter, TComponent)
 public:
  explicit THelpRouter(TComponent* owner);
  // Raises "Multiple instances of THelpRouter are not allowed" when a router
  // lives already. At run time (not designing) the router takes over the
  // application's OnHelp, keeping the handler it replaces, and becomes the
  // live router.
  void AfterConstruction() override;
  // Gives the application its kept handler back (when the router's own is
  // still installed) and leaves the live-router slot.
  void Destroy() override;

  THelpType GetHelpType() const { return helpType_; }
  void SetHelpType(THelpType value);
  TShowType ShowType = stDefault;
  std::string Helpfile;
  std::string CHMPopupTopics = "CSHelp.txt";
  THelpEvent OnHelp;
  bool ValidateID = false;  // kept only

  // The application's help handler: OnHelp first, then the kept handler,
  // then, while CallHelp holds, the routing.
  bool RouteHelp(std::uint16_t command, std::intptr_t data, bool& callHelp);
  bool ShowTextPopup(std::int32_t x, std::int32_t y, const std::string& text, std::intptr_t data);
  // The help file (the application's, a windowed target form's, the router's
  // own, the last one there winning) and the window that owns the help.
  HelpWindow ResolveHelpFile(std::string& file);
  // The active form, else the owner taken as a form (EInvalidCast when it is
  // no form); null when neither.
  TComponent* HelpTargetForm();

 private:
  bool RouteToWinHelp(std::uint16_t command, std::intptr_t data, bool& callHelp);
  bool RouteToHtmlHelp(std::uint16_t command, std::intptr_t data, bool& callHelp, bool result);
  THelpType helpType_ = htWinhelp;
  THelpEvent previous_;
  bool hooked_ = false;
  std::int32_t popupX_ = 0;
  std::int32_t popupY_ = 0;
};

// The live router (null when none).
THelpRouter* LiveHelpRouter();
// The help file and window the last routed command resolved.
std::string LastResolvedHelpFile();
HelpWindow LastResolvedHelpWindow();

// The unit's initialization: registers the class for form streaming.
void InitQhrHelpRouter();
