# Warnings for the project's own code; third-party code is not built here. They are errors
# only where CORVANE_WERROR asks (scripts/test and CI): a newer compiler's new warning must
# not break a user's or a packager's build.
function(corvane_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra
                           $<$<BOOL:${CORVANE_WERROR}>:-Werror>)
endfunction()

# Engine code reports every failure as a code and is built without C++ exceptions.
function(corvane_no_exceptions target)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
endfunction()
