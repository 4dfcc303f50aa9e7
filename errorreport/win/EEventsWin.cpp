// The event exports through which the copies of the library in other modules
// forward an event to this module's handlers, the search for a peer copy's
// export and the password request to the module whose debug data is read.
#include "EEventsWin.h"

#include <cstring>

#include "ECore.h"
#include "EHookWin.h"
#include "EPipeline.h"
#include "ESystemWin.h"
#include "ExceptionLogWin.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

bool IsActive() {
  return VantorLogFlags().Initialized == 1;
}

// The object made for a forwarded event, freed when the event leaves.
TExceptionObjectRecord* g_foreignObject = nullptr;

// A forwarded event: the caller's record becomes current (the previous one
// waits in the backup), with an exception object of this module.
class ForwardedEvent {
 public:
  explicit ForwardedEvent(const TVantorExceptionRecord* record) {
    TVantorEventState& state = VantorEventState();
    backup_ = state.Current;
    hadCurrent_ = state.HasCurrent;
    state.Current = record ? *record : TVantorExceptionRecord{};
    state.Current.Text[sizeof state.Current.Text - 1] = 0;
    state.HasCurrent = true;
    bool created = false;
    const TExceptionObjectRecord* object = TranslateExceptionObject(state.Current, created);
    if (created) g_foreignObject = const_cast<TExceptionObjectRecord*>(object);
    state.Current.ExceptionObject = object;
    created_ = created;
  }
  ~ForwardedEvent() {
    TVantorEventState& state = VantorEventState();
    if (created_) {
      delete g_foreignObject;
      g_foreignObject = nullptr;
    }
    try {
      if (VantorModulesList()) CurrentVantorLogOptions()->PublishOptions();
    } catch (...) {
    }
    state.Current = backup_;
    state.HasCurrent = hadCurrent_;
  }

 private:
  TVantorExceptionRecord backup_;
  bool hadCurrent_ = false;
  bool created_ = false;
};

void* FindPeerExportOfException(const char* name) {
  return FindPeerExportIn(nullptr, name);
}

void RunFlagExport(TVantorFlagEvent event, const TVantorExceptionRecord* record, std::uint8_t* flag) {
  if (!IsActive() || !flag) return;
  try {
    ForwardedEvent forwarded(record);
    bool value = *flag != 0;
    CallLocalFlagHandlers(event, VantorEventState().Current, value);
    *flag = value ? 1 : 0;
  } catch (...) {
  }
}

void RunListExport(TVantorListEvent event, TStrings& local, const TVantorExceptionRecord* record,
                   const TVantorStringListRef* list) {
  if (!IsActive() || !list) return;
  try {
    ForwardedEvent forwarded(record);
    const TVantorStringListRef own = StringListRef(local);
    CopyStringListRef(*list, own);
    CallLocalListHandlers(event, VantorEventState().Current, local);
    CopyStringListRef(own, *list);
  } catch (...) {
  }
}

void RunActionExport(void (*handlers)(const TVantorExceptionRecord&, int, bool&), const TVantorExceptionRecord* record,
                     std::int32_t action, std::uint8_t* flag) {
  if (!IsActive() || !flag) return;
  try {
    ForwardedEvent forwarded(record);
    bool value = *flag != 0;
    handlers(VantorEventState().Current, action, value);
    *flag = value ? 1 : 0;
  } catch (...) {
  }
}

void RunPasswordHandlers(std::uint8_t* password, std::int32_t maxLength) {
  std::string text = ShortTextToPassword(password, 255);
  VantorEventState().Password = text;
  CallPasswordRequestHandlers(VantorEventState().Current, text);
  VantorEventState().Password = text;
  const std::string cut = text.substr(0, static_cast<std::size_t>(std::max(0, std::min(maxLength, 255))));
  std::uint8_t buffer[256];
  PasswordToShortText(cut, buffer);
  std::memcpy(password, buffer, 1 + cut.size());
}

}  // namespace

void* FindPeerExportIn(HMODULE module, const char* name) {
  if (!name) return nullptr;
  if (!module) {
    const std::uintptr_t address = VantorEventState().Current.ExceptionAddress;
    if (!address) return nullptr;
    module = GetModuleBaseOfAddress(reinterpret_cast<const void*>(address));
  }
  if (!module || module == ThisModule()) return nullptr;
  HMODULE loaded = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(module), &loaded) ||
      loaded != module)
    return nullptr;
  if (!ModuleHasDataBlock(module) || !IsVersionCompatible(GetDataBlockVersion(module))) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}

