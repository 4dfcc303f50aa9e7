// The library's events: what it tells the program about its work. A program
// hears them through handler records registered in TVantorLogList and
// through nine global callbacks. Every module that carries the library has
// its own copy, so an event is first forwarded to the copy in the module
// where the exception arose (through its exports, looked up by name), then
// the local handlers run (the last registered first), then the callback.
// Events about the exception run on the faulting thread: the firing routine
// goes through RunEventOnFaultingThread, which parks it for that thread when
// another thread asks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "ECore.h"
#include "Lists.h"
#include "Method.h"
#include "Strings.h"

// The calling convention of the exports that copies of the library call in one another.
#if defined(_WIN32) && defined(__i386__)
#define VL_STDCALL __stdcall
#else
#define VL_STDCALL
#endif

// The argument of every event. It crosses modules by address and is copied
// there, so it holds only plain fields.
struct TVantorExceptionRecord {
  const TExceptionObjectRecord* ExceptionObject = nullptr;
  std::uintptr_t ExceptionAddress = 0;
  const void* OsExceptionRecord = nullptr;  // the system's exception record, when there is one
  std::uint32_t ThreadId = 0;               // the faulting thread
  char Text[256] = {};                      // the exception's message, cut to 255 bytes
};
void SetRecordText(TVantorExceptionRecord& record, const std::string& text);

// A string list as it crosses modules: the owner's list and the functions
// that read and fill it, so that no module touches another's list object.
struct TVantorStringListRef {
  void* List = nullptr;
  int(VL_STDCALL* Count)(void* list) = nullptr;
  // The text stays valid until the list changes.
  const char*(VL_STDCALL* Get)(void* list, int index) = nullptr;
  void(VL_STDCALL* Clear)(void* list) = nullptr;
  void(VL_STDCALL* Add)(void* list, const char* text) = nullptr;
};
// The reference of one of this module's lists.
TVantorStringListRef StringListRef(TStrings& list);
// Clears `to` and adds the lines of `from`, each through its own functions.
void CopyStringListRef(const TVantorStringListRef& from, const TVantorStringListRef& to);

// --- Handlers and callbacks ------------------------------------------------------------------------
using TExceptionNotifyEvent = Method<void(const TVantorExceptionRecord& record, bool& handled)>;
using TExceptionActionEvent = Method<void(const TVantorExceptionRecord& record, int action, bool& flag)>;
using TPasswordRequestEvent = Method<void(const TVantorExceptionRecord& record, std::string& password)>;
using TStringListRequestEvent = Method<void(const TVantorExceptionRecord& record, TStrings& list)>;
using TCustomButtonClickEvent = Method<void(const TVantorExceptionRecord& record, bool& close)>;

// One registered handler: the nine events, any of them empty.
struct TVantorLogHandler {
  TExceptionNotifyEvent OnExceptionNotify;
  TExceptionNotifyEvent OnHandledExceptionNotify;
  TExceptionActionEvent OnExceptionActionNotify;
  TExceptionActionEvent OnExceptionErrorNotify;
  TPasswordRequestEvent OnPasswordRequest;
  TStringListRequestEvent OnCustomDataRequest;
  TStringListRequestEvent OnAttachedFilesRequest;
  TStringListRequestEvent OnCustomWebFieldsRequest;
  TCustomButtonClickEvent OnCustomButtonClick;
};

class TVantorLogList : public TList {
  FW_CLASS(TVantorLogList, TList)
 public:
  TVantorLogHandler* Items(int index) const { return static_cast<TVantorLogHandler*>(Get(index)); }
};
// The handler list of this module (the records stay their owners').
TVantorLogList& VantorLogHandlers();
void RegisterVantorLogHandler(TVantorLogHandler* handler);
void UnregisterVantorLogHandler(TVantorLogHandler* handler);

// The global callbacks, empty at start-up.
struct TVantorLogCallbacks {
  void (*ExceptionNotify)(const TVantorExceptionRecord&, bool& handled) = nullptr;
  void (*HandledExceptionNotify)(const TVantorExceptionRecord&, bool& handled) = nullptr;
  void (*ExceptionActionNotify)(const TVantorExceptionRecord&, int action, bool& execute) = nullptr;
  void (*ExceptionErrorNotify)(const TVantorExceptionRecord&, int action, bool& retry) = nullptr;
  void (*PasswordRequest)(const TVantorExceptionRecord&, std::string& password) = nullptr;
  void (*CustomDataRequest)(const TVantorExceptionRecord&, TStrings& list) = nullptr;
  void (*AttachedFilesRequest)(const TVantorExceptionRecord&, TStrings& list) = nullptr;
  void (*CustomWebFieldsRequest)(const TVantorExceptionRecord&, TStrings& list) = nullptr;
  void (*CustomButtonClick)(const TVantorExceptionRecord&, bool& close) = nullptr;
};
TVantorLogCallbacks& VantorLogCallbacks();

// --- Shared state of one report -----------------------------------------------------------------
// The current exception record (set while a report runs) and the results the handlers share.
struct TVantorEventState {
  TVantorExceptionRecord Current;
  bool HasCurrent = false;  // a report is running
  bool Handled = false;
  bool CustomButtonClose = false;
  std::string Password;
};
TVantorEventState& VantorEventState();
TStringList& CustomDataLines();
TStringList& AttachedFileLines();
TStringList& CustomWebFieldLines();
// Empties the handler results and the three lists, and clears the callbacks
// and the record (start-up and shut-down); the handler list goes when no
// handler is registered.
void ResetVantorEvents();

