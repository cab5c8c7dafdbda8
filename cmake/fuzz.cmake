# Fuzz targets (clang, libFuzzer): every fuzz/NAME_fuzz.cpp is one program that defines
# LLVMFuzzerTestOneInput. Like the tests they see every layer, and the command line's sources
# as well (all but its main).
find_package(Threads REQUIRED)
find_package(SQLite3 REQUIRED)

brevant_sources(CLI_SOURCES cli cli/commands cli/output cli/shared)
list(FILTER CLI_SOURCES EXCLUDE REGEX "/cli/main\\.cpp$")
add_library(brevant_cli_parts STATIC ${CLI_SOURCES})
target_link_libraries(brevant_cli_parts PUBLIC brevant_sim brevant_format brevant_core
    brevant_reader SQLite::SQLite3)
brevant_view(brevant_cli_parts cli sim format core reader res)

file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp")
foreach(src IN LISTS FUZZ_SOURCES)
    get_filename_component(name "${src}" NAME_WE)
    add_executable(${name} "${src}")
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE brevant_cli_parts brevant_app brevant_sim
        Threads::Threads)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()
