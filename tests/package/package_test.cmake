# Builds a project against gcuproto. CASE says which and how it gets gcuproto:
#   installed     examples/consumer, find_package() in the installed PREFIX,
#                 moved first: the package must not depend on where it was installed
#   build_tree    examples/consumer, find_package() with gcuproto_DIR at the BUILD_TREE
#   subdirectory  examples/consumer, add_subdirectory() of the SOURCE_TREE, which
#                 builds static libraries there, as the consumer leaves
#                 BUILD_SHARED_LIBS unset
#   pkg_config    examples/consumer, no CMake: the compiler CXX with the flags of
#                 PREFIX's .pc files
#   headers       a project of one source file per header installed in PREFIX,
#                 each including that header alone: a header must include what
#                 it uses; warnings are errors, as a user's build may make them.
#                 Every header of the libraries' source include directories
#                 (SOURCE_DIRS) must be among those installed.
# The consumer's two programs are run; the test checks what they print.
# A cross build passes its TOOLCHAIN, the DEPENDENCIES' prefixes and the
# EMULATOR that runs its programs; LAUNCHER is the compiler launcher (ccache)
# of the build under test. Lists are joined by "^^".
cmake_minimum_required(VERSION 3.23)
file(REMOVE_RECURSE "${WORK_DIR}")
set(build "${WORK_DIR}/build")
file(MAKE_DIRECTORY "${build}")
string(REPLACE "^^" ";" DEPENDENCIES "${DEPENDENCIES}")
string(REPLACE "^^" ";" EMULATOR "${EMULATOR}")
string(REPLACE "^^" ";" SOURCE_DIRS "${SOURCE_DIRS}")
string(REPLACE "^^" ";" COMPONENTS "${COMPONENTS}")
set(programs identity_query blackbox_lines)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message("${out}")
endfunction()

if(CASE STREQUAL "pkg_config")
  # A cross build reads its dependencies' .pc files, not the build machine's.
  set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")
  if(EMULATOR)
    set(pc_dirs "${PREFIX}/${LIBDIR}/pkgconfig")
    foreach(dependency IN LISTS DEPENDENCIES)
      list(APPEND pc_dirs "${dependency}/lib/pkgconfig")
    endforeach()
    list(JOIN pc_dirs ":" pc_dirs)
    set(ENV{PKG_CONFIG_LIBDIR} "${pc_dirs}")
  endif()
  # gcuproto-blackbox.pc requires gcuproto.pc, so both are read.
  execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs gcuproto-blackbox
    RESULT_VARIABLE rc OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config cannot use gcuproto.pc: ${err}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  foreach(program IN LISTS programs)
    run("${CXX}" -std=c++17 "${SOURCE_DIR}/${program}.cc" -o "${build}/${program}" ${flags})
  endforeach()
  set(ENV{LD_LIBRARY_PATH} "${PREFIX}/${LIBDIR}")
  set(dll_dir "${PREFIX}/bin")
