# A mingw build's programs and DLLs all go to one bin/ folder of the build
# tree, where Windows finds a program's DLLs, together with the DLLs they need
# from elsewhere: the C++ runtime and libprotobuf. The installed bin/ gets the
# same DLLs, so the installed tool runs as it is.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/bin")

set(GCUPROTO_RUNTIME_DLLS "")
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
    list(APPEND GCUPROTO_RUNTIME_DLLS "${path}")
  endif()
endforeach()

# FindProtobuf gives the import library; its DLL is in the prefix's bin/.
get_target_property(_protobuf_implib protobuf::libprotobuf IMPORTED_LOCATION)
if(NOT _protobuf_implib)
  get_target_property(_protobuf_implib protobuf::libprotobuf IMPORTED_LOCATION_RELEASE)
endif()
get_filename_component(_protobuf_prefix "${_protobuf_implib}" DIRECTORY)
find_file(GCUPROTO_PROTOBUF_DLL libprotobuf.dll
  HINTS "${_protobuf_prefix}/../bin" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT GCUPROTO_PROTOBUF_DLL)
  message(FATAL_ERROR "libprotobuf.dll not found beside ${_protobuf_implib}")
endif()
list(APPEND GCUPROTO_RUNTIME_DLLS "${GCUPROTO_PROTOBUF_DLL}")

file(COPY ${GCUPROTO_RUNTIME_DLLS} DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
if(GCUPROTO_INSTALL)
  install(FILES ${GCUPROTO_RUNTIME_DLLS} DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()
