# Exception-reporting library: the data block (both forms), the option stream and Base64.
pellory_fuzzer(fuzz_vldata_block SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DataBlockFuzz.cpp LIBS errorreport_core)
pellory_fuzzer(fuzz_option_stream SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/OptionStreamFuzz.cpp LIBS errorreport_core)
pellory_fuzzer(fuzz_base64 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/Base64Fuzz.cpp LIBS errorreport_core)
# The length decoder, code measuring and trampoline building over random code.
pellory_fuzzer(fuzz_code_decoder SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/CodeDecoderFuzz.cpp LIBS errorreport_core)
# Source locations: the compact line table walk and the debug-information readers.
pellory_fuzzer(fuzz_line_table SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LineTableFuzz.cpp LIBS errorreport_core)
pellory_fuzzer(fuzz_map_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/MapFileFuzz.cpp LIBS errorreport_core)
pellory_fuzzer(fuzz_jdbg SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/JdbgFuzz.cpp LIBS errorreport_core)
pellory_fuzzer(fuzz_td32 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/Td32Fuzz.cpp LIBS errorreport_core)
# The disassembler over random code, with and without its hooks.
pellory_fuzzer(fuzz_disasm SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DisAsmFuzz.cpp LIBS errorreport_core)
# The whole text report over random code, stack and outside names.
pellory_fuzzer(fuzz_report_text SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ReportTextFuzz.cpp LIBS errorreport_core)
# The leak bytes of a module's data block.
pellory_fuzzer(fuzz_leak_options SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LeakOptionsFuzz.cpp LIBS errorreport_core)
# The log-file reader, its field queries and its XML form.
pellory_fuzzer(fuzz_log_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/LogFileFuzz.cpp LIBS errorreport_core)
# The report dialogs' text handling: wrapped heights, the e-mail line, line cells, placement numbers.
pellory_fuzzer(fuzz_report_dialog_text SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ReportDialogTextFuzz.cpp LIBS errorreport_core)
pellory_fuzzer(fuzz_web_page SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/WebPageFuzz.cpp LIBS errorreport_core)
# The HTML form scraper of the tracker senders, with entity decoding.
pellory_fuzzer(fuzz_form_scraper SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/FormScraperFuzz.cpp LIBS errorreport_core)
