# Localization: LZJ compression and decompression throughput beside zlib on the same text.
pellory_bench(bench_lzj SOURCES ${CMAKE_CURRENT_LIST_DIR}/localization/LzjBench.cpp LIBS localization_core pellory_zlib)
# Localization: re-translating the wizard form from the German data (it runs during start-up).
pellory_bench(bench_live_forms NATIVE_ONLY SOURCES ${CMAKE_CURRENT_LIST_DIR}/localization/LiveFormsBench.cpp
  LIBS localization_core langdata_core)
if(TARGET bench_live_forms)
  target_include_directories(bench_live_forms PRIVATE ${PELLORY_ROOT}/localization/tests)
  target_compile_definitions(bench_live_forms PRIVATE PELLORY_SOURCE_DIR="${PELLORY_ROOT}")
endif()
# Localization: building the German language library and installing it (both paid at the first start in a language).
pellory_bench(bench_lang_library NATIVE_ONLY SOURCES ${CMAKE_CURRENT_LIST_DIR}/localization/LangLibraryBench.cpp
  LIBS localization_core langdata_core)
if(TARGET bench_lang_library)
  target_compile_definitions(bench_lang_library PRIVATE PELLORY_SOURCE_DIR="${PELLORY_ROOT}")
endif()
# Localization: switching the running program to German, with the library built and with it reused.
pellory_bench(bench_loc_on_fly NATIVE_ONLY SOURCES ${CMAKE_CURRENT_LIST_DIR}/localization/LocOnFlyBench.cpp
  LIBS localization_core langdata_core)
if(TARGET bench_loc_on_fly)
  target_compile_definitions(bench_loc_on_fly PRIVATE PELLORY_SOURCE_DIR="${PELLORY_ROOT}")
endif()
