# Works out Morrow's version and writes it into OUT_HEADER (for the programs) and OUT_TEXT (for the
# package), each rewritten only when the version changed: the build runs this every time, so a
# commit shows in the next build's --version, and an unchanged tree recompiles nothing.
#
#   cmake -DSOURCE_DIR=... -DBASE_VERSION=0.1 -DOUT_HEADER=.../MorrowVersion.h -DOUT_TEXT=.../version.txt
#         -P MorrowVersion.cmake
#
# Without a git tree the version is BASE_VERSION. With one it follows `git describe`, written the
# way a Debian version may be: on a tag v1.2 it is 1.2; five commits past it 1.2+5.gabc1234; with
# no v-tag at all, BASE_VERSION+N.gHASH with N the commits so far. Uncommitted changes add ".dirty".
set(version "${BASE_VERSION}")
find_program(MORROW_GIT git)
if(MORROW_GIT AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${MORROW_GIT}" -C "${SOURCE_DIR}" describe --tags --long --match "v[0-9]*" --dirty=.dirty
                    RESULT_VARIABLE described OUTPUT_VARIABLE description ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(described EQUAL 0 AND description MATCHES "^v([0-9][^-]*)-([0-9]+)-g([0-9a-f]+)(\\.dirty)?$")
        set(version "${CMAKE_MATCH_1}")
        if(NOT CMAKE_MATCH_2 EQUAL 0 OR CMAKE_MATCH_4)
            set(version "${version}+${CMAKE_MATCH_2}.g${CMAKE_MATCH_3}${CMAKE_MATCH_4}")
        endif()
    else()
        execute_process(COMMAND "${MORROW_GIT}" -C "${SOURCE_DIR}" describe --always --abbrev=7 --dirty=.dirty
                        RESULT_VARIABLE described OUTPUT_VARIABLE hash ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        execute_process(COMMAND "${MORROW_GIT}" -C "${SOURCE_DIR}" rev-list --count HEAD
                        RESULT_VARIABLE counted OUTPUT_VARIABLE count ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(described EQUAL 0 AND counted EQUAL 0 AND hash MATCHES "^[0-9a-f]+(\\.dirty)?$")
            set(version "${BASE_VERSION}+${count}.g${hash}")
        endif()
    endif()
endif()

file(CONFIGURE OUTPUT "${OUT_HEADER}" CONTENT "#pragma once
// Written by cmake/MorrowVersion.cmake at every build.
#define MORROW_VERSION \"${version}\"
" @ONLY)
file(CONFIGURE OUTPUT "${OUT_TEXT}" CONTENT "${version}\n" @ONLY)
