# The line test engine's peers are in-process; nothing here needs the sample host.
set_tests_properties(linetest_linetestrun_test PROPERTIES TIMEOUT 120)
