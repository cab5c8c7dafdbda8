# Native (Linux) targets: the command line, the tests and the benchmarks.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
enable_testing()
include(GoogleTest)

brevant_sources(CLI_SOURCES cli)
if(CLI_SOURCES)
    add_executable(brevant ${CLI_SOURCES})
    target_link_libraries(brevant PRIVATE brevant_sim brevant_format brevant_core brevant_reader)
    brevant_view(brevant cli sim format core reader res)
endif()

brevant_sources(TEST_SOURCES tests)
add_executable(brevant_tests ${TEST_SOURCES})
# Tests and benchmarks look at every layer.
target_include_directories(brevant_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(brevant_tests PRIVATE brevant_app brevant_sim GTest::gtest GTest::gtest_main
    Threads::Threads)
target_compile_definitions(brevant_tests PRIVATE
    BREVANT_SOURCE_DIR="${CMAKE_SOURCE_DIR}" BREVANT_BINARY_DIR="${CMAKE_BINARY_DIR}")
gtest_discover_tests(brevant_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# Each benchmark is one program that prints its figures.
file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/bench/*.cpp")
foreach(src IN LISTS BENCH_SOURCES)
    get_filename_component(name "${src}" NAME_WE)
    add_executable(${name} "${src}")
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE brevant_format brevant_sim)
    target_compile_definitions(${name} PRIVATE BREVANT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endforeach()
