# Installing and packing: the installed tree, the Debian package, the window's icon.
add_test(NAME package_install_tree COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_tree_test.sh)
add_test(NAME package_deb COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/deb_test.sh)
add_test(NAME package_window_icon COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/window_icon_test.sh)
set_tests_properties(package_install_tree package_deb package_window_icon PROPERTIES
    ENVIRONMENT "QM_SOURCE_DIR=${CMAKE_SOURCE_DIR};QM_BINARY_DIR=${CMAKE_BINARY_DIR}"
    LABELS package SKIP_RETURN_CODE 77 TIMEOUT 600)
# Both install from the same build folder; the tree test also starts a sample host.
set_tests_properties(package_install_tree PROPERTIES RESOURCE_LOCK "quillmet_install;sample_host")
set_tests_properties(package_deb PROPERTIES RESOURCE_LOCK quillmet_install)
