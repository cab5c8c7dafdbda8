# The program's string table is written once, in the STRINGTABLE of the Windows program's
# resource script. This turns it into the entries of the table the dialog logic reads on every
# platform (core/string_table.cpp includes them), at build time:
#
#   cmake -DRC=res/brevant.rc -DOUT=<build>/generated/res/app_strings.inc -P string_table.cmake
#
# Each entry is one line: a name of res/resource.h and a text in double quotes, in which "" is a
# quote and backslash escapes (\n) mean what they mean in C++ as well. Anything else between
# BEGIN and END stops the build, so that the two programs never read different texts.
cmake_minimum_required(VERSION 3.20)

file(READ "${RC}" script)
string(FIND "${script}" "\nSTRINGTABLE" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${RC}: no STRINGTABLE")
endif()
string(SUBSTRING "${script}" ${start} -1 script)
string(REGEX MATCH "^\nSTRINGTABLE[ \t\r]*\nBEGIN[ \t\r]*\n" head "${script}")
if(head STREQUAL "")
    message(FATAL_ERROR "${RC}: STRINGTABLE is not followed by BEGIN")
endif()
string(LENGTH "${head}" at)
string(SUBSTRING "${script}" ${at} -1 script)
string(FIND "${script}" "\nEND" end)
if(end EQUAL -1)
    message(FATAL_ERROR "${RC}: STRINGTABLE has no END")
endif()
string(SUBSTRING "${script}" 0 ${end} table)
string(APPEND table "\n")

# Line by line without CMake's lists, which would split a text at its semicolons.
set(entries "// Made from the STRINGTABLE of res/brevant.rc by cmake/string_table.cmake: change the\n")
string(APPEND entries "// texts there.\n")
set(count 0)
while(NOT table STREQUAL "")
    string(FIND "${table}" "\n" newline)
    string(SUBSTRING "${table}" 0 ${newline} line)
    math(EXPR next "${newline} + 1")
    string(SUBSTRING "${table}" ${next} -1 table)
    string(STRIP "${line}" line)
    if(line STREQUAL "")
        continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)[ \t]+\"(.*)\"$")
        message(FATAL_ERROR "${RC}: not a NAME \"text\" entry of the string table: ${line}")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    string(REPLACE "\"\"" "" unquoted "${text}")
    if(unquoted MATCHES "\"")
        message(FATAL_ERROR "${RC}: a quote in a text is written \"\": ${line}")
    endif()
    string(REPLACE "\"\"" "\\\"" text "${text}")
    string(APPEND entries "{${name}, \"${text}\"},\n")
    math(EXPR count "${count} + 1")
endwhile()
if(count EQUAL 0)
    message(FATAL_ERROR "${RC}: the string table is empty")
endif()

file(WRITE "${OUT}" "${entries}")
