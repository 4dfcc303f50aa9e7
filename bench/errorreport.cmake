# Exception reporting: naming a full call stack (1024 addresses) from a line table of 5000 functions.
pellory_bench(bench_locations SOURCES ${CMAKE_CURRENT_LIST_DIR}/errorreport/LocationBench.cpp
  ${PELLORY_ROOT}/tools/vldata/VLDebugWriter.cpp LIBS errorreport_core)
if(TARGET bench_locations)
  target_include_directories(bench_locations PRIVATE ${PELLORY_ROOT}/tools/vldata)
endif()

# Exception-reporting library: the disassembler on 1 MB of real code (the cross
# compiler's C++ runtime library), beside objdump on the same bytes (native).
if(NOT WIN32)
  find_program(PELLORY_BENCH_I686_GCC i686-w64-mingw32-gcc)
  find_program(PELLORY_BENCH_I686_OBJDUMP i686-w64-mingw32-objdump)
  find_program(PELLORY_BENCH_I686_OBJCOPY i686-w64-mingw32-objcopy)
  if(PELLORY_BENCH_I686_GCC AND PELLORY_BENCH_I686_OBJDUMP AND PELLORY_BENCH_I686_OBJCOPY)
    execute_process(COMMAND ${PELLORY_BENCH_I686_GCC} -print-file-name=libstdc++-6.dll
                    OUTPUT_VARIABLE _code_library OUTPUT_STRIP_TRAILING_WHITESPACE)
    pellory_bench(bench_disasm NATIVE_ONLY
      SOURCES ${CMAKE_CURRENT_LIST_DIR}/errorreport/DisAsmBench.cpp
      LIBS errorreport_core)
    if(TARGET bench_disasm)
      target_compile_definitions(bench_disasm PRIVATE
        PELLORY_I686_OBJDUMP="${PELLORY_BENCH_I686_OBJDUMP}" PELLORY_I686_OBJCOPY="${PELLORY_BENCH_I686_OBJCOPY}"
        PELLORY_BENCH_CODE_LIBRARY="${_code_library}")
    endif()
  endif()
endif()

# The leak catcher's allocate/free pair with the catcher off and on.
pellory_bench(bench_errorreport_leaks NATIVE_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/errorreport/LeaksBench.cpp
  LIBS errorreport_core)

# The report builder: the golden report of its checks built 1,000 times.
pellory_bench(bench_errorreport_report NATIVE_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/errorreport/ReportBench.cpp
  LIBS errorreport_core)
if(TARGET bench_errorreport_report)
  target_include_directories(bench_errorreport_report PRIVATE ${PELLORY_ROOT}/errorreport/tests)
endif()

# A throw and its catch with the library active (a data block of the default
# options) beside the library dormant (Windows, the throw and end-of-catch wrappers linked in).
if(WIN32 AND NOT PELLORY_HOST_TOOLS AND NOT PELLORY_FUZZ)
  pellory_tool_path(vldata _catch_vldata)
  set(_catch_blk ${CMAKE_CURRENT_BINARY_DIR}/catch-bench-block)
  add_custom_command(OUTPUT ${_catch_blk}.rc ${_catch_blk}.bin
    COMMAND ${_catch_vldata} --default-options ${_catch_blk}-options.bin
    COMMAND ${_catch_vldata} --options ${_catch_blk}-options.bin --rc ${_catch_blk}.rc ${_catch_blk}.bin
    DEPENDS pellory_tools
    COMMENT "vldata catch-bench-block.rc"
    VERBATIM)
  pellory_bench(bench_errorreport_catch WINDOWS_ONLY
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/errorreport/CatchBench.cpp ${_catch_blk}.rc
    LIBS errorreport_win)
  target_compile_options(bench_errorreport_catch PRIVATE -fno-inline)
  pellory_capture_exceptions(bench_errorreport_catch)
endif()
