# Fuzz target of the download service's reading of a reply: header lines,
# the file name, the redirection and the chunked body. Included from
# fuzz/CMakeLists.txt when fuzzing is built (clang). The readers and the text
# search they use are compiled into the target, so they carry the sanitizers.
set(QINGHE_DOWNLOAD_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src)

add_executable(download_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/download_fuzz.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/net/reply_header.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/net/chunked_body.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/net/file_name.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/net/download_address.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/net/download_request.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/net/url_parts.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/text/search.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/text/characters.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/text/format.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/text/gbk.cpp
  ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/text/names.cpp
)
target_include_directories(download_fuzz PRIVATE ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR} ${QINGHE_DOWNLOAD_FUZZ_SOURCE_DIR}/text)
target_compile_features(download_fuzz PRIVATE cxx_std_20)
target_compile_options(download_fuzz PRIVATE ${QINGHE_DOWNLOAD_FUZZ_FLAGS})
target_link_options(download_fuzz PRIVATE ${QINGHE_DOWNLOAD_FUZZ_FLAGS})
# A name from the server is looked at in the form the file system gets.
target_link_libraries(download_fuzz PRIVATE Qt6::Core Iconv::Iconv)
set_target_properties(download_fuzz PROPERTIES AUTOMOC OFF)
