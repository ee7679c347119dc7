# Checks a built Windows program file: its PE format (the build's architecture), the
# architecture that its embedded manifest names, and that it imports only DLLs that come with
# Windows (the compiler's runtime is linked in, so nothing has to be shipped beside it).
# Usage: cmake -DOBJDUMP=<objdump> -DFILE=<program.exe> -DFORMAT=<pei-i386|pei-x86-64>
#              [-DMANIFEST_ARCH=<X86|amd64>] -P check_program_file.cmake
cmake_minimum_required(VERSION 3.25)

set(system_dlls advapi32 cfgmgr32 comctl32 gdi32 kernel32 msvcrt ole32 oleaut32 setupapi shell32
                user32)

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed")
endif()

string(REGEX MATCH "file format ([^\n]+)" _ "${dump}")
if(NOT CMAKE_MATCH_1 STREQUAL FORMAT)
    message(SEND_ERROR "${FILE}: file format '${CMAKE_MATCH_1}', expected '${FORMAT}'")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
    message(SEND_ERROR "${FILE}: no imported DLL found")
endif()
foreach(line IN LISTS imports)
    string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" name)
    string(REGEX REPLACE "\\.dll$" "" name "${name}")
    if(NOT name IN_LIST system_dlls)
        message(SEND_ERROR "${FILE}: imports ${dll}, which does not come with Windows")
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
