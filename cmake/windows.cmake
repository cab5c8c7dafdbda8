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
