# Configures, builds and runs examples/consumer against an installed prefix.
file(REMOVE_RECURSE "${WORK_DIR}")
# Move the installed tree first: the package must not depend on where it was installed.
set(moved "${WORK_DIR}/moved-prefix")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(COPY "${PREFIX}/" DESTINATION "${moved}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message("${out}")
endfunction()

# A cross build passes its TOOLCHAIN, the DEPENDENCIES' prefixes and the
# EMULATOR that runs its programs (lists joined by "^^").
string(REPLACE "^^" ";" DEPENDENCIES "${DEPENDENCIES}")
string(REPLACE "^^" ";" EMULATOR "${EMULATOR}")
set(prefixes "${moved}" ${DEPENDENCIES})
list(JOIN prefixes "\;" prefixes)
set(toolchain "")
if(TOOLCHAIN)
  set(toolchain "--toolchain=${TOOLCHAIN}")
endif()
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}" ${toolchain}
    "-DCMAKE_PREFIX_PATH=${prefixes}" -DCMAKE_BUILD_TYPE=Release)
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
# Windows finds a program's DLLs beside it, as a user ships them.
file(GLOB dlls "${moved}/bin/*.dll")
if(dlls)
  file(COPY ${dlls} DESTINATION "${WORK_DIR}/build")
endif()
set(suffix "")
if(EMULATOR)
  set(suffix ".exe")
endif()
run(${EMULATOR} "${WORK_DIR}/build/identity_query${suffix}")
run(${EMULATOR} "${WORK_DIR}/build/blackbox_lines${suffix}")
