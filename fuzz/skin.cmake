# Fuzz target of the skin library loader: the checks of every header and
# table, the mapping, relocation, protection and export look-up. Included
# from fuzz/CMakeLists.txt when fuzzing is built (clang). The loader is
# compiled into the target, so it carries the sanitizers itself. Seed it with
# the library the build makes, e.g.
#   mkdir -p /tmp/skin-corpus && cp build/src/skin/skinlib.so /tmp/skin-corpus/
#   build-fuzz/bin/skin_fuzz /tmp/skin-corpus
set(QINGHE_SKIN_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
set(QINGHE_SKIN_FUZZ_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../src)

add_executable(skin_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/skin_fuzz.cpp
  ${QINGHE_SKIN_FUZZ_SOURCE_DIR}/skin/mapped_library.cpp
  ${QINGHE_SKIN_FUZZ_SOURCE_DIR}/skin/import_scope.cpp
)
target_include_directories(skin_fuzz PRIVATE ${QINGHE_SKIN_FUZZ_SOURCE_DIR})
target_compile_features(skin_fuzz PRIVATE cxx_std_20)
target_compile_options(skin_fuzz PRIVATE ${QINGHE_SKIN_FUZZ_FLAGS})
target_link_options(skin_fuzz PRIVATE ${QINGHE_SKIN_FUZZ_FLAGS})
target_link_libraries(skin_fuzz PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(skin_fuzz PROPERTIES AUTOMOC OFF)
