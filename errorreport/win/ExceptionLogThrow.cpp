// The throw and end-of-catch wrappers. Only a module linked with --wrap=__cxa_throw and --wrap=__cxa_end_catch (the
// CMake helper pellory_capture_exceptions) refers to it, so only such a module takes this object from the library, with
// its call of the real entry.
#include <windows.h>

#include <cstdint>
#include <typeinfo>

#include "ExceptionLogCapture.h"

extern "C" [[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*));

extern "C" [[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
  NoteLanguageRaise(object, type, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)),
                    static_cast<std::uintptr_t*>(__builtin_frame_address(0)));
  __real___cxa_throw(object, type, destructor);
}

extern "C" void __real___cxa_end_catch();

extern "C" void __wrap___cxa_end_catch() {
  NoteEndOfCatch();
  __real___cxa_end_catch();
}
