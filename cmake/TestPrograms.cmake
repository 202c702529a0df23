# qlpr_test_program_needs(PROGRAM TARGET...): the test program PROGRAM runs
# or loads TARGETs built by a part. The test programs are defined in tests/,
# after the parts, so the dependency is added once the whole project is read
# (and only when the tests are built).
function(qlpr_test_program_needs program)
    if(QLPR_TESTS)
        # A deferred call reads its arguments when it runs: the names are
        # written into it now.
        cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
            CALL _qlpr_add_test_program_needs ${program} ${ARGN})")
    endif()
endfunction()

function(_qlpr_add_test_program_needs program)
    if(TARGET ${program})
        add_dependencies(${program} ${ARGN})
    endif()
endfunction()
