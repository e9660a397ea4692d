# Fuzz target of the address splitting. Included from fuzz/CMakeLists.txt
# when fuzzing is built (clang). The splitting and the text search it uses
# are compiled into the target, so they carry the sanitizers themselves.
set(QINGHE_NET_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(QINGHE_NET_FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src)

add_executable(url_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/url_fuzz.cpp
  ${QINGHE_NET_FUZZ_SOURCE_DIR}/net/url_parts.cpp
  ${QINGHE_NET_FUZZ_SOURCE_DIR}/text/search.cpp
  ${QINGHE_NET_FUZZ_SOURCE_DIR}/text/characters.cpp
)
target_include_directories(url_fuzz PRIVATE ${QINGHE_NET_FUZZ_SOURCE_DIR} ${QINGHE_NET_FUZZ_SOURCE_DIR}/text)
target_compile_features(url_fuzz PRIVATE cxx_std_20)
target_compile_options(url_fuzz PRIVATE ${QINGHE_NET_FUZZ_FLAGS})
target_link_options(url_fuzz PRIVATE ${QINGHE_NET_FUZZ_FLAGS})
set_target_properties(url_fuzz PROPERTIES AUTOMOC OFF)
