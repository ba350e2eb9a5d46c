# The real program end to end against the local sample host.

# The test starts build/quillmet and scripts/sample-host, which serves what make-samples writes.
add_dependencies(e2e_binary_test quillmet make-samples)

# Its own port and folder (build/e2e-sample-host); the lock keeps it apart from the other
# sample host test all the same.
set_tests_properties(e2e_binary_test PROPERTIES RESOURCE_LOCK sample_host TIMEOUT 180)
