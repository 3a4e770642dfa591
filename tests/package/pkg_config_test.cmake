# Compiles the consumer examples with the flags of the installed pkg-config
# files (gcuproto-blackbox.pc requires gcuproto.pc, so both are read).
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")
execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs gcuproto-blackbox
  RESULT_VARIABLE rc OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config cannot use gcuproto.pc: ${err}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
set(ENV{LD_LIBRARY_PATH} "${PREFIX}/${LIBDIR}")
foreach(program identity_query blackbox_lines)
  execute_process(COMMAND "${CXX}" -std=c++17 "${SOURCE_DIR}/${program}.cc" -o "${WORK_DIR}/${program}" ${flags}
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "compiling ${program} with pkg-config flags failed: ${err}")
  endif()
  execute_process(COMMAND "${WORK_DIR}/${program}" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${program} failed (${rc}): ${out}")
  endif()
  message("${out}")
endforeach()
