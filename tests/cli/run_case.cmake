# Runs the installed gcuproto once, or several runs piped into each other, and
# checks what a user would see: the exit status, stdout against a golden file
# (or a pattern), and stderr empty on success or one line matching a pattern
# on failure. Called by gcuproto_cli_test() in CMakeLists.txt with:
#   TOOL       the installed gcuproto
#   EMULATOR   what runs it in a cross build (wine), "" otherwise
#   ARGS       the arguments, runs separated by "|", list items joined by "^^"
#   FILES      directories whose files are copied to the run's directory first
#              (joined by "^^"); the runs name them relative to it
#   WORK       scratch directory of this case
#   COPIES     pairs FILE NAME: FILE of the run's directory copied to NAME too
#   STDIN      file, relative to the run's directory, fed to the first run
#   STATUS     expected exit status of the last run (default 0)
#   GOLDEN     file stdout must equal byte for byte (or OUTPUT's content)
#   OUTPUT     file, relative to the run's directory, compared with GOLDEN
#   STDOUT     regular expression stdout must match, instead of a golden file
#   STDERR     regular expression the one-line error must match (on success:
#              the report stderr must match, else stderr must be empty)
string(REPLACE "^^" ";" ARGS "${ARGS}")
string(REPLACE "^^" ";" FILES "${FILES}")
string(REPLACE "^^" ";" EMULATOR "${EMULATOR}")
set(run_dir "${WORK}/run")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${run_dir}")
set(given_files "")
foreach(dir IN LISTS FILES)
  file(GLOB files "${dir}/*")
  list(APPEND given_files ${files})
endforeach()
file(COPY ${given_files} DESTINATION "${run_dir}")
string(REPLACE "^^" ";" COPIES "${COPIES}")
while(COPIES)
  list(POP_FRONT COPIES from to)
  file(COPY_FILE "${run_dir}/${from}" "${run_dir}/${to}")
  list(APPEND given_files "${run_dir}/${to}")
endwhile()
if(NOT DEFINED STATUS OR STATUS STREQUAL "")
  set(STATUS 0)
endif()

set(commands COMMAND ${EMULATOR} "${TOOL}")
foreach(arg IN LISTS ARGS)
  if(arg STREQUAL "|")
    list(APPEND commands COMMAND ${EMULATOR} "${TOOL}")
  else()
    list(APPEND commands "${arg}")
  endif()
endforeach()
set(stdin_option "")
if(STDIN)
  set(stdin_option INPUT_FILE "${run_dir}/${STDIN}")
endif()
execute_process(${commands} ${stdin_option}
  WORKING_DIRECTORY "${run_dir}"
  OUTPUT_FILE "${WORK}/stdout"
  ERROR_FILE "${WORK}/stderr"
  RESULTS_VARIABLE results)

set(failures "")
file(READ "${WORK}/stderr" stderr)
file(READ "${WORK}/stdout" stdout)

list(POP_BACK results last_status)
foreach(status IN LISTS results)
  if(NOT status STREQUAL "0")
    string(APPEND failures "an earlier run of the pipe exited with ${status}\n")
  endif()
endforeach()
if(NOT last_status STREQUAL STATUS)
  string(APPEND failures "exit status ${last_status}, expected ${STATUS}\n")
endif()

if(STATUS EQUAL 0)
  if(STDERR)
    # A report the command gives on stderr (recover's summary).
    if(NOT stderr MATCHES "${STDERR}")
      string(APPEND failures "stderr does not match: ${STDERR}\n")
    endif()
  elseif(NOT stderr STREQUAL "")
    string(APPEND failures "stderr is not empty on success\n")
  endif()
else()
  string(REGEX MATCHALL "\n" breaks "${stderr}")
  list(LENGTH breaks lines)
  if(NOT lines EQUAL 1 OR NOT stderr MATCHES "\n$")
    string(APPEND failures "stderr is not exactly one line\n")
  endif()
  if(NOT stderr MATCHES "${STDERR}")
    string(APPEND failures "stderr does not match: ${STDERR}\n")
  endif()
endif()

set(compared "${WORK}/stdout")
if(OUTPUT)
  set(compared "${run_dir}/${OUTPUT}")
  file(SIZE "${WORK}/stdout" stdout_size)
  if(NOT stdout_size EQUAL 0)
    string(APPEND failures "stdout is not empty when writing to ${OUTPUT}\n")
  endif()
endif()
if(GOLDEN)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${compared}" "${GOLDEN}"
    RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    string(APPEND failures "${compared} differs from ${GOLDEN}\n")
  endif()
elseif(STDOUT)
  if(NOT stdout MATCHES "${STDOUT}")
    string(APPEND failures "stdout does not match: ${STDOUT}\n")
  endif()
else()
  file(SIZE "${WORK}/stdout" stdout_size)
  if(NOT stdout_size EQUAL 0)
    string(APPEND failures "stdout is not empty\n")
  endif()
endif()

# Nothing but the expected output file may appear: no temporary leftovers, no
# partial output of a failed run.
file(GLOB after RELATIVE "${run_dir}" "${run_dir}/*")
foreach(path IN LISTS given_files)
  get_filename_component(name "${path}" NAME)
  list(REMOVE_ITEM after "${name}")
endforeach()
if(OUTPUT AND STATUS EQUAL 0)
  list(REMOVE_ITEM after "${OUTPUT}")
endif()
if(after)
  string(APPEND failures "unexpected files left behind: ${after}\n")
endif()

if(failures)
  message(FATAL_ERROR "${failures}--- stdout:\n${stdout}--- stderr:\n${stderr}")
endif()
