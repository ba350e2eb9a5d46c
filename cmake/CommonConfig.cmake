# Settings shared by every target of ours: warnings as errors, optional sanitizers.
add_library(quillmet_common INTERFACE)
target_compile_options(quillmet_common INTERFACE -Wall -Wextra -Wpedantic -Werror)
if(QUILLMET_ASAN)
    target_compile_options(quillmet_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(quillmet_common INTERFACE -fsanitize=address,undefined)
endif()
