# Native (Linux) targets: the command line, the tests and the benchmarks.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
# The command line keeps every stick's runs in a SQLite database (libsqlite3-dev).
find_package(SQLite3 REQUIRED)
enable_testing()
include(GoogleTest)

# The command line: its parts as a library the tests link too, and the program around main().
brevant_sources(CLI_SOURCES cli cli/commands cli/output cli/shared)
list(FILTER CLI_SOURCES EXCLUDE REGEX "/cli/main\\.cpp$")
add_library(brevant_cli STATIC ${CLI_SOURCES})
target_link_libraries(brevant_cli PUBLIC brevant_sim brevant_format brevant_core brevant_reader
    SQLite::SQLite3)
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

# Programs the kernel rig copies into its guest (scripts/kernel-rig.sh takes every *_guest).
add_executable(default_signals_guest ${CMAKE_SOURCE_DIR}/tests/kernel/default_signals_guest.cpp)
add_executable(pty_guest ${CMAKE_SOURCE_DIR}/tests/kernel/pty_guest.cpp)
add_executable(exclusive_open_guest ${CMAKE_SOURCE_DIR}/tests/kernel/exclusive_open_guest.cpp)

# Scenarios on a real Linux kernel (scripts/kernel-rig.sh), label "kernel": each batch is one boot
# of the rig that runs several scenarios (tests/kernel/BATCH.sh); each scenario is a test of its
# own that reads the verdict its batch left. A batch whose guest does not boot fails, and so does
# every scenario of it. A scenario that a known fault of the program breaks is expected to show
# exactly that fault: brevant_kernel_scenario(BATCH NAME fault "WHY").
if(NOT BREVANT_SANITIZE)
    set(KERNEL_OUT ${CMAKE_BINARY_DIR}/kernel)
    function(brevant_kernel_batch batch machine)
        add_test(NAME kernel.${batch}
            COMMAND bash ${CMAKE_SOURCE_DIR}/tests/kernel/run-batch.sh ${batch}
                ${CMAKE_SOURCE_DIR}/${machine} ${KERNEL_OUT}/${batch})
        set_tests_properties(kernel.${batch} PROPERTIES LABELS kernel TIMEOUT 660
            FIXTURES_SETUP kernel-${batch} ENVIRONMENT BREVANT_RIG_BUILD=${CMAKE_BINARY_DIR})
    endfunction()
    function(brevant_kernel_scenario batch name)
        add_test(NAME kernel.${batch}.${name}
            COMMAND bash ${CMAKE_SOURCE_DIR}/tests/kernel/result.sh ${KERNEL_OUT}/${batch} ${name}
                ${ARGN})
        set_tests_properties(kernel.${batch}.${name} PROPERTIES LABELS kernel
            FIXTURES_REQUIRED kernel-${batch})
    endfunction()

    brevant_kernel_batch(demo sim/examples/demo-64mb.txt)
    brevant_kernel_scenario(demo list)
    brevant_kernel_scenario(demo check)
    brevant_kernel_scenario(demo quick)
    brevant_kernel_scenario(demo full)

    brevant_kernel_batch(interrupt tests/kernel/interrupt.txt)
    brevant_kernel_scenario(interrupt ctrl-c)
    brevant_kernel_scenario(interrupt stop-continue)
    brevant_kernel_scenario(interrupt pulls)

    brevant_kernel_batch(claim tests/kernel/claim.txt)
    brevant_kernel_scenario(claim kept)
    brevant_kernel_scenario(claim held)
    brevant_kernel_scenario(claim replug)
    brevant_kernel_scenario(claim reset)
    brevant_kernel_scenario(claim sense)
    brevant_kernel_scenario(claim transfers)
    brevant_kernel_scenario(claim silent)

    brevant_kernel_batch(station tests/kernel/station.txt)
    brevant_kernel_scenario(station format-all)
    brevant_kernel_scenario(station watch)
endif()

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
