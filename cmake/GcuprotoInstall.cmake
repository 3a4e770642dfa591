# Installs the library as a relocatable CMake package (find_package(gcuproto)
# gives gcuproto::gcuproto) and a pkg-config file, with the headers under
# include/gcuproto/ and the schema files for other languages' generators.
include(CMakePackageConfigHelpers)

set(GCUPROTO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/gcuproto")

set(gcuproto_installed_libraries gcuproto gcuproto_blackbox)
set(gcuproto_pc_files gcuproto gcuproto-blackbox)
if(TARGET gcuproto_link)
  list(APPEND gcuproto_installed_libraries gcuproto_link)
  list(APPEND gcuproto_pc_files gcuproto-link)
endif()
install(TARGETS ${gcuproto_installed_libraries}
  EXPORT gcuprotoTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES ${GCUPROTO_PUBLIC_HEADERS} ${GCUPROTO_GENERATED_HEADERS}
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/gcuproto")
install(FILES ${GCUPROTO_SCHEMA_FILES}
  DESTINATION "${CMAKE_INSTALL_DATADIR}/gcuproto/proto")

install(EXPORT gcuprotoTargets
  NAMESPACE gcuproto::
  DESTINATION "${GCUPROTO_CMAKE_DIR}")
set(GCUPROTO_COMPONENTS gcuproto blackbox)
set(GCUPROTO_COMPONENTS_TEXT "gcuproto and blackbox")
if(GCUPROTO_BUILD_LINK)
  list(APPEND GCUPROTO_COMPONENTS link)
  set(GCUPROTO_COMPONENTS_TEXT "gcuproto, blackbox and link")
endif()
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
foreach(pc IN LISTS gcuproto_pc_files)
  configure_file(cmake/${pc}.pc.in "${PROJECT_BINARY_DIR}/${pc}.pc" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/${pc}.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endforeach()
