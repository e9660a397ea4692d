# Fuzz target of the decoder layer: any bytes as a sound file, checked,
# opened as stereo at 44.1 kHz, read for a second and sought back. Included
# from fuzz/CMakeLists.txt when fuzzing is built (clang). Our decoders are
# compiled into the target, so they carry the sanitizers; the libraries under
# them are the system's. Seed it with small files made by sox and ffmpeg, e.g.
#   mkdir -p /tmp/sound-corpus && cd /tmp/sound-corpus &&
#   sox -n -r 8000 -c 1 a.wav synth 0.05 sine 440 && ffmpeg -f lavfi -i sine=d=0.05 a.m4a
#   LSAN_OPTIONS=suppressions=fuzz/sound_file_lsan.supp \
#     sound_file_fuzz -max_total_time=180 -rss_limit_mb=2048 /tmp/sound-corpus
set(QINGHE_SOUND_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(QINGHE_SOUND_FUZZ_DECODERS ${PROJECT_SOURCE_DIR}/src/media/decoders)
pkg_check_modules(QINGHE_SOUND_FUZZ_LIBS REQUIRED IMPORTED_TARGET
  sndfile libavformat libavcodec libavutil soxr fluidsynth libopenmpt)

add_executable(sound_file_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/sound_file_fuzz.cpp
  ${QINGHE_SOUND_FUZZ_DECODERS}/sound_decoder.cpp
  ${QINGHE_SOUND_FUZZ_DECODERS}/stereo_stream.cpp
  ${QINGHE_SOUND_FUZZ_DECODERS}/sound_check.cpp
  ${QINGHE_SOUND_FUZZ_DECODERS}/sndfile_decoder.cpp
  ${QINGHE_SOUND_FUZZ_DECODERS}/ffmpeg_decoder.cpp
  ${QINGHE_SOUND_FUZZ_DECODERS}/midi_decoder.cpp
  ${QINGHE_SOUND_FUZZ_DECODERS}/tracker_decoder.cpp
)
target_include_directories(sound_file_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_features(sound_file_fuzz PRIVATE cxx_std_20)
target_compile_options(sound_file_fuzz PRIVATE ${QINGHE_SOUND_FUZZ_FLAGS})
target_link_options(sound_file_fuzz PRIVATE ${QINGHE_SOUND_FUZZ_FLAGS})
target_link_libraries(sound_file_fuzz PRIVATE PkgConfig::QINGHE_SOUND_FUZZ_LIBS)
set_target_properties(sound_file_fuzz PROPERTIES AUTOMOC OFF)
