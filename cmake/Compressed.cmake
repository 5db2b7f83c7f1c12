# torvane_install_compressed(file destination): installs a file gzip-compressed, as
# Debian ships man pages and changelogs: best compression, and neither name nor time
# in the header, so the same text always gives the same bytes.
find_program(TORVANE_GZIP gzip REQUIRED)
function(torvane_install_compressed file destination)
  get_filename_component(name ${file} NAME)
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/compressed/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy}
    COMMAND ${TORVANE_GZIP} -9nf ${copy}
    DEPENDS ${file}
    COMMENT "Compressing ${name}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "compress_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${copy}.gz)
  # The installation tests need every installed file made.
  set_property(GLOBAL APPEND PROPERTY TORVANE_INSTALLED_TARGETS ${target})
  install(FILES ${copy}.gz DESTINATION ${destination})
endfunction()
