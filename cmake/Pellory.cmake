# Build helpers shared by every module.
#
#   pellory_target_options(<target>)      warnings (errors with PELLORY_WERROR) for the project's own code
#   pellory_test(<name> SOURCES ... [LIBS ...] [NATIVE_ONLY | WINDOWS_ONLY] [TIMEOUT s] [ARGS ...])
#                                          a GoogleTest binary run by CTest; on the Windows presets it runs
#                                          under Wine with Xvfb, and the run fails unless at least one test ran
#   pellory_fuzzer(<name> SOURCES ... [LIBS ...])   a libFuzzer target (only in the fuzz preset)
#   pellory_bench(<name> SOURCES ... [LIBS ...])    a benchmark binary run by `make bench`
#
# Portable code is built on every preset; Win32 code only where WIN32 is true.

set(PELLORY_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
get_filename_component(PELLORY_ROOT ${PELLORY_ROOT} ABSOLUTE)
set(PELLORY_RUN_TEST ${PELLORY_ROOT}/scripts/run-test)
set(PELLORY_WINE_DIR ${CMAKE_BINARY_DIR}/wine)

if(NOT PELLORY_DEPS)
  set(PELLORY_DEPS ${PELLORY_ROOT}/build/deps)
endif()

# Every compile goes through scripts/compile-slot, which lets the trees that
# `make test` builds side by side share one pool of compiles, and then through
# ccache when it is installed (scripts/setup installs it). A tree decides when it
# is first configured and keeps its choice: every later configure and the host
# tree below use the same compile commands. (CCACHE_BASEDIR, which the Makefile
# sets, lets another clone of the same sources reuse the cache.)
option(PELLORY_CCACHE "Compile through ccache when it is installed" ON)
if(NOT DEFINED CMAKE_CXX_COMPILER_LAUNCHER)
  set(_launcher ${PELLORY_ROOT}/scripts/compile-slot)
  if(PELLORY_CCACHE)
    find_program(PELLORY_CCACHE_PROGRAM ccache)
    if(PELLORY_CCACHE_PROGRAM)
      list(APPEND _launcher ${PELLORY_CCACHE_PROGRAM})
    endif()
  endif()
  set(CMAKE_C_COMPILER_LAUNCHER "${_launcher}" CACHE STRING "Launcher of C compiles")
  set(CMAKE_CXX_COMPILER_LAUNCHER "${_launcher}" CACHE STRING "Launcher of C++ compiles")
endif()

if(PELLORY_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

option(PELLORY_SANITIZE_THREAD "Build with ThreadSanitizer (not together with PELLORY_SANITIZE)" OFF)
if(PELLORY_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(PELLORY_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Windows 2000 API level and above; the program still runs on the 9x line
  # where it checks the platform at run time.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
  # The leak catcher walks the frame-pointer chain of the 32-bit build.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_compile_options(-fno-omit-frame-pointer)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELLORY_RUN_TEST};--wine)
  # The program ships as one file: code optimised for size (-Os took .text of the 32-bit program from 4.3 MB
  # to 2.9 MB). Functions stay in one text section per unit: the exception library finds its own code by
  # where its first and last units lie, and reads the debug sections nothing in the program refers to, so
  # neither -ffunction-sections nor the linker's --gc-sections may be used here.
  add_compile_options(-Os)
endif()

# A test's time-out is there to end a hang, not to fail a slow run: on a machine
# busy with other work a test under Wine can take several times its usual time.
# Every test gets at least PELLORY_MIN_TEST_TIMEOUT seconds, whatever time-out
# its directory gave it (checked at the end of the directory, after its own
# set_tests_properties calls).
set(PELLORY_MIN_TEST_TIMEOUT 600)
function(pellory_timeout_floor name)
  get_test_property(${name} TIMEOUT timeout)
  if(NOT timeout OR timeout LESS PELLORY_MIN_TEST_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${PELLORY_MIN_TEST_TIMEOUT})
  endif()
endfunction()
function(add_test)
  _add_test(${ARGV})
  if(ARGV0 STREQUAL "NAME")
    cmake_language(EVAL CODE "cmake_language(DEFER CALL pellory_timeout_floor [[${ARGV1}]])")
  endif()
endfunction()

# --- Dependencies ---------------------------------------------------------------------------------
add_library(pellory_zlib INTERFACE)
add_library(pellory_jpeg INTERFACE)
add_library(pellory_minizip INTERFACE)
if(WIN32)
  set(_deps ${PELLORY_DEPS}/${PELLORY_TRIPLE})
  if(NOT EXISTS ${_deps}/lib/libjpeg.a OR NOT EXISTS ${_deps}/lib/libminizip.a)
    message(FATAL_ERROR "libjpeg/minizip for ${PELLORY_TRIPLE} not found in ${_deps}: run scripts/setup")
  endif()
  target_link_libraries(pellory_zlib INTERFACE z)
  target_include_directories(pellory_jpeg SYSTEM INTERFACE ${_deps}/include)
  target_link_libraries(pellory_jpeg INTERFACE ${_deps}/lib/libjpeg.a)
  target_include_directories(pellory_minizip SYSTEM INTERFACE ${_deps}/include)
  target_link_libraries(pellory_minizip INTERFACE ${_deps}/lib/libminizip.a pellory_zlib)
else()
  find_package(ZLIB REQUIRED)
  find_package(JPEG REQUIRED)
  find_library(MINIZIP_LIBRARY minizip REQUIRED)
  find_path(MINIZIP_INCLUDE_DIR minizip/zip.h REQUIRED)
  target_link_libraries(pellory_zlib INTERFACE ZLIB::ZLIB)
  target_link_libraries(pellory_jpeg INTERFACE JPEG::JPEG)
  target_include_directories(pellory_minizip SYSTEM INTERFACE ${MINIZIP_INCLUDE_DIR})
  target_link_libraries(pellory_minizip INTERFACE ${MINIZIP_LIBRARY} pellory_zlib)
endif()

# --- GoogleTest -----------------------------------------------------------------------------------
if(NOT PELLORY_FUZZ)
  if(WIN32)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

function(pellory_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(PELLORY_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

function(pellory_test name)
  cmake_parse_arguments(T "NATIVE_ONLY;WINDOWS_ONLY" "TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
  if(PELLORY_FUZZ OR PELLORY_HOST_TOOLS OR (T_NATIVE_ONLY AND WIN32) OR (T_WINDOWS_ONLY AND NOT WIN32))
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  pellory_target_options(${name})
  if(WIN32)
    # The test sources themselves are compiled without optimisation (the code under test keeps its own): half the
    # compile time of the Windows builds goes into them, and optimising them buys nothing.
    target_compile_options(${name} PRIVATE -O0)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PELLORY_ROOT}/tests/support)
  # Tests that read files of the source tree find it here (an absolute path; under Wine on drive Z:).
  target_compile_definitions(${name} PRIVATE PELLORY_SOURCE_DIR="${PELLORY_ROOT}")
  if(WIN32)
    # The emulator (scripts/run-test --wine) is put in front of the target by CTest.
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine
      ENVIRONMENT "PELLORY_WINE_DIR=${PELLORY_WINE_DIR}")
  else()
    add_test(NAME ${name} COMMAND ${PELLORY_RUN_TEST} $<TARGET_FILE:${name}> ${T_ARGS})
  endif()
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

function(pellory_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT PELLORY_FUZZ)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  pellory_target_options(${name})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY PELLORY_FUZZERS ${name})
endfunction()

function(pellory_bench name)
  cmake_parse_arguments(B "NATIVE_ONLY;WINDOWS_ONLY" "" "SOURCES;LIBS" ${ARGN})
  if(PELLORY_FUZZ OR (B_NATIVE_ONLY AND WIN32) OR (B_WINDOWS_ONLY AND NOT WIN32))
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  pellory_target_options(${name})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
  target_include_directories(${name} PRIVATE ${PELLORY_ROOT}/bench/support)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  set_property(GLOBAL APPEND PROPERTY PELLORY_BENCHMARKS ${name})
endfunction()

# --- Host tools -----------------------------------------------------------------------------------
# Tools that run on the build machine (the form compiler, the phone simulator) are built natively
# even in the Windows presets: there the tree is configured once more for the host with
# PELLORY_HOST_TOOLS=ON, which builds only the portable framework and tools/. Both Windows presets
# share that host tree (build/host); its configure and build run under a lock, so the two presets
# may build at the same time.
#
#   pellory_host_tool(<name> SOURCES ... [LIBS ...])   declares a tool (built into <host tree>/bin)
#   pellory_tool_path(<name> <var>)                     path of the tool's executable on the build machine
#   pellory_tools                                       target to depend on before running a tool
option(PELLORY_HOST_TOOLS "Build only the host tools" OFF)

if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(PELLORY_HOST_TREE ${PELLORY_ROOT}/build/host)
  set(_host_lock flock ${PELLORY_ROOT}/build/host.lock)
  # The configure step takes the lock as well: the two Windows trees reach it at the same time in a
  # fresh checkout, and two configures of one tree write over each other's files. The launchers are
  # lists (compile-slot, then ccache): their separator is '|' until the command is run.
  string(REPLACE ";" "|" _host_c_launcher "${CMAKE_C_COMPILER_LAUNCHER}")
  string(REPLACE ";" "|" _host_cxx_launcher "${CMAKE_CXX_COMPILER_LAUNCHER}")
  ExternalProject_Add(pellory_host_build
    SOURCE_DIR ${PELLORY_ROOT}
    BINARY_DIR ${PELLORY_HOST_TREE}
    LIST_SEPARATOR |
    CONFIGURE_COMMAND ${_host_lock} ${CMAKE_COMMAND} -G Ninja -S ${PELLORY_ROOT} -B ${PELLORY_HOST_TREE}
                      -DCMAKE_BUILD_TYPE=Release -DPELLORY_HOST_TOOLS=ON -DPELLORY_DEPS=${PELLORY_DEPS}
                      -DPELLORY_WERROR=${PELLORY_WERROR} -DPELLORY_CCACHE=${PELLORY_CCACHE}
                      "-DCMAKE_C_COMPILER_LAUNCHER:STRING=${_host_c_launcher}"
                      "-DCMAKE_CXX_COMPILER_LAUNCHER:STRING=${_host_cxx_launcher}"
    BUILD_COMMAND ${_host_lock} ${CMAKE_COMMAND} --build ${PELLORY_HOST_TREE}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  add_custom_target(pellory_tools DEPENDS pellory_host_build)
  set(PELLORY_HOST_BIN ${PELLORY_HOST_TREE}/bin)
else()
  add_custom_target(pellory_tools)
  set(PELLORY_HOST_BIN ${CMAKE_BINARY_DIR}/bin)
endif()

function(pellory_host_tool name)
  cmake_parse_arguments(H "" "" "SOURCES;LIBS" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    return()
  endif()
  add_executable(${name} ${H_SOURCES})
  pellory_target_options(${name})
  target_link_libraries(${name} PRIVATE ${H_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  add_dependencies(pellory_tools ${name})
endfunction()

function(pellory_tool_path name var)
  set(${var} ${PELLORY_HOST_BIN}/${name} PARENT_SCOPE)
endfunction()

# --- Modules --------------------------------------------------------------------------------------
#   pellory_module(<name> [DEPENDS <libs>...] [WIN_DEPENDS <libs>...])
# in <module>/CMakeLists.txt builds, by folder:
#   <module>/*.cpp            -> <name>_core   portable code (no <windows.h>), every preset
#   <module>/win/*.cpp        -> <name>_win    Win32 code, Windows presets only (links <name>_core)
#   <module>/tests/*Test.cpp  -> <name>_tests  portable tests, run natively and under Wine
#   <module>/tests/win/*Test.cpp -> <name>_win_tests  Windows-only tests, run under Wine
# Headers are included by file name: the module folder (and win/) is on the include path.
function(pellory_module name)
  cmake_parse_arguments(M "" "" "DEPENDS;WIN_DEPENDS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB core_sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(core_sources)
    add_library(${name}_core STATIC ${core_sources})
    pellory_target_options(${name}_core)
    target_include_directories(${name}_core PUBLIC ${dir})
    target_link_libraries(${name}_core PUBLIC framework_base ${M_DEPENDS})
  else()
    add_library(${name}_core INTERFACE)
    target_include_directories(${name}_core INTERFACE ${dir})
    target_link_libraries(${name}_core INTERFACE framework_base ${M_DEPENDS})
  endif()
  if(WIN32 AND NOT PELLORY_HOST_TOOLS)
    file(GLOB win_sources CONFIGURE_DEPENDS ${dir}/win/*.cpp)
    if(win_sources)
      add_library(${name}_win STATIC ${win_sources})
      pellory_target_options(${name}_win)
      target_include_directories(${name}_win PUBLIC ${dir}/win)
      target_link_libraries(${name}_win PUBLIC ${name}_core ${M_WIN_DEPENDS})
      if(TARGET framework_win)
        target_link_libraries(${name}_win PUBLIC framework_win)
      endif()
    endif()
  endif()
  file(GLOB core_tests CONFIGURE_DEPENDS ${dir}/tests/*Test.cpp)
  if(core_tests)
    pellory_test(${name}_tests SOURCES ${core_tests} LIBS ${name}_core)
  endif()
  if(TARGET ${name}_win)
    file(GLOB win_tests CONFIGURE_DEPENDS ${dir}/tests/win/*Test.cpp)
    if(win_tests)
      pellory_test(${name}_win_tests WINDOWS_ONLY SOURCES ${win_tests} LIBS ${name}_win)
    endif()
  endif()
endfunction()

# A Windows target that carries the exception-reporting library links the report
# dialogs' templates and pictures (the library loads them from its own module).
function(pellory_report_dialogs target)
  if(WIN32 AND NOT PELLORY_HOST_TOOLS AND NOT PELLORY_FUZZ)
    enable_language(RC)
    target_sources(${target} PRIVATE ${PELLORY_ROOT}/errorreport/win/res/ReportDialogs.rc)
  endif()
endfunction()

# A Windows program that carries the exception-reporting library exports the
# library's entry points by their undecorated names: other modules of the
# process look them up in the main module.
function(pellory_library_exports target)
  if(WIN32 AND NOT PELLORY_HOST_TOOLS AND NOT PELLORY_FUZZ)
    # 32-bit stdcall symbols carry "@bytes"; the exported names do not. The
    # linker takes the .def file as an input (a program's sources pass none).
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(_def ${PELLORY_ROOT}/errorreport/win/ExceptionLog32.def)
    else()
      set(_def ${PELLORY_ROOT}/errorreport/win/ExceptionLog64.def)
    endif()
    target_link_options(${target} PRIVATE ${_def})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${_def})
  endif()
endfunction()

# A Windows target that carries the exception-reporting library: its throws
# and the ends of its catch clauses pass through the library's wrappers, and it exports the library's
# entry points by their undecorated names.
function(pellory_capture_exceptions target)
  if(WIN32 AND NOT PELLORY_HOST_TOOLS AND NOT PELLORY_FUZZ)
    target_link_options(${target} PRIVATE -Wl,--wrap=__cxa_throw -Wl,--wrap=__cxa_end_catch)
    pellory_library_exports(${target})
    pellory_report_dialogs(${target})
  endif()
endfunction()
