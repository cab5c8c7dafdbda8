# Windows (mingw-w64 i686) targets. Everything is linked statically so that the programs need no
# DLL beyond those of Windows itself.
set(BREVANT_STATIC_LINK -static -static-libgcc -static-libstdc++ $<$<NOT:$<CONFIG:Debug>>:-s>)

brevant_sources(WIN_APP_SOURCES app/win32)
if(WIN_APP_SOURCES)
    add_executable(Brevant WIN32 ${WIN_APP_SOURCES} ${CMAKE_SOURCE_DIR}/res/brevant.rc)
    target_link_libraries(Brevant PRIVATE brevant_app comctl32 ${BREVANT_STATIC_LINK})
    brevant_view(Brevant app format core reader res)
    set_target_properties(Brevant PROPERTIES OUTPUT_NAME "Brevant")
endif()

# The command line for Windows: the same sources as on Linux, with the Windows files of its
# platform seams (*_win32.cpp). brevant-cli.exe, not brevant.exe: Windows file names ignore
# case, and it sits beside Brevant.exe. Its JSON library is header-only (nlohmann-json3-dev),
# taken from the system's headers into its view.
brevant_sources(WIN_CLI_SOURCES cli cli/commands cli/output cli/shared)
add_executable(brevant-cli ${WIN_CLI_SOURCES} ${CMAKE_SOURCE_DIR}/res/brevant_cli.rc)
target_link_libraries(brevant-cli PRIVATE brevant_sim brevant_format brevant_core brevant_reader
    ${BREVANT_STATIC_LINK})
brevant_view(brevant-cli cli sim format core reader res)
find_path(BREVANT_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
    REQUIRED)
set(cliView "${CMAKE_BINARY_DIR}/views/brevant-cli")
if(NOT EXISTS "${cliView}/nlohmann")
    file(CREATE_LINK "${BREVANT_JSON_INCLUDE}/nlohmann" "${cliView}/nlohmann" SYMBOLIC)
endif()
target_compile_definitions(brevant-cli PRIVATE BREVANT_VERSION="${PROJECT_VERSION}")

# The simulated flash disk as an ASPI for Win32 library.
brevant_sources(SIM_DLL_SOURCES sim/dll)
if(SIM_DLL_SOURCES)
    add_library(wnaspi32 SHARED ${SIM_DLL_SOURCES})
    target_link_libraries(wnaspi32 PRIVATE brevant_sim ${BREVANT_STATIC_LINK})
    brevant_view(wnaspi32 sim core reader)
    set_target_properties(wnaspi32 PROPERTIES PREFIX "" OUTPUT_NAME "WNASPI32" SUFFIX ".DLL")
endif()

# Small Win32 programs of the end-to-end tests: one executable per source file.
file(GLOB WINE_TOOL_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/wine/*.cpp")
foreach(src IN LISTS WINE_TOOL_SOURCES)
    get_filename_component(name "${src}" NAME_WE)
    add_executable(${name} "${src}")
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${BREVANT_STATIC_LINK})
endforeach()
