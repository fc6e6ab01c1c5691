# ORVANE_SANITIZE=address,undefined (or thread) instruments every target.
if(ORVANE_SANITIZE)
    add_compile_options(-fsanitize=${ORVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${ORVANE_SANITIZE})
endif()
if(ORVANE_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ORVANE_FUZZ needs clang (libFuzzer)")
endif()
if(ORVANE_FUZZ)
    # Everything is instrumented for coverage; only the fuzz executables link the fuzzer main.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
