# Fuzz target of the loudness numbers my.ini holds for the board's sounds.
# Included from fuzz/CMakeLists.txt when fuzzing is built (clang). Run:
#   loudness_numbers_fuzz -max_total_time=120 corpus/
set(QINGHE_LOUDNESS_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

add_executable(loudness_numbers_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/loudness_numbers_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/src/board/loudness_numbers.cpp
  ${PROJECT_SOURCE_DIR}/src/text/format.cpp
)
target_include_directories(loudness_numbers_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(loudness_numbers_fuzz PRIVATE ${QINGHE_LOUDNESS_FUZZ_FLAGS})
target_link_options(loudness_numbers_fuzz PRIVATE ${QINGHE_LOUDNESS_FUZZ_FLAGS})
