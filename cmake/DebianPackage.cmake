# The Debian package: `cpack -G DEB` in the build folder writes
# pitchloom-<version>-<architecture>.deb, installing under /usr.

set(PITCHLOOM_PACKAGE_MAINTAINER "Pitchloom Pro maintainers <maintainers@pitchloom.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

execute_process(COMMAND dpkg --print-architecture
                OUTPUT_VARIABLE PITCHLOOM_DEB_ARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(NOT PITCHLOOM_DEB_ARCH)
  set(PITCHLOOM_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pitchloom)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Pitchloom Pro")
set(CPACK_PACKAGE_CONTACT "${PITCHLOOM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "retunes MIDI music to other scales and temperaments")
# The long description, as dpkg shows it: lines of at most 79 characters, paragraphs apart.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Pitchloom Pro plays a Standard MIDI File in another key, scale and"
  "temperament. Pick a built-in scale (Pentatonic, Okinawan, Indian, Hungarian,"
  "Arabian, Gypsy, Japanese, Whole tone, Gamelan) or your own from the piano"
  "keys, and a built-in tuning (Just Intonation, Werckmeister, Pythagorean, Mean"
  "tone, Kurenberger, ...) or your own from twelve cent sliders. The song plays"
  "retuned through the built-in synthesizer or any MIDI output, and follows the"
  "sliders while it plays."
  ""
  "Convert writes a new MIDI file that carries the tuning inside it as GS or XG"
  "scale-tuning messages, so that it plays retuned on such a sound module"
  "without the program. The command-line converter pitchloom-convert does the"
  "same for many files at once.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME "pitchloom-${PROJECT_VERSION}-${PITCHLOOM_DEB_ARCH}")

set(CPACK_DEBIAN_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PITCHLOOM_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runtime packages of Debian 12 that the programs load: Qt 6 (with the platform plugins
# the window needs to open), RtMidi and JACK's client library (of either JACK), FluidSynth
# with a General MIDI SoundFont, the sound server's client library the synthesizer plays
# through, the sound file library audio is written with, and the C++ runtime. scripts/package checks this list against what
# dpkg-shlibdeps finds in the binaries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.4.0), libqt6gui6 (>= 6.4.0), libqt6core6 (>= 6.4.0), \
qt6-qpa-plugins, librtmidi6 (>= 5.0.0), libjack-jackd2-0 (>= 1.9.10+20150825) | libjack-0.125, \
libfluidsynth3 (>= 2.3.0), libpulse0 (>= 16.1+dfsg1), \
libsndfile1 (>= 1.2.0), timgm6mb-soundfont | fluid-soundfont-gm, libstdc++6 (>= 12), libgcc-s1 (>= 3.0), \
libc6 (>= 2.34)")

include(CPack)
