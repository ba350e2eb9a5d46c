# The sample files and their local host.

# The test runs the built tool, so building the test builds the tool.
add_dependencies(tools_make_samples_test make-samples)

# The sample host end to end: nginx on a port of its own, in a folder of its own.
add_test(NAME tools_sample_host COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/sample_host_test.sh)
set_tests_properties(tools_sample_host PROPERTIES
    ENVIRONMENT "QM_SOURCE_DIR=${CMAKE_SOURCE_DIR};QM_BINARY_DIR=${CMAKE_BINARY_DIR}"
    LABELS "tools;e2e" RESOURCE_LOCK sample_host TIMEOUT 120)

# install-deps starts and enables no service it installs. Installing may touch ports 25 and 80.
add_test(NAME tools_install_deps COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_deps_test.sh)
set_tests_properties(tools_install_deps PROPERTIES
    ENVIRONMENT "QM_SOURCE_DIR=${CMAKE_SOURCE_DIR}" SKIP_RETURN_CODE 77
    LABELS tools RESOURCE_LOCK "sample_host;postfix" TIMEOUT 900)

# The folders tell the library, and includes point from the window and the CLI to the core.
add_test(NAME tools_layout COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-layout)
set_tests_properties(tools_layout PROPERTIES LABELS tools TIMEOUT 30)
