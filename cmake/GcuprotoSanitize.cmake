# GCUPROTO_SANITIZE: sanitizers for the project's own targets, as a list for
# -fsanitize= ("address,undefined"). Empty builds without them. The protobuf
# runtime and GoogleTest come from the system and stay uninstrumented.
# gcuproto_target() (GcuprotoTarget.cmake) applies them.
if(GCUPROTO_BUILD_FUZZERS)
  set(gcuproto_sanitize_default "address,undefined")
else()
  set(gcuproto_sanitize_default "")
endif()
set(GCUPROTO_SANITIZE "${gcuproto_sanitize_default}" CACHE STRING
  "Sanitizers for the project's own code, e.g. address,undefined (empty: none)")

if(GCUPROTO_SANITIZE AND NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  message(FATAL_ERROR "GCUPROTO_SANITIZE needs GCC or Clang")
endif()
if(GCUPROTO_BUILD_FUZZERS AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "GCUPROTO_BUILD_FUZZERS needs Clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
endif()
