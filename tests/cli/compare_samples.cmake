# Runs the sample generator into WORK and fails unless it writes exactly the
# files of SAMPLES, byte for byte.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# EMULATOR (wine in a cross build) runs the generator, joined by "^^".
string(REPLACE "^^" ";" EMULATOR "${EMULATOR}")
execute_process(COMMAND ${EMULATOR} "${GENERATOR}" "${WORK}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the sample generator failed: ${status}")
endif()
file(GLOB written RELATIVE "${WORK}" "${WORK}/*")
file(GLOB committed RELATIVE "${SAMPLES}" "${SAMPLES}/*")
list(SORT written)
list(SORT committed)
if(NOT written STREQUAL committed)
  message(FATAL_ERROR "the generator writes ${written}, the repository holds ${committed}")
endif()
foreach(name IN LISTS written)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/${name}" "${SAMPLES}/${name}"
    RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "examples/samples/${name} is not what the generator writes; run "
      "gcuproto_make_samples examples/samples and commit the result")
  endif()
endforeach()
