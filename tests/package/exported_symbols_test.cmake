# What libgcuproto exports: every message class (its type information) and
# default instance, the library-level API, and nothing else of its own. A DLL
# (OBJDUMP given) lists its export table's names without their kinds.
if(OBJDUMP)
  execute_process(COMMAND "${OBJDUMP}" -p "${LIBRARY}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE table ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}: ${err}")
  endif()
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" names "${table}")
  list(TRANSFORM names REPLACE "^\t\\[ *[0-9]+\\] " "")
  list(JOIN names "\n" names)
  file(WRITE "${WORK_DIR}/exports.txt" "${names}\n")
  execute_process(COMMAND "${CXXFILT}" INPUT_FILE "${WORK_DIR}/exports.txt"
    RESULT_VARIABLE rc OUTPUT_VARIABLE demangled ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "c++filt failed: ${err}")
  endif()
  string(REGEX REPLACE "([^\n]+)" "0 X \\1" symbols "${demangled}")
  set(data "X")
  set(class_info "X")
  set(code "X")
else()
  execute_process(COMMAND "${NM}" -D --defined-only -C "${LIBRARY}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE symbols ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}: ${err}")
  endif()
  set(data "[BDR]")
  set(class_info "V")
  set(code "T")
endif()

# Every line starts after a newline, the first one too.
string(PREPEND symbols "\n")

function(expect_count regex expected what)
  string(REGEX MATCHALL "${regex}" found "${symbols}")
  list(LENGTH found count)
  if(NOT count EQUAL expected)
    message(FATAL_ERROR "${count} ${what} exported, expected ${expected}")
  endif()
endfunction()

expect_count("\n[0-9a-f]+ ${data} _[A-Za-z]+_default_instance_" 117 "default instances")
expect_count("[0-9a-f]+ ${class_info} typeinfo for [A-Za-z]+\n" 117 "message classes")
# Each message class's default instance is exported under its generated name,
# which the generated code of a schema importing ours refers to.
string(REGEX MATCHALL "typeinfo for [A-Za-z]+\n" classes "${symbols}")
foreach(class IN LISTS classes)
  string(REGEX REPLACE "typeinfo for ([A-Za-z]+)\n" "\\1" name "${class}")
  if(NOT symbols MATCHES "\n[0-9a-f]+ ${data} _${name}_default_instance_\n")
    message(FATAL_ERROR "the default instance of ${name} is not exported")
  endif()
endforeach()
expect_count("\n[0-9a-f]+ ${code} gcuproto::(version|schema_file_names|schema_files)" 3 "library functions")

# Anything of ours in a namespace must be the library API above: the frame's
# helpers and the generated code's internals stay hidden.
string(REGEX MATCHALL "\n[0-9a-f]+ [A-Za-z] gcuproto::[^\n]*" ours "${symbols}")
list(LENGTH ours count)
if(NOT count EQUAL 3)
  message(FATAL_ERROR "unexpected exports in namespace gcuproto:${ours}")
endif()
message("exports: 117 message classes, 117 default instances, the library API")
