# The upload end to end against this machine's postfix (needs root; skipped otherwise).
add_executable(upload_postfix_driver ${CMAKE_CURRENT_LIST_DIR}/postfix_upload.cpp)
target_link_libraries(upload_postfix_driver PRIVATE quillmet_testsupport Qt6::Test
                                                    quillmet_common)
add_test(NAME upload_postfix
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/postfix_e2e.sh $<TARGET_FILE:upload_postfix_driver>)
set_tests_properties(upload_postfix PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${CMAKE_SOURCE_DIR};QM_BINARY_DIR=${CMAKE_BINARY_DIR}"
    LABELS "upload;e2e" RESOURCE_LOCK postfix SKIP_RETURN_CODE 77 TIMEOUT 180)
