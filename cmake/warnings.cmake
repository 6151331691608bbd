# Warnings are errors for the project's own code; third-party code is not built here.
function(corvane_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Engine code reports every failure as a code and is built without C++ exceptions.
function(corvane_no_exceptions target)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
endfunction()
