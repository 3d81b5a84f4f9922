# Run by CTest for each QtTest program kelvo_add_qtest registered: adds one
# test per test function, as the program lists them. Variables: prefix,
# executable, timeout, labels, environment, and cmake (CTest's scripts know
# no CMAKE_COMMAND).
if(NOT EXISTS "${executable}")
    add_test("${prefix}.NOT_BUILT" "${prefix}.NOT_BUILT")
    return()
endif()
execute_process(
    COMMAND "${cmake}" -E env ${environment} "${executable}" -functions
    OUTPUT_VARIABLE listed ERROR_VARIABLE errors RESULT_VARIABLE result TIMEOUT 60)
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*\\(\\)" functions "${listed}")
if(NOT result EQUAL 0 OR NOT functions)
    # A program that cannot list its functions shows as one failing test.
    add_test("${prefix}.LISTING_FAILED" "${cmake}" -E false)
    return()
endif()
foreach(function IN LISTS functions)
    string(REPLACE "()" "" function "${function}")
    add_test("${prefix}.${function}" "${executable}" "${function}")
    # Skipped only when QtTest's totals say something skipped and nothing
    # failed: a skip never hides a failure (a crash prints no totals).
    set_tests_properties("${prefix}.${function}" PROPERTIES
        ENVIRONMENT "${environment}"
        TIMEOUT "${timeout}"
        SKIP_REGULAR_EXPRESSION "Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped")
    if(labels)
        set_tests_properties("${prefix}.${function}" PROPERTIES LABELS "${labels}")
    endif()
endforeach()
