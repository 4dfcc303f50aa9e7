# The wizard (Windows): the program's start-up time to its first page, and the
# time from the Connect click to the model shown with a simulated phone on the
# cable (scripts/run-benchmarks starts the simulators for it).
pellory_bench(bench_wizard WINDOWS_ONLY
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wizard/WizardBench.cpp
  LIBS user32 advapi32)
if(TARGET bench_wizard AND TARGET Pellory)
  add_dependencies(bench_wizard Pellory)
endif()
