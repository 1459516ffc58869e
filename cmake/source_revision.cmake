# Writes OUTPUT, a header defining GLIMMERDEX_REVISION as `git describe
# --always --dirty` of SOURCE_DIR says it now ("unknown" without git or
# outside a repository). Run at every build; the header is rewritten only
# when its text changes, so nothing is compiled again for nothing.
set(revision "unknown")
if(GIT_EXECUTABLE)
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty
        WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE result ERROR_QUIET)
    if(result EQUAL 0 AND NOT described STREQUAL "")
        set(revision "${described}")
    endif()
endif()
string(REPLACE "\\" "\\\\" revision "${revision}")
string(REPLACE "\"" "\\\"" revision "${revision}")
set(text "// Written by cmake/source_revision.cmake at build time.\n#define GLIMMERDEX_REVISION \"${revision}\"\n")
set(old "")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
    file(WRITE ${OUTPUT} "${text}")
endif()
