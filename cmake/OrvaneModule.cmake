# orvane_module(NAME SOURCES ... DEPS ...): one static library per source folder.
# Engine folders get no Qt include paths, so a stray Qt include fails to compile.
function(orvane_module name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(orvane_${name} STATIC ${ARG_SOURCES})
    target_include_directories(orvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(orvane_${name} PUBLIC ${ARG_DEPS} PRIVATE orvane_warnings)
endfunction()

# orvane_test(NAME SOURCES ... DEPS ...): one GoogleTest executable, registered with CTest.
function(orvane_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} orvane_test_support GTest::gtest GTest::gtest_main orvane_warnings)
    # Index snapshots of the tests' libraries go to the build tree, never to the user's cache.
    set(props ENVIRONMENT "ORVANE_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data"
        ENVIRONMENT_MODIFICATION "XDG_CACHE_HOME=set:${PROJECT_BINARY_DIR}/test-cache")
    if(ARG_LABELS)
        list(APPEND props LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# orvane_fuzzer(NAME SOURCES ... DEPS ...): a libFuzzer target, only with ORVANE_FUZZ.
function(orvane_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    if(ORVANE_FUZZ)
        add_executable(${name} ${ARG_SOURCES})
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} orvane_warnings)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    endif()
endfunction()

# orvane_qt_module(NAME DEPS ...): an application-layer library of every .cpp in the folder,
# built with Qt's strict macros.
function(orvane_qt_module name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    add_library(orvane_${name} STATIC ${sources})
    set_target_properties(orvane_${name} PROPERTIES AUTOMOC ON)
    target_include_directories(orvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_definitions(orvane_${name} PUBLIC QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII QT_NO_FOREACH)
    target_link_libraries(orvane_${name} PUBLIC ${ARG_DEPS} PRIVATE orvane_warnings)
endfunction()
