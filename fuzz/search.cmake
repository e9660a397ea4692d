# Fuzz target of the sound search: any text as the query and as a slot's
# name. Included from fuzz/CMakeLists.txt when fuzzing is built (clang). The
# matcher, its pinyin table and the board's catalogue are compiled into the
# target, so they carry the sanitizers. Run:
#   search_fuzz -max_total_time=180 corpus/
set(QINGHE_SEARCH_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

add_executable(search_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/search_fuzz.cpp
  ${QINGHE_SEARCH_CORE_SOURCES}
  ${PROJECT_SOURCE_DIR}/src/board/sound_catalogue.cpp
)
add_dependencies(search_fuzz qinghe_pinyin_table)
target_include_directories(search_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/src/search)
target_compile_options(search_fuzz PRIVATE ${QINGHE_SEARCH_FUZZ_FLAGS})
target_link_options(search_fuzz PRIVATE ${QINGHE_SEARCH_FUZZ_FLAGS})
target_link_libraries(search_fuzz PRIVATE Qt6::Core)
set_target_properties(search_fuzz PROPERTIES AUTOMOC OFF)
