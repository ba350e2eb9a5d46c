# quillmet-cli: its units link quillmet_cli; the end-to-end tests run build/quillmet-cli.
foreach(test cli_options_test cli_binary_test cli_peers_test cli_linetest_test cli_prometheus_test)
    if(TARGET ${test})
        target_link_libraries(${test} PRIVATE quillmet_cli)
    endif()
endforeach()

# The end-to-end tests start build/quillmet-cli (and build/quillmet, for its lock) against
# scripts/sample-host, which serves what make-samples writes and runs quillmet-sink's upload sink.
add_dependencies(cli_binary_test quillmet-cli quillmet make-samples quillmet-sink)
set_tests_properties(cli_binary_test PROPERTIES RESOURCE_LOCK sample_host LABELS "cli;e2e"
                                                TIMEOUT 240)

# --line's records from a real test against the sample host, phases shortened in process.
add_dependencies(cli_linetest_test make-samples quillmet-sink)
set_tests_properties(cli_linetest_test PROPERTIES RESOURCE_LOCK sample_host LABELS cli TIMEOUT 120)

# --family both through a hosts file in the child's own mount namespace (root, else skipped).
add_dependencies(cli_families_test quillmet-cli)
set_tests_properties(cli_families_test PROPERTIES LABELS cli TIMEOUT 120)
# --prometheus's file after a good run on the sample host and after a refused one.
add_dependencies(cli_prometheus_test quillmet-cli make-samples quillmet-sink)
set_tests_properties(cli_prometheus_test PROPERTIES RESOURCE_LOCK sample_host LABELS cli TIMEOUT 120)
