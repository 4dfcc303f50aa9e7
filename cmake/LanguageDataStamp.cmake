# The version and build every piece of the wizard's language data carries
# (tools/langdata stamps them; the tests that read the data back know them), so that a language
# library left by another build of the program is out of step and built anew:
# the version is the program's (major * 10000 + minor * 100 + patch), the build
# a digest of everything a library is made from (the language sources, the
# program's string tables and its form). A change to any of them re-runs this.
math(EXPR PELLORY_LANGDATA_VERSION
  "${PROJECT_VERSION_MAJOR} * 10000 + ${PROJECT_VERSION_MINOR} * 100 + ${PROJECT_VERSION_PATCH}")
file(GLOB _inputs ${PELLORY_ROOT}/resources/languages/Pellory.*.txt)
list(SORT _inputs)
list(APPEND _inputs ${PELLORY_ROOT}/resources/Strings.rc ${PELLORY_ROOT}/resources/WizardForm.form
  ${PELLORY_ROOT}/components/resources/ComponentStrings.rc)
set(_all)
foreach(_file ${_inputs})
  file(SHA256 ${_file} _hash)
  string(APPEND _all ${_hash})
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_inputs})
string(SHA256 _hash "${PELLORY_LANGDATA_VERSION}${_all}")
string(SUBSTRING ${_hash} 0 7 _hash)
math(EXPR PELLORY_LANGDATA_BUILD "0x${_hash}")
