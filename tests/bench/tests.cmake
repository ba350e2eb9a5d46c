# The benchmarks themselves run by hand (bench/run, as root); only their arithmetic is tested.
add_test(NAME bench_figures COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/figures_test.sh)
set_tests_properties(bench_figures PROPERTIES
    ENVIRONMENT "QM_SOURCE_DIR=${CMAKE_SOURCE_DIR}" LABELS bench TIMEOUT 30)
