# The wizard (Windows): the program's start-up time to its first page (with and
# without the tree view's unit, PelloryWithoutTree.exe beside Pellory.exe), and the
# time from the Connect click to the model shown with a simulated phone on the
# cable (scripts/run-benchmarks starts the simulators for it).
pellory_bench(bench_wizard WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wizard/WizardBench.cpp
  LIBS user32 advapi32)
if(TARGET bench_wizard AND TARGET Pellory)
  add_dependencies(bench_wizard Pellory)
endif()
if(TARGET bench_wizard AND TARGET wizard_win AND TARGET pellory_resources)
  add_executable(PelloryWithoutTree WIN32 ${CMAKE_CURRENT_LIST_DIR}/wizard/PelloryWithoutTree.cpp)
  pellory_target_options(PelloryWithoutTree)
  target_link_libraries(PelloryWithoutTree PRIVATE wizard_win pellory_resources)
  set_target_properties(PelloryWithoutTree PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/wizard)
  add_dependencies(PelloryWithoutTree tlq_img)
  add_dependencies(bench_wizard PelloryWithoutTree)
endif()
