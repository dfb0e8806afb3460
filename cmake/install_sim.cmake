# Installs the simulated card library (component "sim"), for the tools and
# for any other program of the SDK: the library with its soname link, the
# header, a pkg-config file and a CMake package with the imported target
# velqor2::velqor2. Both files find the prefix from where they are, so the
# prefix can be moved.
function(install_card_library target)
  install(TARGETS ${target} velqor2_headers EXPORT velqor2-targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sim NAMELINK_COMPONENT sim)
  install(FILES ${PROJECT_SOURCE_DIR}/cardlib/velqor2.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sim)

  set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/velqor2)
  install(EXPORT velqor2-targets NAMESPACE velqor2:: DESTINATION ${cmake_dir} COMPONENT sim)
  include(CMakePackageConfigHelpers)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/velqor2-config.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/velqor2-config.cmake INSTALL_DESTINATION ${cmake_dir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/velqor2-config-version.cmake
    VERSION ${VELQOR2_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velqor2-config.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/velqor2-config-version.cmake
    DESTINATION ${cmake_dir} COMPONENT sim)

  file(RELATIVE_PATH prefix_from_pc
    ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" prefix_from_pc "${prefix_from_pc}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/velqor2.pc.in ${CMAKE_CURRENT_BINARY_DIR}/velqor2.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velqor2.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT sim)
endfunction()
