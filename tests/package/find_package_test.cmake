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

run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${moved}" -DCMAKE_BUILD_TYPE=Release)
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
run("${WORK_DIR}/build/identity_query")
run("${WORK_DIR}/build/blackbox_lines")
