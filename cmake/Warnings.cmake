# Warnings every target of ours gets; errors when ORVANE_WERROR is on (CI).
add_library(orvane_warnings INTERFACE)
target_compile_options(orvane_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Woverloaded-virtual -Wformat=2
    $<$<BOOL:${ORVANE_WERROR}>:-Werror>)
