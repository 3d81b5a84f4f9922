# Instrumented builds, each in its own build directory:
#   -DKELVO_SANITIZE=ON  every target with AddressSanitizer and UndefinedBehaviorSanitizer
#                        (./test.sh --sanitize)
#   -DKELVO_FUZZ=ON      the same plus libFuzzer's coverage, and the targets in fuzz/
#                        (clang only; scripts/fuzz)
option(KELVO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(KELVO_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(KELVO_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KELVO_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()

if(KELVO_SANITIZE OR KELVO_FUZZ)
    set(kelvo_sanitizers address,undefined)
    if(KELVO_FUZZ)
        # The code under test records coverage; only the fuzz targets link libFuzzer's main().
        string(APPEND kelvo_sanitizers ",fuzzer-no-link")
    endif()
    # Undefined behaviour stops the program, so a test cannot pass over it.
    add_compile_options(-fsanitize=${kelvo_sanitizers} -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # GCC 12 sees overlapping copies in std::string assignments once they
        # are instrumented, where there are none (GCC bug 105651).
        add_compile_options(-Wno-restrict)
    endif()

    # CTest reads this file before running any test, so every test (and any
    # program a test starts) gets the options without a wrapper.
    set(KELVO_LSAN_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/lsan.supp)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/SanitizerEnv.cmake.in
                   ${CMAKE_BINARY_DIR}/SanitizerEnv.cmake @ONLY)
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/SanitizerEnv.cmake)
endif()
