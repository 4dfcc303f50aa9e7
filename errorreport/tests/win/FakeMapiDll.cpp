// A mail program's Simple MAPI library for the send check: MAPISendMail
// appends what it was given to the file named by MAPI_RECORD (one
// "key=value" line each: the subject, the flags, every recipient's name and
// address, every file's path and name, then "sent") and reports success.
#include <windows.h>
// after <windows.h>, whose types it uses
#include <mapi.h>

#include <cstdio>
#include <cstdlib>

extern "C" {

__declspec(dllexport) ULONG WINAPI MAPILogon(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPLHANDLE session) {
  *session = 0x5E55;
  return SUCCESS_SUCCESS;
}

__declspec(dllexport) ULONG WINAPI MAPILogoff(LHANDLE, ULONG_PTR, FLAGS, ULONG) {
  return SUCCESS_SUCCESS;
}

__declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR, lpMapiMessage message, FLAGS flags, ULONG) {
  const char* name = std::getenv("MAPI_RECORD");
  if (!name || session != 0x5E55) return MAPI_E_FAILURE;
  FILE* out = std::fopen(name, "ab");
  if (!out) return MAPI_E_FAILURE;
  std::fprintf(out, "subject=%s\nflags=%lu\nrecipients=%lu\n", message->lpszSubject ? message->lpszSubject : "",
               static_cast<unsigned long>(flags), static_cast<unsigned long>(message->nRecipCount));
  for (ULONG i = 0; i < message->nRecipCount; ++i)
    std::fprintf(out, "to=%lu %s %s\n", static_cast<unsigned long>(message->lpRecips[i].ulRecipClass),
                 message->lpRecips[i].lpszName, message->lpRecips[i].lpszAddress);
  std::fprintf(out, "files=%lu\n", static_cast<unsigned long>(message->nFileCount));
  for (ULONG i = 0; i < message->nFileCount; ++i)
    std::fprintf(out, "file=%s|%s|%lx\n", message->lpFiles[i].lpszPathName, message->lpFiles[i].lpszFileName,
                 static_cast<unsigned long>(message->lpFiles[i].nPosition));
  std::fprintf(out, "sent\n");
  std::fclose(out);
  return SUCCESS_SUCCESS;
}
}
