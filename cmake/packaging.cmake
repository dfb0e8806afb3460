# Two Debian packages from the one build (cpack in the build tree):
#   sorvit       the tools and their man pages; no card library, so that a
#                host with a card uses the maker's library
#   velqor2-sim  the simulated card library, its header, pkg-config file
#                and CMake package, for hosts without a card
set(doc_files ${PROJECT_SOURCE_DIR}/packaging/copyright)
foreach(package sorvit velqor2-sim)
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.${package}.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog.${package} > ${changelog}
    DEPENDS packaging/changelog.${package} VERBATIM)
  list(APPEND changelogs ${changelog})
endforeach()
add_custom_target(changelogs ALL DEPENDS ${changelogs})

set(tools_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/sorvit)
set(sim_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/velqor2-sim)
install(FILES packaging/copyright DESTINATION ${tools_doc} COMPONENT tools)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.sorvit.gz DESTINATION ${tools_doc}
  RENAME changelog.gz COMPONENT tools)
install(FILES packaging/copyright DESTINATION ${sim_doc} COMPONENT sim)
install(FILES packaging/README.velqor2-sim DESTINATION ${sim_doc} RENAME README COMPONENT sim)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.velqor2-sim.gz DESTINATION ${sim_doc}
  RENAME changelog.gz COMPONENT sim)
install(FILES packaging/lintian-overrides.velqor2-sim
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME velqor2-sim COMPONENT sim)

# No .comment section (the compilers' names) in what a package installs.
foreach(component tools sim)
  if(component STREQUAL tools)
    set(files "${CMAKE_INSTALL_BINDIR}/sorvit;${CMAKE_INSTALL_BINDIR}/sorvit-image")
  else()
    set(files "${CMAKE_INSTALL_LIBDIR}/libvelqor2.so.${VELQOR2_VERSION}")
  endif()
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      foreach(f ${files})
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${f}\")
      endforeach()
    endif()" COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_VENDOR "Velqor Card Systems")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools sim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sorvit developers <sorvit@velqor.example>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velqor.example/sdk/sorvit")
# The tools' dependencies as dpkg-shlibdeps computes them from the binaries
# (the card library, theirs to find, is left to the maker's package). The
# simulator's are written out: with dpkg-shlibdeps CPack would also add
# maintainer scripts that call ldconfig, which the trigger does instead.
set(CPACK_DEBIAN_TOOLS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "libc6 (>= 2.34)")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME sorvit)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS "velqor2-sim, prometheus-node-exporter")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "inspect, save and restore the configuration EEPROM of VQ cards\n\
sorvit dumps, reads and writes the configuration EEPROM of one card;\n\
sorvit-image lists the host's cards, saves a card's EEPROM to an image\n\
file, checks a card against it and loads it back.\n\
.\n\
Both reach the card through the card maker's library libvelqor2.so.${VELQOR2_SOVERSION},\n\
which this package does not hold. On a host without a card, install\n\
velqor2-sim, the simulated library.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME velqor2-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION libs)
# The shlibs file is written here rather than by CPack, which would also add
# maintainer scripts that call ldconfig; the trigger does that instead.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/shlibs
  "libvelqor2 ${VELQOR2_SOVERSION} velqor2-sim (>= ${PROJECT_VERSION})\n")
configure_file(packaging/symbols.in ${CMAKE_CURRENT_BINARY_DIR}/symbols @ONLY)
set(CPACK_DEBIAN_SIM_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/triggers ${CMAKE_CURRENT_BINARY_DIR}/shlibs
  ${CMAKE_CURRENT_BINARY_DIR}/symbols)
set(CPACK_DEBIAN_SIM_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_SIM_DESCRIPTION
  "simulated VQ card-access library for hosts without a card\n\
libvelqor2.so.${VELQOR2_SOVERSION}, a stand-in for the card maker's library that keeps\n\
simulated cards in a plain text file, so that sorvit and the other\n\
programs of the SDK run and can be tested without a card. With its\n\
header, pkg-config file and CMake package.\n\
.\n\
Do not install it on a host with a card.")
include(CPack)
