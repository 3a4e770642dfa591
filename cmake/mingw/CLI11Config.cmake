# CLI11 for a mingw cross build: the build machine's header-only library.
# .ci/windows copies this file and the headers into the prefix of the Windows
# dependencies.
get_filename_component(_cli11_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${_cli11_prefix}/include")
endif()
set(CLI11_FOUND TRUE)