const TExceptionObjectRecord* TranslateExceptionObject(const TVantorExceptionRecord& record, bool& created) {
  created = false;
  const auto objectAddress = reinterpret_cast<std::uintptr_t>(record.ExceptionObject);
  if (objectAddress && ProcessMemory().IsReadable(objectAddress, sizeof(TExceptionObjectRecord))) {
    // Another copy's record: its names and message (its exception stays that module's).
    auto* copy = new TExceptionObjectRecord;
    copy->ClassChain = record.ExceptionObject->ClassChain;
    copy->Message = record.ExceptionObject->Message;
    copy->Address = record.ExceptionObject->Address;
    copy->IsActiveX = record.ExceptionObject->IsActiveX;
    copy->ActiveXClassNames = record.ExceptionObject->ActiveXClassNames;
    created = true;
    return copy;
  }
  const auto osRecord = reinterpret_cast<std::uintptr_t>(record.OsExceptionRecord);
  if (osRecord && ProcessMemory().IsReadable(osRecord, sizeof(EXCEPTION_RECORD))) {
    const auto* r = static_cast<const EXCEPTION_RECORD*>(record.OsExceptionRecord);
    TExternalExceptionRecord fault;
    fault.ExceptionCode = r->ExceptionCode;
    fault.ExceptionFlags = r->ExceptionFlags;
    fault.ExceptionAddress = reinterpret_cast<std::uintptr_t>(r->ExceptionAddress);
    for (DWORD i = 0; i < r->NumberParameters && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i)
      fault.Parameters.push_back(r->ExceptionInformation[i]);
    created = true;
    return new TExceptionObjectRecord(MakeExceptionObjectRecord(MapFaultRecord(fault), fault.ExceptionAddress));
  }
  return nullptr;
}

std::string CallPasswordRequestExport(HMODULE module, const std::string& password) {
  std::uint8_t buffer[256];
  PasswordToShortText(password, buffer);
  if (auto ex = reinterpret_cast<TPasswordEventExportEx>(FindPeerExportIn(module, kPasswordRequestExportEx))) {
    ex(&VantorEventState().Current, buffer, 255);
  } else if (auto plain = reinterpret_cast<TPasswordEventExport>(FindPeerExportIn(module, kPasswordRequestExport))) {
    plain(buffer, 255);
  } else {
    return password;
  }
  return ShortTextToPassword(buffer, 255);
}

void InstallPeerExportFinder() {
  SetPeerExportFinder(&FindPeerExportOfException);
}

// --- Exports ----------------------------------------------------------------------------------------------
extern "C" {

void __stdcall VantorLog_ExceptionNotifyEvent(const TVantorExceptionRecord* record, std::uint8_t* handled) {
  RunFlagExport(TVantorFlagEvent::ExceptionNotify, record, handled);
}

void __stdcall VantorLog_HandledExceptionNotifyEvent(const TVantorExceptionRecord* record, std::uint8_t* handled) {
  RunFlagExport(TVantorFlagEvent::HandledExceptionNotify, record, handled);
}

void __stdcall VantorLog_CustomButtonClickEvent(const TVantorExceptionRecord* record, std::uint8_t* close) {
  RunFlagExport(TVantorFlagEvent::CustomButtonClick, record, close);
}

void __stdcall VantorLog_ExceptionActionNotifyEvent(const TVantorExceptionRecord* record, std::int32_t action,
                                                    std::uint8_t* execute) {
  RunActionExport(&CallExceptionActionNotifyHandlers, record, action, execute);
}

void __stdcall VantorLog_ExceptionErrorNotifyEvent(const TVantorExceptionRecord* record, std::int32_t action,
                                                   std::uint8_t* retry) {
  RunActionExport(&CallExceptionErrorNotifyHandlers, record, action, retry);
}

void __stdcall VantorLog_CustomDataRequestEventEx(const TVantorExceptionRecord* record,
                                                  const TVantorStringListRef* list) {
  if (IsActive()) RunListExport(TVantorListEvent::CustomDataRequest, CustomDataLines(), record, list);
}

void __stdcall VantorLog_AttachedFilesRequestEvent(const TVantorExceptionRecord* record,
                                                   const TVantorStringListRef* list) {
  if (IsActive()) RunListExport(TVantorListEvent::AttachedFilesRequest, AttachedFileLines(), record, list);
}

void __stdcall VantorLog_CustomWebFieldsRequestEvent(const TVantorExceptionRecord* record,
                                                     const TVantorStringListRef* list) {
  if (IsActive()) RunListExport(TVantorListEvent::CustomWebFieldsRequest, CustomWebFieldLines(), record, list);
}

void __stdcall VantorLog_PasswordRequestEvent(std::uint8_t* password, std::int32_t maxLength) {
  if (!IsActive() || !password) return;
  try {
    RunPasswordHandlers(password, maxLength);
  } catch (...) {
  }
}

void __stdcall VantorLog_PasswordRequestEventEx(const TVantorExceptionRecord* record, std::uint8_t* password,
                                                std::int32_t maxLength) {
  if (!IsActive() || !password) return;
  try {
    ForwardedEvent forwarded(record);
    RunPasswordHandlers(password, maxLength);
  } catch (...) {
  }
}

}  // extern "C"
