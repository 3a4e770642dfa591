# GCUPROTO_BUILD_PYTHON: the Python package (python/), on by default where the
# system interpreter has what it needs. The interpreter is Debian's own,
# /usr/bin/python3, whatever python3 comes first on PATH: the packages the
# module uses (protobuf, numpy, pandas) are installed for that one.
#
# An extension built with sanitizers cannot be loaded into an uninstrumented
# interpreter, so a sanitized build leaves the package out. So does a static
# build: each of the package's two extension modules would carry its own copy
# of the messages, and the second to load would register them again. A project
# that adds gcuproto as a subdirectory gets the package only if it asks.
if(NOT DEFINED Python3_EXECUTABLE AND NOT DEFINED Python3_ROOT_DIR AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Interpreter of the Python package")
endif()

set(gcuproto_python_missing "")
if(GCUPROTO_SANITIZE)
  set(gcuproto_python_missing "GCUPROTO_SANITIZE is set (a sanitized extension does not load into the interpreter)")
elseif(NOT BUILD_SHARED_LIBS)
  set(gcuproto_python_missing "the libraries are static (BUILD_SHARED_LIBS is off)")
else()
  find_package(Python3 3.9 COMPONENTS Interpreter Development.Module)
  if(NOT Python3_FOUND)
    set(gcuproto_python_missing "no Python 3 interpreter with headers (python3-dev)")
  else()
    find_package(pybind11 2.6 CONFIG QUIET)
    if(NOT pybind11_FOUND)
      set(gcuproto_python_missing "no pybind11 (pybind11-dev)")
    else()
      execute_process(
        COMMAND "${Python3_EXECUTABLE}" -c "import google.protobuf, numpy, pandas"
        RESULT_VARIABLE modules_status OUTPUT_QUIET ERROR_QUIET)
      if(NOT modules_status EQUAL 0)
        set(gcuproto_python_missing
          "${Python3_EXECUTABLE} lacks protobuf, numpy or pandas (python3-protobuf, python3-numpy, python3-pandas)")
      endif()
    endif()
  endif()
endif()

if(gcuproto_python_missing STREQUAL "")
  option(GCUPROTO_BUILD_PYTHON "Build the Python package" ${PROJECT_IS_TOP_LEVEL})
else()
  option(GCUPROTO_BUILD_PYTHON "Build the Python package" OFF)
  if(GCUPROTO_BUILD_PYTHON)
    message(FATAL_ERROR "GCUPROTO_BUILD_PYTHON: ${gcuproto_python_missing}")
  endif()
  message(STATUS "Python package not built: ${gcuproto_python_missing}")
endif()
