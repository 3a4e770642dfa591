# In a cross build the protoc plugin runs during the build, so it is built for
# the build machine by a sub-build of cmake/host_tools with the host's own
# compiler and protobuf, and imported here as gcuproto_protoc_export.
include(ExternalProject)

set(_host_dir "${CMAKE_CURRENT_BINARY_DIR}/host_tools")
set(_plugin "${_host_dir}/gcuproto_protoc_export${CMAKE_HOST_EXECUTABLE_SUFFIX}")
ExternalProject_Add(gcuproto_host_tools
  SOURCE_DIR "${PROJECT_SOURCE_DIR}/cmake/host_tools"
  BINARY_DIR "${_host_dir}"
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS "${_plugin}")

add_executable(gcuproto_protoc_export IMPORTED GLOBAL)
set_target_properties(gcuproto_protoc_export PROPERTIES IMPORTED_LOCATION "${_plugin}")
add_dependencies(gcuproto_protoc_export gcuproto_host_tools)
