#include "EEvents.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "ExceptionLog.h"

void SetRecordText(TVantorExceptionRecord& record, const std::string& text) {
  const std::size_t n = std::min(text.size(), sizeof record.Text - 1);
  std::memcpy(record.Text, text.data(), n);
  record.Text[n] = 0;
}

FW_IMPLEMENT_CLASS(TVantorLogList)

// --- String lists across modules ----------------------------------------------------------------------
namespace {
int VL_STDCALL ListCount(void* list) {
  return static_cast<TStrings*>(list)->Count();
}
const char* VL_STDCALL ListGet(void* list, int index) {
  // The text lives in a per-thread buffer until the next call.
  thread_local std::string text;
  text = static_cast<TStrings*>(list)->Get(index);
  return text.c_str();
}
void VL_STDCALL ListClear(void* list) {
  static_cast<TStrings*>(list)->Clear();
}
void VL_STDCALL ListAdd(void* list, const char* text) {
  static_cast<TStrings*>(list)->Add(text ? text : "");
}
}  // namespace

TVantorStringListRef StringListRef(TStrings& list) {
  TVantorStringListRef ref;
  ref.List = &list;
  ref.Count = &ListCount;
  ref.Get = &ListGet;
  ref.Clear = &ListClear;
  ref.Add = &ListAdd;
  return ref;
}

void CopyStringListRef(const TVantorStringListRef& from, const TVantorStringListRef& to) {
  if (!from.Count || !from.Get || !to.Clear || !to.Add) return;
  std::vector<std::string> lines;
  const int n = from.Count(from.List);
  for (int i = 0; i < n; ++i) {
    const char* text = from.Get(from.List, i);
    lines.emplace_back(text ? text : "");
  }
  to.Clear(to.List);
  for (const std::string& line : lines) to.Add(to.List, line.c_str());
}

// --- Handlers ------------------------------------------------------------------------------------------
namespace {
TVantorLogList* g_handlers = nullptr;
TVantorLogCallbacks g_callbacks;
TVantorEventState g_state;
TStringList* g_customData = nullptr;
TStringList* g_attachedFiles = nullptr;
TStringList* g_webFields = nullptr;
std::atomic<TPeerExportFinder> g_peerFinder{nullptr};

TStringList& LazyList(TStringList*& list) {
  if (!list) list = New<TStringList>();
  return *list;
}

// The handlers from the last registered to the first.
template <class F>
void ForEachHandler(F&& call) {
  TVantorLogList& list = VantorLogHandlers();
  for (int i = list.Count(); i-- > 0;) {
    if (i < list.Count()) call(*list.Items(i));
  }
}

struct FlagEventInfo {
  const char* Export;
  TExceptionNotifyEvent TVantorLogHandler::*Field;
  void (*TVantorLogCallbacks::*Callback)(const TVantorExceptionRecord&, bool&);
};
const FlagEventInfo& InfoOf(TVantorFlagEvent event) {
  static const FlagEventInfo kInfo[] = {
      {kExceptionNotifyExport, &TVantorLogHandler::OnExceptionNotify, &TVantorLogCallbacks::ExceptionNotify},
      {kHandledExceptionNotifyExport, &TVantorLogHandler::OnHandledExceptionNotify,
       &TVantorLogCallbacks::HandledExceptionNotify},
      {kCustomButtonClickExport, &TVantorLogHandler::OnCustomButtonClick, &TVantorLogCallbacks::CustomButtonClick},
  };
  return kInfo[static_cast<int>(event)];
}

struct ListEventInfo {
  const char* Export;
  TStringListRequestEvent TVantorLogHandler::*Field;
  void (*TVantorLogCallbacks::*Callback)(const TVantorExceptionRecord&, TStrings&);
};
const ListEventInfo& InfoOf(TVantorListEvent event) {
  static const ListEventInfo kInfo[] = {
      {kCustomDataRequestExport, &TVantorLogHandler::OnCustomDataRequest, &TVantorLogCallbacks::CustomDataRequest},
      {kAttachedFilesRequestExport, &TVantorLogHandler::OnAttachedFilesRequest,
       &TVantorLogCallbacks::AttachedFilesRequest},
      {kCustomWebFieldsRequestExport, &TVantorLogHandler::OnCustomWebFieldsRequest,
       &TVantorLogCallbacks::CustomWebFieldsRequest},
  };
  return kInfo[static_cast<int>(event)];
}

void FireFlagEvent(TVantorFlagEvent event, bool& flag) {
  const TVantorExceptionRecord& record = g_state.Current;
  if (auto peer = reinterpret_cast<TFlagEventExport>(FindPeerExport(InfoOf(event).Export))) {
    std::uint8_t value = flag ? 1 : 0;
    peer(&record, &value);
    flag = value != 0;
  }
  CallLocalFlagHandlers(event, record, flag);
}

void FireListEvent(TVantorListEvent event, TStrings& list) {
  const TVantorExceptionRecord& record = g_state.Current;
  if (auto peer = reinterpret_cast<TListEventExport>(FindPeerExport(InfoOf(event).Export))) {
    TVantorStringListRef ref = StringListRef(list);
    peer(&record, &ref);
  }
  CallLocalListHandlers(event, record, list);
}

void CallActionExport(const char* exportName, const TVantorExceptionRecord& record, int action, bool& flag) {
  if (auto peer = reinterpret_cast<TActionEventExport>(FindPeerExport(exportName))) {
    std::uint8_t value = flag ? 1 : 0;
    peer(&record, action, &value);
    flag = value != 0;
  }
}
}  // namespace

