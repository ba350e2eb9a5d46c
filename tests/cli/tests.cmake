# quillmet-cli: its units link quillmet_cli; the end-to-end tests run build/quillmet-cli.
foreach(test cli_options_test cli_binary_test cli_peers_test)
    if(TARGET ${test})
        target_link_libraries(${test} PRIVATE quillmet_cli)
    endif()
endforeach()
