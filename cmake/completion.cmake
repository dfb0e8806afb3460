# bash completion for the tools, generated from each one's usage screen
# (its option table) when it is built, and installed where bash-completion
# finds it.
foreach(tool sorvit sorvit-image)
  set(completion ${PROJECT_BINARY_DIR}/completions/${tool})
  add_custom_command(OUTPUT ${completion}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/completions
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/bash_completion.sh $<TARGET_FILE:${tool}> ${tool} > ${completion}
    DEPENDS ${tool} ${PROJECT_SOURCE_DIR}/cmake/bash_completion.sh VERBATIM)
  list(APPEND completions ${completion})
  install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
    COMPONENT tools)
endforeach()
add_custom_target(completions ALL DEPENDS ${completions})