TVantorLogList& VantorLogHandlers() {
  if (!g_handlers) g_handlers = New<TVantorLogList>();
  return *g_handlers;
}

void RegisterVantorLogHandler(TVantorLogHandler* handler) {
  if (handler && VantorLogHandlers().IndexOf(handler) < 0) VantorLogHandlers().Add(handler);
}

void UnregisterVantorLogHandler(TVantorLogHandler* handler) {
  if (g_handlers) g_handlers->Remove(handler);
}

TVantorLogCallbacks& VantorLogCallbacks() {
  return g_callbacks;
}

TVantorEventState& VantorEventState() {
  return g_state;
}
TStringList& CustomDataLines() {
  return LazyList(g_customData);
}
TStringList& AttachedFileLines() {
  return LazyList(g_attachedFiles);
}
TStringList& CustomWebFieldLines() {
  return LazyList(g_webFields);
}

void ResetVantorEvents() {
  g_callbacks = TVantorLogCallbacks{};
  g_state = TVantorEventState{};
  FreeAndNil(g_customData);
  FreeAndNil(g_attachedFiles);
  FreeAndNil(g_webFields);
  // The list itself is the library's; handlers still registered keep it.
  if (g_handlers && g_handlers->Count() == 0) FreeAndNil(g_handlers);
}

void SetPeerExportFinder(TPeerExportFinder finder) {
  g_peerFinder.store(finder);
}

void* FindPeerExport(const char* name) {
  TPeerExportFinder finder = g_peerFinder.load();
  return finder ? finder(name) : nullptr;
}

void PasswordToShortText(const std::string& password, std::uint8_t (&buffer)[256]) {
  const std::size_t n = std::min<std::size_t>(password.size(), 255);
  buffer[0] = static_cast<std::uint8_t>(n);
  std::memcpy(buffer + 1, password.data(), n);
}

std::string ShortTextToPassword(const std::uint8_t* buffer, std::int32_t maxLength) {
  if (!buffer || maxLength <= 0) return std::string();
  const std::size_t n = std::min<std::size_t>(buffer[0], static_cast<std::size_t>(std::min(maxLength, 255)));
  return std::string(reinterpret_cast<const char*>(buffer + 1), n);
}

// --- Firing ---------------------------------------------------------------------------------------------
void CallLocalFlagHandlers(TVantorFlagEvent event, const TVantorExceptionRecord& record, bool& flag) {
  const FlagEventInfo& info = InfoOf(event);
  ForEachHandler([&](TVantorLogHandler& h) {
    if (h.*info.Field) (h.*info.Field)(record, flag);
  });
  if (g_callbacks.*info.Callback) (g_callbacks.*info.Callback)(record, flag);
}

void CallLocalListHandlers(TVantorListEvent event, const TVantorExceptionRecord& record, TStrings& list) {
  const ListEventInfo& info = InfoOf(event);
  ForEachHandler([&](TVantorLogHandler& h) {
    if (h.*info.Field) (h.*info.Field)(record, list);
  });
  if (g_callbacks.*info.Callback) (g_callbacks.*info.Callback)(record, list);
}

