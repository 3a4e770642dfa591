# find_package(gcuproto COMPONENTS ...) against the installed prefix: every
# library is a component a consumer may name, and an unknown one fails the
# configure with its name in the message.
cmake_minimum_required(VERSION 3.16)
file(REMOVE_RECURSE "${WORK_DIR}")

# expect_components(<name> <components> <text>): configures a project asking
# for <components>; it must succeed when <text> is empty, else fail saying it.
function(expect_components name components expected)
  set(dir "${WORK_DIR}/${name}")
  file(WRITE "${dir}/CMakeLists.txt"
    "cmake_minimum_required(VERSION 3.16)\nproject(components LANGUAGES CXX)\n"
    "find_package(gcuproto REQUIRED COMPONENTS ${components})\n")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${dir}" -B "${dir}/build" -G "${GENERATOR}" "-DCMAKE_PREFIX_PATH=${PREFIX}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \t\r\n]+" " " said "${out} ${err}")
  if(expected STREQUAL "")
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "COMPONENTS ${components}: configure failed\n${out}\n${err}")
    endif()
  elseif(rc EQUAL 0)
    message(FATAL_ERROR "COMPONENTS ${components}: configure succeeded")
  else()
    string(FIND "${said}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "COMPONENTS ${components}: the error does not say '${expected}'\n${out}\n${err}")
    endif()
  endif()
endfunction()

string(REPLACE ";" " " all "${COMPONENTS}")
expect_components(all "${all}" "")
expect_components(unknown "blackbox nosuch"
  "gcuproto has no component nosuch; its components are ${COMPONENTS_TEXT}")
