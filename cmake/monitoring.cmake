# The drift check for Prometheus: the systemd service and timer (installed,
# never enabled), and the alert rules as an example. The service names
# sorvit-image where this install puts it: the path is written when the
# files are installed, under the prefix the install (or cpack) uses.
set(unit_source ${PROJECT_SOURCE_DIR}/packaging/systemd/sorvit-drift.service.in)
install(CODE "
  set(unit_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
  set(SORVIT_IMAGE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/sorvit-image\")
  configure_file(\"${unit_source}\" \"\${unit_dir}/sorvit-drift.service\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${unit_dir}/sorvit-drift.service\")
  message(STATUS \"Installing: \${unit_dir}/sorvit-drift.service\")" COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/sorvit-drift.timer
  DESTINATION lib/systemd/system COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/prometheus/sorvit.rules.yml
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sorvit/examples COMPONENT tools)
