# Warnings of the project's own code. They become errors only with
# QUARRIN_WERROR (the test script and CI turn it on), so that a packager's
# build never fails on a compiler's false positive.
option(QUARRIN_WERROR "Treat warnings in the project's own code as errors" OFF)

function(quarrin_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough
    $<$<BOOL:${QUARRIN_WERROR}>:-Werror>)
endfunction()
