# gcuproto_target(<target>): what every target of the project's own code
# shares, so that no target can miss one:
# - C++17, passed on to the programs that link a library;
# - the warning set;
# - hidden symbols: a library exports only what its headers mark with their
#   export macro, and an internal static library linked into one exports nothing;
# - the sanitizers of GCUPROTO_SANITIZE. A finding stops the program (no
#   recovery), so a test that trips a sanitizer fails. In a fuzzing build the
#   libraries also get libFuzzer's coverage instrumentation, so the fuzzers are
#   guided by the code they exercise.
function(gcuproto_target target)
  get_target_property(type ${target} TYPE)
  if(type MATCHES "^(STATIC|SHARED|OBJECT)_LIBRARY$")
    target_compile_features(${target} PUBLIC cxx_std_17)
  else()
    target_compile_features(${target} PRIVATE cxx_std_17)
  endif()
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  endif()
  if(GCUPROTO_SANITIZE)
    target_compile_options(${target} PRIVATE
      "-fsanitize=${GCUPROTO_SANITIZE}" -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE "-fsanitize=${GCUPROTO_SANITIZE}")
  endif()
  if(GCUPROTO_BUILD_FUZZERS AND NOT type STREQUAL "EXECUTABLE")
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# gcuproto_add_library(<name> SOURCES <file>... HEADERS <file>...): one of the
# package's libraries, gcuproto::<name>: the target gcuproto for the messages,
# gcuproto_<name> for the others. Shared or static as BUILD_SHARED_LIBS says.
# HEADERS are its public headers under include/ of the current source
# directory, installed at the same place under the prefix's include/.
#
# The library's export macro (<gcuproto/export.h>, <gcuproto/NAME/export.h>)
# exports when GCUPROTO[_NAME]_BUILDING is defined, and is empty when
# GCUPROTO[_NAME]_STATIC is, as it is for a static library and everything
# built against one.
function(gcuproto_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 library "" "" "SOURCES;HEADERS")
  if(name STREQUAL "gcuproto")
    set(target gcuproto)
    set(macro GCUPROTO)
  else()
    set(target gcuproto_${name})
    string(TOUPPER "GCUPROTO_${name}" macro)
  endif()
  add_library(${target} ${library_SOURCES})
  add_library(gcuproto::${name} ALIAS ${target})
  target_sources(${target} PUBLIC FILE_SET HEADERS
    BASE_DIRS "${CMAKE_CURRENT_SOURCE_DIR}/include"
    FILES ${library_HEADERS})
  set_target_properties(${target} PROPERTIES
    EXPORT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    # A static library may still end up in a shared object: a consumer's
    # plugin, or the Python module.
    POSITION_INDEPENDENT_CODE ON
    # Finds the package's other libraries beside it wherever it is installed;
    # a program's own run path does not reach the dependencies of its libraries.
    INSTALL_RPATH "$ORIGIN")
  target_compile_definitions(${target} PRIVATE ${macro}_BUILDING)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    target_compile_definitions(${target} PUBLIC ${macro}_STATIC)
  endif()
  gcuproto_target(${target})
endfunction()
