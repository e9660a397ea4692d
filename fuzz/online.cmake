# Fuzz target of the addresses.ini reader. Included from fuzz/CMakeLists.txt
# when fuzzing is built (clang). The reader, the address splitting and the
# text rules it uses are compiled into the target, so they carry the
# sanitizers themselves. Run:
#   addresses_fuzz -max_total_time=120 -dict=fuzz/addresses.dict corpus/
set(QINGHE_ONLINE_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(QINGHE_ONLINE_FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src)

add_executable(addresses_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/addresses_fuzz.cpp
  ${QINGHE_ONLINE_FUZZ_SOURCE_DIR}/online/address_file.cpp
  ${QINGHE_ONLINE_FUZZ_SOURCE_DIR}/net/url_parts.cpp
  ${QINGHE_ONLINE_FUZZ_SOURCE_DIR}/text/characters.cpp
  ${QINGHE_ONLINE_FUZZ_SOURCE_DIR}/text/format.cpp
  ${QINGHE_ONLINE_FUZZ_SOURCE_DIR}/text/search.cpp
)
target_include_directories(addresses_fuzz PRIVATE ${QINGHE_ONLINE_FUZZ_SOURCE_DIR})
target_compile_features(addresses_fuzz PRIVATE cxx_std_20)
target_compile_options(addresses_fuzz PRIVATE ${QINGHE_ONLINE_FUZZ_FLAGS})
target_link_options(addresses_fuzz PRIVATE ${QINGHE_ONLINE_FUZZ_FLAGS})
set_target_properties(addresses_fuzz PROPERTIES AUTOMOC OFF)
