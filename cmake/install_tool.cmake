# Installs a program of the family (component "tools").
#
# Under /usr, where the packages install, a tool carries no RUNPATH: it
# finds the card library where the system keeps libraries, which is where
# the maker's library lives on a host with a card. In any other prefix it
# finds the library beside it, $ORIGIN/../<libdir>, so the prefix can be
# moved.
file(RELATIVE_PATH lib_from_bin
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})

#
# The build tree has the same layout (bin/ and <libdir>/ under the build
# folder), so a tool carries its install RUNPATH from the start: nothing is
# rewritten at install, and no room is padded into it with empty entries,
# each of which would make the loader search the current folder.
function(install_family_tool target)
  set_target_properties(${target} PROPERTIES
    INSTALL_RPATH "$ORIGIN/${lib_from_bin}"
    BUILD_WITH_INSTALL_RPATH ON
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_BINDIR})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      file(RPATH_REMOVE
        FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\")
    endif()" COMPONENT tools)
endfunction()
