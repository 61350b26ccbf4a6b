# The sources of the core library (no Qt), by folder, from the bottom of the dependency graph up:
# base <- midifile <- tuning <- playback, convert <- session. PITCHLOOM_ROOT is the checkout.
set(PITCHLOOM_CORE_SOURCES
  ${PITCHLOOM_ROOT}/base/file_io.cpp
  ${PITCHLOOM_ROOT}/base/messages.cpp
  ${PITCHLOOM_ROOT}/base/shared_library.cpp
  ${PITCHLOOM_ROOT}/midifile/byte_reader.cpp
  ${PITCHLOOM_ROOT}/midifile/event_reader.cpp
  ${PITCHLOOM_ROOT}/midifile/event_writer.cpp
  ${PITCHLOOM_ROOT}/midifile/format0_merge.cpp
  ${PITCHLOOM_ROOT}/midifile/midi_song.cpp
  ${PITCHLOOM_ROOT}/midifile/song_loader.cpp
  ${PITCHLOOM_ROOT}/midifile/sysex.cpp
  ${PITCHLOOM_ROOT}/tuning/rhythm_channels.cpp
  ${PITCHLOOM_ROOT}/tuning/scala_file.cpp
  ${PITCHLOOM_ROOT}/tuning/scale_file.cpp
  ${PITCHLOOM_ROOT}/tuning/scale_file_commands.cpp
  ${PITCHLOOM_ROOT}/tuning/scale_files.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_controls.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_state.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_tables.cpp
  ${PITCHLOOM_ROOT}/playback/audio_file.cpp
  ${PITCHLOOM_ROOT}/playback/audio_libraries.cpp
  ${PITCHLOOM_ROOT}/playback/audio_render.cpp
  ${PITCHLOOM_ROOT}/playback/midi_port.cpp
  ${PITCHLOOM_ROOT}/playback/pulse_output.cpp
  ${PITCHLOOM_ROOT}/playback/recording_output.cpp
  ${PITCHLOOM_ROOT}/playback/scale_tuning_sender.cpp
  ${PITCHLOOM_ROOT}/playback/sequencer.cpp
  ${PITCHLOOM_ROOT}/playback/song_clock.cpp
  ${PITCHLOOM_ROOT}/playback/synth_output.cpp
  ${PITCHLOOM_ROOT}/playback/synth_tuning.cpp
  ${PITCHLOOM_ROOT}/playback/system_midi_output.cpp
  ${PITCHLOOM_ROOT}/playback/timer_service.cpp
  ${PITCHLOOM_ROOT}/convert/convert_command.cpp
  ${PITCHLOOM_ROOT}/convert/song_writer.cpp
  ${PITCHLOOM_ROOT}/session/session.cpp
)

# The helpers the tests, fuzzers and benchmarks share.
set(PITCHLOOM_TEST_SUPPORT_SOURCES
  ${PITCHLOOM_ROOT}/tests/support/midi_builder.cpp
  ${PITCHLOOM_ROOT}/tests/support/pitch.cpp
  ${PITCHLOOM_ROOT}/tests/support/scripted_dialogs.cpp
  ${PITCHLOOM_ROOT}/tests/support/sine_soundfont.cpp
)
