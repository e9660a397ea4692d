# Fuzz target of the notepad's reading of a file's encoding: notes come from
# anywhere. Included from fuzz/CMakeLists.txt when fuzzing is built (clang).
# The encoding layer and the text conversions under it are compiled into the
# target, so they carry the sanitizers. Run:
#   document_fuzz -max_total_time=180 corpus/
set(QINGHE_DOCUMENT_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

add_executable(document_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/document_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/src/editor/document_encoding.cpp
  ${PROJECT_SOURCE_DIR}/src/text/characters.cpp
  ${PROJECT_SOURCE_DIR}/src/text/gbk.cpp
  ${PROJECT_SOURCE_DIR}/src/text/names.cpp
)
target_include_directories(document_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_features(document_fuzz PRIVATE cxx_std_20)
target_compile_options(document_fuzz PRIVATE ${QINGHE_DOCUMENT_FUZZ_FLAGS})
target_link_options(document_fuzz PRIVATE ${QINGHE_DOCUMENT_FUZZ_FLAGS})
target_link_libraries(document_fuzz PRIVATE Qt6::Core Iconv::Iconv)
set_target_properties(document_fuzz PROPERTIES AUTOMOC OFF)
