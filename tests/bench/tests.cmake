# The benchmarks themselves run by hand (bench/run, as root); only their arithmetic is tested.
add_test(NAME bench_figures COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/figures_test.sh)
set_tests_properties(bench_figures PROPERTIES
    ENVIRONMENT "QM_SOURCE_DIR=${CMAKE_SOURCE_DIR}" LABELS bench TIMEOUT 30)
# The delay line the round-trip bench uses, between two namespaces of its own (root only).
add_test(NAME bench_delayline COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/delayline_test.sh)
set_tests_properties(bench_delayline PROPERTIES
    ENVIRONMENT "QM_BINARY_DIR=${CMAKE_BINARY_DIR}" LABELS bench SKIP_RETURN_CODE 77 TIMEOUT 120)
