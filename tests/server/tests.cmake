# quillmet-server: the upload sink on loopback; the whole server across a veth pair between
# two network namespaces of its own (root only, else skipped).
target_link_libraries(server_uploadsink_test PRIVATE quillmet_server)
add_test(NAME server_netns COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/netns_test.sh)
set_tests_properties(server_netns PROPERTIES
    ENVIRONMENT "QM_SOURCE_DIR=${CMAKE_SOURCE_DIR};QM_BINARY_DIR=${CMAKE_BINARY_DIR}"
    LABELS "server;e2e" SKIP_RETURN_CODE 77 TIMEOUT 300)
add_test(NAME server_unit COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/unit_test.sh)
set_tests_properties(server_unit PROPERTIES ENVIRONMENT "QM_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    LABELS server SKIP_RETURN_CODE 77 TIMEOUT 60)
