// The Win32 half of the events: the exports that the peer copies of the
// library call (undecorated names from the library's .def file), the search
// for a peer's export and the password request to another module.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "EEvents.h"

// The named export of `module` (null: the module that holds the current
// exception address), when that module is loaded, is not this one and
// carries a data block of a compatible version (6000-6100); else null.
void* FindPeerExportIn(HMODULE module, const char* name);
// This module's object for a record's exception: a copy of another copy's
// record, or one made from the system's exception record (`created` set; the
// caller frees it), else null.
const TExceptionObjectRecord* TranslateExceptionObject(const TVantorExceptionRecord& record, bool& created);
// Asks the password of `module`'s debug data from that module's password
// export (the form with the record first); the text as it came back, cut to 255.
std::string CallPasswordRequestExport(HMODULE module, const std::string& password);
// Makes FindPeerExport search the exception's module.
void InstallPeerExportFinder();

extern "C" {
void __stdcall VantorLog_ExceptionNotifyEvent(const TVantorExceptionRecord* record, std::uint8_t* handled);
void __stdcall VantorLog_HandledExceptionNotifyEvent(const TVantorExceptionRecord* record, std::uint8_t* handled);
void __stdcall VantorLog_CustomButtonClickEvent(const TVantorExceptionRecord* record, std::uint8_t* close);
void __stdcall VantorLog_ExceptionActionNotifyEvent(const TVantorExceptionRecord* record, std::int32_t action,
                                                    std::uint8_t* execute);
void __stdcall VantorLog_ExceptionErrorNotifyEvent(const TVantorExceptionRecord* record, std::int32_t action,
                                                   std::uint8_t* retry);
void __stdcall VantorLog_CustomDataRequestEventEx(const TVantorExceptionRecord* record,
                                                  const TVantorStringListRef* list);
void __stdcall VantorLog_AttachedFilesRequestEvent(const TVantorExceptionRecord* record,
                                                   const TVantorStringListRef* list);
void __stdcall VantorLog_CustomWebFieldsRequestEvent(const TVantorExceptionRecord* record,
                                                     const TVantorStringListRef* list);
void __stdcall VantorLog_PasswordRequestEvent(std::uint8_t* password, std::int32_t maxLength);
void __stdcall VantorLog_PasswordRequestEventEx(const TVantorExceptionRecord* record, std::uint8_t* password,
                                                std::int32_t maxLength);
}
