# gcuproto_add_schemas(<target> <schema>...)
#
# Compiles each schema file with protoc into <gcuproto/NAME.pb.h> and NAME.pb.cc
# under the current binary directory and adds them to <target>, the headers to
# its public header set. The schema directory is protoc's only include path, so
# every file is registered under its bare name ("commands.proto"). Messages are
# exported through GCUPROTO_EXPORT, which the gcuproto_protoc_export plugin
# makes each header define. Also writes, beside them, the list of registered
# names that gcuproto::schema_file_names() returns (schema_list.h, for the
# target's own sources).
function(gcuproto_add_schemas target)
  set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/include/gcuproto")
  file(MAKE_DIRECTORY "${out_dir}")

  set(all_schemas "")
  foreach(schema IN LISTS ARGN)
    list(APPEND all_schemas "${CMAKE_CURRENT_SOURCE_DIR}/${schema}")
  endforeach()

  set(sources "")
  set(headers "")
  set(name_lines "")
  foreach(schema IN LISTS ARGN)
    get_filename_component(stem "${schema}" NAME_WE)
    set(source "${out_dir}/${stem}.pb.cc")
    set(header "${out_dir}/${stem}.pb.h")
    # Every schema is a dependency: an imported file's change can change the
    # code generated for the files that import it.
    add_custom_command(
      OUTPUT "${source}" "${header}"
      COMMAND protobuf::protoc
        "--cpp_out=dllexport_decl=GCUPROTO_EXPORT:${out_dir}"
        "--plugin=protoc-gen-gcuexport=$<TARGET_FILE:gcuproto_protoc_export>"
        "--gcuexport_out=${out_dir}"
        -I "${CMAKE_CURRENT_SOURCE_DIR}"
        "${CMAKE_CURRENT_SOURCE_DIR}/${schema}"
      DEPENDS ${all_schemas} gcuproto_protoc_export
      COMMENT "Generating C++ classes of ${schema}"
      VERBATIM)
    list(APPEND sources "${source}")
    list(APPEND headers "${header}")
    string(APPEND name_lines "    \"${schema}\",\n")
  endforeach()

  # The custom commands drive from a target of this directory; the library may
  # be defined elsewhere.
  add_custom_target(${target}_generated DEPENDS ${sources} ${headers})
  add_dependencies(${target} ${target}_generated)
  target_sources(${target}
    PRIVATE ${sources}
    PUBLIC FILE_SET HEADERS BASE_DIRS "${CMAKE_CURRENT_BINARY_DIR}/include" FILES ${headers})

  set(GCUPROTO_SCHEMA_NAME_LINES "${name_lines}")
  configure_file("${PROJECT_SOURCE_DIR}/frame/src/schema_list.h.in"
    "${CMAKE_CURRENT_BINARY_DIR}/src/schema_list.h" @ONLY)
  target_include_directories(${target} PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/src")

  set(GCUPROTO_SCHEMA_FILES "${all_schemas}" PARENT_SCOPE)
endfunction()
