# The sources of the core library (no Qt), by folder, from the bottom of the dependency graph up:
# base <- midifile <- tuning <- playback (inputs, outputs <- playing <- audio), convert <- session.
# PITCHLOOM_ROOT is the checkout.
set(PITCHLOOM_CORE_SOURCES
  ${PITCHLOOM_ROOT}/base/file_io.cpp
  ${PITCHLOOM_ROOT}/base/messages.cpp
  ${PITCHLOOM_ROOT}/base/shared_library.cpp
  ${PITCHLOOM_ROOT}/midifile/byte_reader.cpp
  ${PITCHLOOM_ROOT}/midifile/event_reader.cpp
  ${PITCHLOOM_ROOT}/midifile/event_writer.cpp
  ${PITCHLOOM_ROOT}/midifile/format0_merge.cpp
  ${PITCHLOOM_ROOT}/midifile/midi_song.cpp
  ${PITCHLOOM_ROOT}/midifile/song_clock.cpp
  ${PITCHLOOM_ROOT}/midifile/song_loader.cpp
  ${PITCHLOOM_ROOT}/midifile/sysex.cpp
  ${PITCHLOOM_ROOT}/tuning/pure_tuning.cpp
  ${PITCHLOOM_ROOT}/tuning/rhythm_channels.cpp
  ${PITCHLOOM_ROOT}/tuning/scala_file.cpp
  ${PITCHLOOM_ROOT}/tuning/scale_file.cpp
  ${PITCHLOOM_ROOT}/tuning/scale_file_commands.cpp
  ${PITCHLOOM_ROOT}/tuning/scale_files.cpp
  ${PITCHLOOM_ROOT}/tuning/song_harmony.cpp
  ${PITCHLOOM_ROOT}/tuning/song_tuning.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_controls.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_state.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_tables.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_value.cpp
  ${PITCHLOOM_ROOT}/tuning/dialects.cpp
  ${PITCHLOOM_ROOT}/tuning/note_retuner.cpp
  ${PITCHLOOM_ROOT}/tuning/bend_retuner.cpp
  ${PITCHLOOM_ROOT}/tuning/tuning_program_retuner.cpp
  ${PITCHLOOM_ROOT}/playback/inputs/system_midi_input.cpp
  ${PITCHLOOM_ROOT}/playback/outputs/audio_libraries.cpp
  ${PITCHLOOM_ROOT}/playback/outputs/midi_port.cpp
  ${PITCHLOOM_ROOT}/playback/outputs/pulse_output.cpp
  ${PITCHLOOM_ROOT}/playback/outputs/recording_output.cpp
  ${PITCHLOOM_ROOT}/playback/outputs/synth_output.cpp
  ${PITCHLOOM_ROOT}/playback/outputs/synth_tuning.cpp
  ${PITCHLOOM_ROOT}/playback/outputs/system_midi_output.cpp
  ${PITCHLOOM_ROOT}/playback/playing/scale_tuning_sender.cpp
  ${PITCHLOOM_ROOT}/playback/playing/input_relay.cpp
  ${PITCHLOOM_ROOT}/playback/playing/sequencer.cpp
  ${PITCHLOOM_ROOT}/playback/playing/sequencer_live.cpp
  ${PITCHLOOM_ROOT}/playback/playing/timer_service.cpp
  ${PITCHLOOM_ROOT}/playback/audio/audio_file.cpp
  ${PITCHLOOM_ROOT}/playback/audio/audio_render.cpp
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
