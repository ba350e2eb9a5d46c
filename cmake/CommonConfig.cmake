# Settings shared by every target of ours: warnings as errors, optional sanitizers.
add_library(quillmet_common INTERFACE)
target_compile_options(quillmet_common INTERFACE -Wall -Wextra -Wpedantic -Werror)
if(QUILLMET_ASAN)
    target_compile_options(quillmet_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(quillmet_common INTERFACE -fsanitize=address,undefined)
endif()
if(QUILLMET_FUZZ)
    # Coverage for libFuzzer plus the sanitizers, failing hard on the first report.
    set(QM_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
    target_compile_options(quillmet_common INTERFACE ${QM_FUZZ_FLAGS})
    target_link_options(quillmet_common INTERFACE -fsanitize=address,undefined)
endif()
