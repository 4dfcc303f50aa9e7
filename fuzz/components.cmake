# Components: GIF files, GIF pictures' form data, GIF raster data, animated cursor files, icon lists' form data, help-project map files (with includes) and the help-context map's FileData value.
pellory_fuzzer(fuzz_gif_lzw SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/GifLzwFuzz.cpp LIBS components_core)
pellory_fuzzer(fuzz_gif_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/GifFileFuzz.cpp LIBS components_core)
pellory_fuzzer(fuzz_gif_form_data SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/GifFormDataFuzz.cpp LIBS components_core)
pellory_fuzzer(fuzz_ani_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/AniFileFuzz.cpp LIBS components_core)
pellory_fuzzer(fuzz_icons_layout SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/IconsLayoutFuzz.cpp LIBS components_core)
pellory_fuzzer(fuzz_help_map SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/HelpMapFuzz.cpp LIBS components_core)
pellory_fuzzer(fuzz_help_file_data SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/HelpFileDataFuzz.cpp LIBS components_core)
# Mark-up text over the test surface, and the frame scan of mark-up pictures.
pellory_fuzzer(fuzz_html_render SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/HtmlRenderFuzz.cpp LIBS components_core)
if(TARGET fuzz_html_render)
  target_include_directories(fuzz_html_render PRIVATE ${PELLORY_ROOT}/components/tests)
endif()
pellory_fuzzer(fuzz_html_gif_frames SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/HtmlGifFramesFuzz.cpp LIBS components_core)
# JPEG files through the libjpeg codec.
pellory_fuzzer(fuzz_jpeg_file SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/JpegFileFuzz.cpp LIBS components_core)
