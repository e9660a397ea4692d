# Fuzz target of the update page: its entries and the names the updater acts
# on. Included from fuzz/CMakeLists.txt when fuzzing is built (clang). The
# page rules, the name rules and the text core (with its GBK conversion) are
# compiled into the target, so they carry the sanitizers. Run:
#   update_page_fuzz -max_total_time=120 corpus/
set(QINGHE_UPDATE_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(QINGHE_UPDATE_FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src)

add_executable(update_page_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/update_page_fuzz.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/online/update_rules.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/net/file_name.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/text/between.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/text/characters.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/text/format.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/text/gbk.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/text/names.cpp
  ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/text/search.cpp
)
target_include_directories(update_page_fuzz PRIVATE ${QINGHE_UPDATE_FUZZ_SOURCE_DIR} ${QINGHE_UPDATE_FUZZ_SOURCE_DIR}/text)
target_compile_features(update_page_fuzz PRIVATE cxx_std_20)
target_compile_options(update_page_fuzz PRIVATE ${QINGHE_UPDATE_FUZZ_FLAGS})
target_link_options(update_page_fuzz PRIVATE ${QINGHE_UPDATE_FUZZ_FLAGS})
target_link_libraries(update_page_fuzz PRIVATE Qt6::Core Iconv::Iconv)
set_target_properties(update_page_fuzz PROPERTIES AUTOMOC OFF)
