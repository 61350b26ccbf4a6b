# The synthesizer, sound server and sound file libraries are loaded when the program first needs
# them, not when it starts: a conversion runs without them. The target pitchloom_audio_libraries
# gives their headers, and the file names (sonames) to load them by, taken from the libraries
# found here so that they match the headers.

pkg_check_modules(FLUIDSYNTH REQUIRED IMPORTED_TARGET fluidsynth)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse-simple)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)

# Sets var to the soname of lib<name> among the libraries pkg-config gave under prefix (its full
# path where the system has no sonames), and appends its folder to PITCHLOOM_AUDIO_FOLDERS.
function(pitchloom_soname var prefix name)
  foreach(path IN LISTS ${prefix}_LINK_LIBRARIES)
    cmake_path(GET path FILENAME file)
    if(NOT file STREQUAL "lib${name}${CMAKE_SHARED_LIBRARY_SUFFIX}")
      continue()
    endif()
    cmake_path(GET path PARENT_PATH folder)
    set(PITCHLOOM_AUDIO_FOLDERS ${PITCHLOOM_AUDIO_FOLDERS} ${folder} PARENT_SCOPE)
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${path} OUTPUT_VARIABLE dump ERROR_QUIET)
    if(dump MATCHES "SONAME +([^ \n]+)")
      set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
    else()
      file(REAL_PATH ${path} real)
      message(WARNING "lib${name} has no soname; the programs will load ${real}")
      set(${var} ${real} PARENT_SCOPE)
    endif()
    return()
  endforeach()
  message(FATAL_ERROR "pkg-config gave no lib${name} (${prefix}_LINK_LIBRARIES: "
          "${${prefix}_LINK_LIBRARIES})")
endfunction()

set(PITCHLOOM_AUDIO_FOLDERS)
pitchloom_soname(PITCHLOOM_FLUIDSYNTH_SONAME FLUIDSYNTH fluidsynth)
pitchloom_soname(PITCHLOOM_PULSE_SIMPLE_SONAME PULSE pulse-simple)
pitchloom_soname(PITCHLOOM_SNDFILE_SONAME SNDFILE sndfile)

if(NOT TARGET pitchloom_audio_libraries)
  add_library(pitchloom_audio_libraries INTERFACE)
  foreach(library FLUIDSYNTH PULSE SNDFILE)
    target_include_directories(pitchloom_audio_libraries SYSTEM INTERFACE
                               $<TARGET_PROPERTY:PkgConfig::${library},INTERFACE_INCLUDE_DIRECTORIES>)
    target_compile_options(pitchloom_audio_libraries INTERFACE
                           $<TARGET_PROPERTY:PkgConfig::${library},INTERFACE_COMPILE_OPTIONS>)
  endforeach()
  target_compile_definitions(pitchloom_audio_libraries INTERFACE
    PITCHLOOM_FLUIDSYNTH_LIBRARY="${PITCHLOOM_FLUIDSYNTH_SONAME}"
    PITCHLOOM_PULSE_SIMPLE_LIBRARY="${PITCHLOOM_PULSE_SIMPLE_SONAME}"
    PITCHLOOM_SNDFILE_LIBRARY="${PITCHLOOM_SNDFILE_SONAME}")
  target_link_libraries(pitchloom_audio_libraries INTERFACE ${CMAKE_DL_LIBS})
  # A library from a folder of its own (a prefix on PKG_CONFIG_PATH) is loaded from there, as it
  # would be were it linked, not a system copy of the same name.
  list(REMOVE_DUPLICATES PITCHLOOM_AUDIO_FOLDERS)
  foreach(folder IN LISTS PITCHLOOM_AUDIO_FOLDERS)
    if(NOT folder IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES AND
       NOT folder IN_LIST CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES)
      target_link_options(pitchloom_audio_libraries INTERFACE "LINKER:-rpath,${folder}")
    endif()
  endforeach()
endif()
