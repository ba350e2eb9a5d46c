# The fuzz target for the state file reader: clang and libFuzzer, only with -DQUILLMET_FUZZ=ON.
# (The corpus replay, corpus_test.cpp, is an ordinary test of every build.) To fuzz:
#   CXX=clang++ cmake -S . -B build-fuzz -DQUILLMET_FUZZ=ON && cmake --build build-fuzz --target statefile_fuzz
#   mkdir -p /tmp/qm-corpus && nice build-fuzz/tests/statefile_fuzz -jobs=1 -max_len=4096 \
#       -dict=tests/fuzz/statefile.dict /tmp/qm-corpus tests/fuzz/corpus
if(QUILLMET_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QUILLMET_FUZZ needs clang: CXX=clang++ cmake -DQUILLMET_FUZZ=ON ...")
    endif()
    add_executable(statefile_fuzz ${CMAKE_CURRENT_LIST_DIR}/statefile_fuzz.cpp)
    target_link_libraries(statefile_fuzz PRIVATE quillmet_base quillmet_common)
    target_link_options(statefile_fuzz PRIVATE -fsanitize=fuzzer)
endif()
