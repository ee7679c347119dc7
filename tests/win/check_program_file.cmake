# Checks a built program of the release package: its PE format (the build's architecture), the
# Windows version its header declares, every function it imports against the committed list of
# the program (packaging/imports/), its version information, and the architecture that its
# embedded manifest names.
# Usage: cmake -DOBJDUMP=<objdump> -DWINDRES=<windres> -DFILE=<program.exe>
#              -DFORMAT=<pei-i386|pei-x86-64> -DARCH=<i686|x86_64> -DIMPORTS=<list>
#              -DVERSION=<x.y> -DDESCRIPTION=<text> [-DMANIFEST_ARCH=<X86|amd64>]
#              -P check_program_file.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed")
endif()
get_filename_component(program ${FILE} NAME_WE)

string(REGEX MATCH "file format ([^\n]+)" _ "${dump}")
if(NOT CMAKE_MATCH_1 STREQUAL FORMAT)
    message(SEND_ERROR "${FILE}: file format '${CMAKE_MATCH_1}', expected '${FORMAT}'")
endif()

# Windows 7 (6.1) as the oldest Windows, for the loader and for the subsystem.
foreach(field OSystem Subsystem)
    if(NOT dump MATCHES "\nMajor${field}Version[ \t]+6\nMinor${field}Version[ \t]+1\n")
        message(SEND_ERROR "${FILE}: the header does not declare ${field} version 6.1")
    endif()
endforeach()

# The import table as "dll function" lines: the lines after "The Import Tables" up to the next
# header, which starts in the first column.
string(REGEX MATCH "\nThe Import Tables[^\n]*\n(([ \t][^\n]*)?\n)*" table "${dump}")
string(REPLACE "\n" ";" table "${table}")
foreach(line IN LISTS table)
    if(line MATCHES "DLL Name: ([^ ]+)")
        string(TOLOWER "${CMAKE_MATCH_1}" dll)
    elseif(line MATCHES "^\t[0-9a-f]+\t +[0-9]+  ([^ ]+)")
        list(APPEND imported "${dll} ${CMAKE_MATCH_1}")
    endif()
endforeach()

# The committed list: "[dll] known|manifest", then "Function version [arch only]" lines.
file(STRINGS ${IMPORTS} lines ENCODING UTF-8 REGEX "^[^#]")
set(listed "")
foreach(line IN LISTS lines)
    if(line MATCHES "^\\[([a-z0-9_]+\\.dll)\\] +(known|manifest)$")
        set(dll ${CMAKE_MATCH_1})
    elseif(NOT line MATCHES "^([A-Za-z0-9_]+) +(2000|XP|Vista|7|-)( +(i686|x86_64) only)?$")
        message(SEND_ERROR "${IMPORTS}: not an entry for Windows 7 or older: '${line}'")
    elseif(NOT CMAKE_MATCH_4 OR CMAKE_MATCH_4 STREQUAL ARCH)
        list(APPEND listed "${dll} ${CMAKE_MATCH_1}")
    endif()
endforeach()
foreach(entry IN LISTS imported)
    if(NOT entry IN_LIST listed)
        message(SEND_ERROR "${FILE}: imports ${entry}, which ${IMPORTS} does not list")
    endif()
endforeach()
foreach(entry IN LISTS listed)
    if(NOT entry IN_LIST imported)
        message(SEND_ERROR "${FILE}: does not import ${entry}, which ${IMPORTS} lists")
    endif()
endforeach()

# The version resource as windres reads it back (a non-ASCII character as \xNNNN).
execute_process(COMMAND ${WINDRES} -i ${FILE} -O rc OUTPUT_VARIABLE resources)
string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+" numbers "${VERSION}.0.0.0")
string(REPLACE "." ", " numbers "${numbers}")
string(REGEX MATCH "VALUE \"FileDescription\", L\"([^\"]*)\"" _ "${resources}")
string(REPLACE "\\x" "\\u" description "${CMAKE_MATCH_1}")
execute_process(COMMAND python3 -c "import sys; sys.stdout.buffer.write(
sys.argv[1].encode().decode('unicode_escape').encode())" "${description}"
                OUTPUT_VARIABLE description)
if(NOT description STREQUAL DESCRIPTION)
    message(SEND_ERROR "${FILE}: FileDescription '${description}', expected '${DESCRIPTION}'")
endif()
foreach(expected " FILEVERSION ${numbers}\n" " PRODUCTVERSION ${numbers}\n"
                 "\"FileVersion\", \"${VERSION}\"" "\"ProductVersion\", \"${VERSION}\""
                 "\"InternalName\", \"${program}\"" "\"OriginalFilename\", \"${program}.exe\""
                 "\"ProductName\", \"Taktor\"" "BLOCK \"041904B0\""
                 "\"Translation\", 0x419, 1200")
    string(FIND "${resources}" "${expected}" at)
    if(at EQUAL -1)
        message(SEND_ERROR "${FILE}: the version resource lacks ${expected}")
    endif()
endforeach()

if(DEFINED MANIFEST_ARCH)
    # The manifest is stored as plain text among the resources.
    file(STRINGS ${FILE} archs REGEX "processorArchitecture=")
    list(LENGTH archs count)
    if(NOT count EQUAL 2)
        message(SEND_ERROR "${FILE}: ${count} processorArchitecture attributes, expected 2 "
                           "(the program and its common-controls dependency)")
    endif()
    foreach(line IN LISTS archs)
        if(NOT line MATCHES "processorArchitecture=\"${MANIFEST_ARCH}\"")
            message(SEND_ERROR "${FILE}: manifest says ${line}, expected ${MANIFEST_ARCH}")
        endif()
    endforeach()
endif()
