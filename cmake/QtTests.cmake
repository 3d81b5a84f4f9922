# Registers each test function of a QtTest program as a CTest test of its
# own, named PREFIX.TARGET.function, so one skipped function shows as skipped
# while the others still count, and a failure is never hidden by a skip.
#
#   kelvo_add_qtest(PREFIX TARGET [TIMEOUT seconds] [LABELS labels...]
#                   [ENVIRONMENT VAR=value...])
#
# The functions are listed when CTest starts (the program's -functions), as
# gtest_discover_tests does for GoogleTest, so a new function needs no CMake
# change. Every run is on Qt's offscreen platform unless ENVIRONMENT says
# otherwise.
function(kelvo_add_qtest prefix target)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "TIMEOUT" "LABELS;ENVIRONMENT")
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 120)
    endif()
    set(environment "QT_QPA_PLATFORM=offscreen" ${arg_ENVIRONMENT})
    set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_qtests.cmake")
    file(GENERATE OUTPUT "${include_file}" CONTENT
"set(cmake [==[${CMAKE_COMMAND}]==])
set(prefix [==[${prefix}.${target}]==])
set(executable [==[$<TARGET_FILE:${target}>]==])
set(timeout [==[${arg_TIMEOUT}]==])
set(labels [==[${arg_LABELS}]==])
set(environment [==[${environment}]==])
include([==[${PROJECT_SOURCE_DIR}/cmake/QtTestAddTests.cmake]==])
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()
