# Installs the libraries as a relocatable CMake package (find_package(gcuproto)
# gives gcuproto::gcuproto) and pkg-config files, with the headers under
# include/gcuproto/ and the schema files for other languages' generators.
#
# The build tree is a package too: a project configured with
# -Dgcuproto_DIR=<this build directory> uses the libraries where they were built.
include(CMakePackageConfigHelpers)

set(GCUPROTO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/gcuproto")

set(gcuproto_installed_libraries gcuproto gcuproto_blackbox gcuproto_link)
set(gcuproto_pc_files gcuproto gcuproto-blackbox gcuproto-link)
install(TARGETS ${gcuproto_installed_libraries}
  EXPORT gcuprotoTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
  FILE_SET HEADERS DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}"
  # The exported file sets give users the include directory from CMake 3.23
  # on; this gives it to older ones too.
  INCLUDES DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(FILES ${GCUPROTO_SCHEMA_FILES}
  DESTINATION "${CMAKE_INSTALL_DATADIR}/gcuproto/proto")

install(EXPORT gcuprotoTargets
  NAMESPACE gcuproto::
  DESTINATION "${GCUPROTO_CMAKE_DIR}")
# The configuration file finds its targets beside it, so the same one serves
# the build tree.
export(EXPORT gcuprotoTargets
  NAMESPACE gcuproto::
  FILE "${PROJECT_BINARY_DIR}/gcuprotoTargets.cmake")
set(GCUPROTO_COMPONENTS gcuproto blackbox link)
set(GCUPROTO_COMPONENTS_TEXT "gcuproto, blackbox and link")
configure_package_config_file(cmake/gcuprotoConfig.cmake.in
  "${PROJECT_BINARY_DIR}/gcuprotoConfig.cmake"
  INSTALL_DESTINATION "${GCUPROTO_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/gcuprotoConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${PROJECT_BINARY_DIR}/gcuprotoConfig.cmake"
  "${PROJECT_BINARY_DIR}/gcuprotoConfigVersion.cmake"
  DESTINATION "${GCUPROTO_CMAKE_DIR}")

# pkg-config: the prefix is found from the .pc file's own place, so the
# installed tree can be moved.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(GCUPROTO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(GCUPROTO_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" up "${up}")
  set(GCUPROTO_PC_PREFIX "\${pcfiledir}/${up}")
  set(GCUPROTO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(GCUPROTO_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(GCUPROTO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# A static link library needs the system's socket library named too.
set(GCUPROTO_LINK_PC_LIBS_PRIVATE "")
if(WIN32)
  set(GCUPROTO_LINK_PC_LIBS_PRIVATE "-lws2_32")
endif()
# A static library's export macro is left empty by its *_STATIC definition,
# which the CMake targets carry for their users and the .pc files give here.
foreach(pc IN LISTS gcuproto_pc_files)
  set(GCUPROTO_PC_CFLAGS "-I\${includedir}")
  if(NOT BUILD_SHARED_LIBS)
    string(TOUPPER "${pc}" macro)
    string(REPLACE "-" "_" macro "${macro}")
    string(APPEND GCUPROTO_PC_CFLAGS " -D${macro}_STATIC")
  endif()
  configure_file(cmake/${pc}.pc.in "${PROJECT_BINARY_DIR}/${pc}.pc" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/${pc}.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endforeach()