// --- Exports of the peer copies -------------------------------------------------------------------
using TFlagEventExport = void(VL_STDCALL*)(const TVantorExceptionRecord* record, std::uint8_t* flag);
using TActionEventExport = void(VL_STDCALL*)(const TVantorExceptionRecord* record, std::int32_t action,
                                             std::uint8_t* flag);
using TListEventExport = void(VL_STDCALL*)(const TVantorExceptionRecord* record, const TVantorStringListRef* list);
// The password is a length-prefixed text of at most 255 bytes (a 256-byte buffer).
using TPasswordEventExport = void(VL_STDCALL*)(std::uint8_t* password, std::int32_t maxLength);
using TPasswordEventExportEx = void(VL_STDCALL*)(const TVantorExceptionRecord* record, std::uint8_t* password,
                                                 std::int32_t maxLength);

constexpr const char* kExceptionNotifyExport = "VantorLog_ExceptionNotifyEvent";
constexpr const char* kHandledExceptionNotifyExport = "VantorLog_HandledExceptionNotifyEvent";
constexpr const char* kExceptionActionNotifyExport = "VantorLog_ExceptionActionNotifyEvent";
constexpr const char* kExceptionErrorNotifyExport = "VantorLog_ExceptionErrorNotifyEvent";
constexpr const char* kPasswordRequestExport = "VantorLog_PasswordRequestEvent";
constexpr const char* kPasswordRequestExportEx = "VantorLog_PasswordRequestEventEx";
constexpr const char* kCustomDataRequestExport = "VantorLog_CustomDataRequestEventEx";
constexpr const char* kAttachedFilesRequestExport = "VantorLog_AttachedFilesRequestEvent";
constexpr const char* kCustomWebFieldsRequestExport = "VantorLog_CustomWebFieldsRequestEvent";
constexpr const char* kCustomButtonClickExport = "VantorLog_CustomButtonClickEvent";

// Finds the named export of the module that holds the exception (none for
// this module, a module without a compatible block, or no module); the Win32
// half installs the real one.
using TPeerExportFinder = void* (*)(const char* name);
void SetPeerExportFinder(TPeerExportFinder finder);
void* FindPeerExport(const char* name);

// A length-prefixed password buffer of 256 bytes from a text (cut to 255) and back (cut to maxLength).
void PasswordToShortText(const std::string& password, std::uint8_t (&buffer)[256]);
std::string ShortTextToPassword(const std::uint8_t* buffer, std::int32_t maxLength);

// --- Firing -----------------------------------------------------------------------------------------
enum class TVantorFlagEvent { ExceptionNotify, HandledExceptionNotify, CustomButtonClick };
enum class TVantorListEvent { CustomDataRequest, AttachedFilesRequest, CustomWebFieldsRequest };
// The local handlers (last registered first) and the callback of one event,
// without the peer export (what the exports run).
void CallLocalFlagHandlers(TVantorFlagEvent event, const TVantorExceptionRecord& record, bool& flag);
void CallLocalListHandlers(TVantorListEvent event, const TVantorExceptionRecord& record, TStrings& list);

// Each runs the peer export, the handlers (last registered first) and the
// callback, with the shared result; the firing routines of the events that
// concern the exception are meant for RunEventOnFaultingThread.
void NotifyExceptionEvent();        // Handled
void FireHandledExceptionNotify();  // Handled
void FireCustomDataRequest();       // CustomDataLines()
void FireAttachedFilesRequest();    // AttachedFileLines()
void FireCustomWebFieldsRequest();  // CustomWebFieldLines()
void FireCustomButtonClick();       // CustomButtonClose
// Called directly with a copy of the record: the export, then the handlers and callback.
void CallExceptionActionNotifyExports(const TVantorExceptionRecord& record, int action, bool& execute);
void CallExceptionActionNotifyHandlers(const TVantorExceptionRecord& record, int action, bool& execute);
void CallExceptionErrorNotifyExports(const TVantorExceptionRecord& record, int action, bool& retry);
void CallExceptionErrorNotifyHandlers(const TVantorExceptionRecord& record, int action, bool& retry);
// The local handlers and callback of the password request (run by the password exports).
void CallPasswordRequestHandlers(const TVantorExceptionRecord& record, std::string& password);

// --- Running on the faulting thread ---------------------------------------------------------------
using TEventProc = void (*)();
// How the parking slot learns its thread and waits (the Win32 half installs its own).
struct TFaultingThreadApi {
  std::uint32_t (*CurrentThreadId)() = nullptr;
  void (*Sleep10)() = nullptr;
  // Run after each event: the duplicate check and the re-read of the published options.
  void (*AfterEvent)() = nullptr;
};
void SetFaultingThreadApi(const TFaultingThreadApi& api);
// The thread that polls the slot while it waits for its report (0: none).
void SetPollingThreadId(std::uint32_t threadId);
std::uint32_t PollingThreadId();
// Runs `event` on the polling thread: parked there while a report runs and
// the caller is another thread, else run at once (every exception
// swallowed). Nothing runs while the leak report of shut-down runs.
void RunEventOnFaultingThread(TEventProc event);
// The polling side: runs a parked event (clearing the slot first); true when one ran.
bool RunParkedEvent();
bool EventIsParked();
// Empties the slot (after the report thread that parked an event was ended).
void ClearParkedEvent();
