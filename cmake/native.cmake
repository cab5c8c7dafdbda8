# Native (Linux) targets: the command line, the tests and the benchmarks.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
enable_testing()
include(GoogleTest)

# The command line: its parts as a library the tests link too, and the program around main().
brevant_sources(CLI_SOURCES cli)
list(FILTER CLI_SOURCES EXCLUDE REGEX "/cli/main\\.cpp$")
add_library(brevant_cli STATIC ${CLI_SOURCES})
target_link_libraries(brevant_cli PUBLIC brevant_sim brevant_format brevant_core brevant_reader)
brevant_view(brevant_cli cli sim format core reader res)
target_compile_definitions(brevant_cli PRIVATE BREVANT_VERSION="${PROJECT_VERSION}")
add_executable(brevant ${CMAKE_SOURCE_DIR}/cli/main.cpp)
target_link_libraries(brevant PRIVATE brevant_cli)
brevant_view(brevant cli sim format core reader res)

# The simulated machine's sticks as USB devices of this machine's kernel (configfs gadgets and
# FunctionFS): the transport as a library the tests link too, and the program around it.
file(GLOB USB_STICK_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/sim/usb/*.cpp")
list(FILTER USB_STICK_SOURCES EXCLUDE REGEX "/stick_main\\.cpp$")
add_library(brevant_usb_stick STATIC ${USB_STICK_SOURCES})
target_link_libraries(brevant_usb_stick PUBLIC brevant_sim Threads::Threads)
brevant_view(brevant_usb_stick sim core reader)
add_executable(brevant-usb-stick ${CMAKE_SOURCE_DIR}/sim/usb/stick_main.cpp)
target_link_libraries(brevant-usb-stick PRIVATE brevant_usb_stick)
brevant_view(brevant-usb-stick sim core reader)

brevant_sources(TEST_SOURCES tests)
add_executable(brevant_tests ${TEST_SOURCES})
# Tests and benchmarks look at every layer.
target_include_directories(brevant_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(brevant_tests PRIVATE brevant_app brevant_cli brevant_usb_stick GTest::gtest
    GTest::gtest_main Threads::Threads)
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
    target_compile_definitions(${name} PRIVATE BREVANT_BINARY_DIR="${CMAKE_BINARY_DIR}")
    target_compile_definitions(${name} PRIVATE BREVANT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endforeach()

# What `cmake --install` puts in place: the program, its manual page and its bash completion.
include(GNUInstallDirs)
install(TARGETS brevant RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/doc/brevant.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/completions/brevant.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME brevant)