else()
  set(how "")
  if(CASE STREQUAL "installed")
    set(moved "${WORK_DIR}/moved-prefix")
    file(COPY "${PREFIX}/" DESTINATION "${moved}")
    list(PREPEND DEPENDENCIES "${moved}")
    set(dll_dir "${moved}/bin")
  elseif(CASE STREQUAL "build_tree")
    set(how "-Dgcuproto_DIR=${BUILD_TREE}")
    set(dll_dir "${BUILD_TREE}/bin")
  elseif(CASE STREQUAL "headers")
    file(GLOB_RECURSE headers RELATIVE "${PREFIX}/include" "${PREFIX}/include/gcuproto/*.h")
    foreach(dir IN LISTS SOURCE_DIRS)
      file(GLOB_RECURSE sources RELATIVE "${dir}" "${dir}/*.h")
      foreach(header IN LISTS sources)
        if(NOT header IN_LIST headers)
          message(FATAL_ERROR "${dir}/${header} is not installed: list it in its library's HEADERS")
        endif()
      endforeach()
    endforeach()
    set(SOURCE_DIR "${WORK_DIR}/project")
    list(JOIN COMPONENTS " " names)
    list(TRANSFORM COMPONENTS PREPEND "gcuproto::" OUTPUT_VARIABLE targets)
    list(JOIN targets " " targets)
    file(WRITE "${SOURCE_DIR}/CMakeLists.txt"
      "cmake_minimum_required(VERSION 3.23)\nproject(headers LANGUAGES CXX)\n"
      "find_package(gcuproto REQUIRED COMPONENTS ${names})\n"
      "file(GLOB sources *.cc)\n"
      "add_library(headers OBJECT \${sources})\n"
      "target_link_libraries(headers PRIVATE ${targets})\n"
      # Imported include directories are system ones, whose warnings are silenced.
      "set_target_properties(headers PROPERTIES NO_SYSTEM_FROM_IMPORTED ON)\n"
      "if(CMAKE_CXX_COMPILER_ID MATCHES \"GNU|Clang\")\n"
      "  target_compile_options(headers PRIVATE -Wall -Wextra -Wpedantic -Werror)\n"
      "endif()\n")
    foreach(header IN LISTS headers)
      string(MAKE_C_IDENTIFIER "${header}" name)
      file(WRITE "${SOURCE_DIR}/${name}.cc" "#include <${header}>\n")
    endforeach()
    list(PREPEND DEPENDENCIES "${PREFIX}")
    set(programs "")
  elseif(CASE STREQUAL "subdirectory")
    set(how "-DGCUPROTO_SOURCE_TREE=${SOURCE_TREE}" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
    set(dll_dir "${build}/gcuproto/bin")
  else()
    message(FATAL_ERROR "unknown CASE ${CASE}")
  endif()
  list(JOIN DEPENDENCIES "\;" prefixes)
  set(options "")
  if(TOOLCHAIN)
    list(APPEND options "--toolchain=${TOOLCHAIN}")
  endif()
  if(LAUNCHER)
    list(APPEND options "-DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER}")
  endif()
  run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${build}" -G "${GENERATOR}" ${options} ${how}
      "-DCMAKE_PREFIX_PATH=${prefixes}" -DCMAKE_BUILD_TYPE=Release)
  run("${CMAKE_COMMAND}" --build "${build}" --parallel 2)
endif()

if(CASE STREQUAL "subdirectory")
  # A subproject builds its libraries and nothing else unless asked.
  file(READ "${build}/CMakeCache.txt" cache)
  foreach(option INSTALL BUILD_TOOLS BUILD_TESTS BUILD_PYTHON)
    if(NOT cache MATCHES "\nGCUPROTO_${option}:BOOL=OFF\n")
      message(FATAL_ERROR "GCUPROTO_${option} is not off by default in a subproject")
    endif()
  endforeach()
  # Only the libraries the programs link are built, as archives, and the
  # programs are compiled with the definitions that empty the export macros.
  file(GLOB_RECURSE libraries RELATIVE "${build}/gcuproto" "${build}/gcuproto/*gcuproto*.a"
    "${build}/gcuproto/*gcuproto*.so*" "${build}/gcuproto/*gcuproto*.dll")
  list(TRANSFORM libraries REPLACE ".*/" "")
  list(SORT libraries)
  if(NOT libraries STREQUAL "libgcuproto.a;libgcuproto_blackbox.a")
    message(FATAL_ERROR "expected the two static libraries the programs use, built: ${libraries}")
  endif()
  file(READ "${build}/compile_commands.json" commands)
  string(REGEX MATCH "\"command\": \"[^\"]*blackbox_lines\\.cc" command "${commands}")
  foreach(definition GCUPROTO_STATIC GCUPROTO_BLACKBOX_STATIC)
    if(NOT command MATCHES " -D${definition} ")
      message(FATAL_ERROR "blackbox_lines is compiled without ${definition}: ${command}")
    endif()
  endforeach()
endif()

# Windows finds a program's DLLs beside it, as a user ships them.
file(GLOB dlls "${dll_dir}/*.dll")
if(dlls)
  file(COPY ${dlls} DESTINATION "${build}")
endif()
set(suffix "")
if(EMULATOR)
  set(suffix ".exe")
endif()
foreach(program IN LISTS programs)
  run(${EMULATOR} "${build}/${program}${suffix}")
endforeach()
if(CASE STREQUAL "headers")
  list(LENGTH headers count)
  message("${count} installed headers compile on their own")
endif()