void NotifyExceptionEvent() {
  FireFlagEvent(TVantorFlagEvent::ExceptionNotify, g_state.Handled);
}
void FireHandledExceptionNotify() {
  FireFlagEvent(TVantorFlagEvent::HandledExceptionNotify, g_state.Handled);
}
void FireCustomButtonClick() {
  FireFlagEvent(TVantorFlagEvent::CustomButtonClick, g_state.CustomButtonClose);
}
void FireCustomDataRequest() {
  FireListEvent(TVantorListEvent::CustomDataRequest, CustomDataLines());
}
void FireAttachedFilesRequest() {
  FireListEvent(TVantorListEvent::AttachedFilesRequest, AttachedFileLines());
}
void FireCustomWebFieldsRequest() {
  FireListEvent(TVantorListEvent::CustomWebFieldsRequest, CustomWebFieldLines());
}

void CallExceptionActionNotifyHandlers(const TVantorExceptionRecord& record, int action, bool& execute) {
  ForEachHandler([&](TVantorLogHandler& h) {
    if (h.OnExceptionActionNotify) h.OnExceptionActionNotify(record, action, execute);
  });
  if (g_callbacks.ExceptionActionNotify) g_callbacks.ExceptionActionNotify(record, action, execute);
}

void CallExceptionActionNotifyExports(const TVantorExceptionRecord& record, int action, bool& execute) {
  CallActionExport(kExceptionActionNotifyExport, record, action, execute);
  CallExceptionActionNotifyHandlers(record, action, execute);
}

void CallExceptionErrorNotifyHandlers(const TVantorExceptionRecord& record, int action, bool& retry) {
  ForEachHandler([&](TVantorLogHandler& h) {
    if (h.OnExceptionErrorNotify) h.OnExceptionErrorNotify(record, action, retry);
  });
  if (g_callbacks.ExceptionErrorNotify) g_callbacks.ExceptionErrorNotify(record, action, retry);
}

void CallExceptionErrorNotifyExports(const TVantorExceptionRecord& record, int action, bool& retry) {
  CallActionExport(kExceptionErrorNotifyExport, record, action, retry);
  CallExceptionErrorNotifyHandlers(record, action, retry);
}

void CallPasswordRequestHandlers(const TVantorExceptionRecord& record, std::string& password) {
  ForEachHandler([&](TVantorLogHandler& h) {
    if (h.OnPasswordRequest) h.OnPasswordRequest(record, password);
  });
  if (g_callbacks.PasswordRequest) g_callbacks.PasswordRequest(record, password);
}

// --- The parking slot ----------------------------------------------------------------------------------
namespace {
TFaultingThreadApi g_threadApi;
std::atomic<std::uint32_t> g_pollingThread{0};
// Empty, the running marker, or an event waiting for the polling thread.
std::atomic<TEventProc> g_slot{nullptr};
void RunningMarker() {}

void RunSwallowing(TEventProc event) {
  try {
    event();
  } catch (...) {
    // A handler's failure does not stop the report.
  }
}
}  // namespace

void SetFaultingThreadApi(const TFaultingThreadApi& api) {
  g_threadApi = api;
}

void SetPollingThreadId(std::uint32_t threadId) {
  g_pollingThread.store(threadId);
}

std::uint32_t PollingThreadId() {
  return g_pollingThread.load();
}

void RunEventOnFaultingThread(TEventProc event) {
  if (!event || VantorLogFlags().LeakReportRunning) return;
  const std::uint32_t polling = g_pollingThread.load();
  const std::uint32_t self = g_threadApi.CurrentThreadId ? g_threadApi.CurrentThreadId() : 0;
  if (polling != 0 && polling != self && g_threadApi.Sleep10) {
    // The polling thread runs it and empties the slot when it has finished.
    TEventProc expected = nullptr;
    while (!g_slot.compare_exchange_weak(expected, event)) {
      expected = nullptr;
      g_threadApi.Sleep10();
    }
    while (g_slot.load() != nullptr) g_threadApi.Sleep10();
  } else {
    g_slot.store(&RunningMarker);
    RunSwallowing(event);
    g_slot.store(nullptr);
  }
  if (g_threadApi.AfterEvent) {
    try {
      g_threadApi.AfterEvent();
    } catch (...) {
    }
  }
}

bool RunParkedEvent() {
  TEventProc event = g_slot.load();
  if (!event || event == &RunningMarker) return false;
  // The slot holds the running marker while the event runs, so that the
  // parking thread reads the results only after it has finished.
  if (!g_slot.compare_exchange_strong(event, &RunningMarker)) return false;
  RunSwallowing(event);
  g_slot.store(nullptr);
  return true;
}

void ClearParkedEvent() {
  g_slot.store(nullptr);
}

bool EventIsParked() {
  TEventProc event = g_slot.load();
  return event && event != &RunningMarker;
}
