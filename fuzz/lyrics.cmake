# Fuzz target of the lyrics search's page reading: the portal's page text
# comes from outside. Included from fuzz/CMakeLists.txt when fuzzing is built
# (clang). The reading and the text routines under it are compiled into the
# target, so they carry the sanitizers themselves. Run:
#   lyrics_fuzz -max_total_time=120 -dict=fuzz/lyrics.dict corpus/
set(QINGHE_LYRICS_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(QINGHE_LYRICS_FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src)

add_executable(lyrics_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/lyrics_fuzz.cpp
  ${QINGHE_LYRICS_FUZZ_SOURCE_DIR}/lyrics/lyrics_page.cpp
  ${QINGHE_LYRICS_FUZZ_SOURCE_DIR}/text/search.cpp
  ${QINGHE_LYRICS_FUZZ_SOURCE_DIR}/text/between.cpp
  ${QINGHE_LYRICS_FUZZ_SOURCE_DIR}/text/format.cpp
  ${QINGHE_LYRICS_FUZZ_SOURCE_DIR}/text/characters.cpp
  ${QINGHE_LYRICS_FUZZ_SOURCE_DIR}/text/gbk.cpp
)
target_include_directories(lyrics_fuzz PRIVATE ${QINGHE_LYRICS_FUZZ_SOURCE_DIR})
target_compile_features(lyrics_fuzz PRIVATE cxx_std_20)
target_compile_options(lyrics_fuzz PRIVATE ${QINGHE_LYRICS_FUZZ_FLAGS})
target_link_options(lyrics_fuzz PRIVATE ${QINGHE_LYRICS_FUZZ_FLAGS})
set_target_properties(lyrics_fuzz PROPERTIES AUTOMOC OFF)
# References become GBK characters through the text core's conversion.
target_link_libraries(lyrics_fuzz PRIVATE Qt6::Core)
