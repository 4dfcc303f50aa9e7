/* The headers that declare what the program imports from each system DLL it
   links: kernel32, user32, gdi32, advapi32, shell32, ole32, oleaut32, comctl32,
   comdlg32, winmm, ws2_32, setupapi, version, imm32, uxtheme, winspool,
   shlwapi, psapi, mpr, wininet, iphlpapi, dbghelp and the C runtime. The
   shipped-program check preprocesses it at two Windows versions and compares
   the names declared. */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <setupapi.h>
#include <winver.h>
#include <imm.h>
#include <uxtheme.h>
#include <winspool.h>
#include <shlwapi.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winnetwk.h>
#include <wininet.h>
#include <iphlpapi.h>
#include <dbghelp.h>
#include <mapi.h>
#include <htmlhelp.h>
#include <process.h>
#include <io.h>
#include <conio.h>
#include <direct.h>
#include <locale.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>
#include <ctype.h>
#include <malloc.h>
#include <setjmp.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/timeb.h>
#include <fcntl.h>
#include <float.h>
