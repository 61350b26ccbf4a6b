# What a Linux desktop expects beside the programs: the launcher, the icon in the icon theme
# folders, and the manual pages (compressed as Debian ships them, when gzip is at hand).

find_program(PITCHLOOM_GZIP gzip)

# Installs docs/man/<page> into the manual section its name ends with.
function(pitchloom_install_man_page page)
  get_filename_component(section "${page}" LAST_EXT)
  string(SUBSTRING "${section}" 1 -1 section)
  set(source ${CMAKE_SOURCE_DIR}/docs/man/${page})
  if(NOT PITCHLOOM_GZIP)
    install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    return()
  endif()
  set(copy ${CMAKE_BINARY_DIR}/man/${page})
  add_custom_command(
    OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND ${PITCHLOOM_GZIP} -9nf ${copy}
    DEPENDS ${source}
    COMMENT "Compressing the manual page ${page}"
    VERBATIM)
  string(MAKE_C_IDENTIFIER "man_${page}" target)
  add_custom_target(${target} ALL DEPENDS ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

if(TARGET pitchloom-convert)
  pitchloom_install_man_page(pitchloom-convert.1)
endif()

if(TARGET pitchloom)
  pitchloom_install_man_page(pitchloom.1)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/pitchloom.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  foreach(size 48 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/pitchloom-${size}.png
            DESTINATION ${icons}/${size}x${size}/apps
            RENAME pitchloom.png)
  endforeach()
  install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/pitchloom.svg
          DESTINATION ${icons}/scalable/apps)
endif()
