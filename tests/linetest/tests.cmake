# The line test engine's peers are in-process; nothing here needs the sample host.
set_tests_properties(linetest_linetestrun_test PROPERTIES TIMEOUT 120)

# The window's test runs real line tests against scripts/sample-host.
add_dependencies(linetest_window_test make-samples quillmet-sink)
set_tests_properties(linetest_window_test PROPERTIES RESOURCE_LOCK sample_host TIMEOUT 180)
