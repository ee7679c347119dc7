# What the two programs of the release package, Taktor.exe and Kanalyst.exe, get beyond the
# settings every Windows target has (see the top-level CMakeLists.txt).
if(NOT WIN32)
    return()
endif()

# What Explorer's Details tab and Task Manager call each program (the version resource).
set(TAKTOR_DESCRIPTION_Taktor "Конфигуратор светофорного контроллера")
set(TAKTOR_DESCRIPTION_Kanalyst "Проверка шнура и списка портов")

# The version resource's four numbers come from project()'s VERSION, missing parts as 0.
set(_taktor_numbers "")
foreach(_taktor_part MAJOR MINOR PATCH TWEAK)
    if(PROJECT_VERSION_${_taktor_part} STREQUAL "")
        list(APPEND _taktor_numbers 0)
    else()
        list(APPEND _taktor_numbers ${PROJECT_VERSION_${_taktor_part}})
    endif()
endforeach()
list(JOIN _taktor_numbers "," TAKTOR_VERSION_NUMBERS)

foreach(TAKTOR_PROGRAM Taktor Kanalyst)
    set(TAKTOR_PROGRAM_DESCRIPTION "${TAKTOR_DESCRIPTION_${TAKTOR_PROGRAM}}")
    set(_taktor_rc ${CMAKE_BINARY_DIR}/generated/${TAKTOR_PROGRAM}_version.rc)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/version.rc.in ${_taktor_rc} @ONLY)
    # A library of its own, so that the program's compiler warnings do not reach windres.
    add_library(${TAKTOR_PROGRAM}_version OBJECT ${_taktor_rc})
    target_link_libraries(${TAKTOR_PROGRAM} PRIVATE ${TAKTOR_PROGRAM}_version)
endforeach()

if(MSVC)
    # Windows 7 (6.1) as the oldest Windows, in the subsystem and operating-system versions of
    # the header, and the loader told to resolve the DLLs that our DLLs import from System32
    # only (Windows 10 1607 and later read that mark; older ones ignore it).
    foreach(_taktor_program Taktor Kanalyst)
        target_link_options(${_taktor_program} PRIVATE /SUBSYSTEM:WINDOWS,6.01
                                                       /DEPENDENTLOADFLAG:0x800)
    endforeach()
    # No linker-made manifest for the port-listing tool: its default requestedExecutionLevel
    # would take the tool out of the file virtualisation that the configurator, whose manifest
    # has none, stays in, and the two would no longer see the same listport.txt.
    target_link_options(Kanalyst PRIVATE /MANIFEST:NO)
    return()
endif()

# Windows 7 (6.1) as the oldest Windows: an older one refuses the programs with its own message
# instead of failing at a missing entry point. (GNU ld up to 2.40 cannot set the loader's
# dependent-load flags; see the README.)
foreach(_taktor_program Taktor Kanalyst)
    target_link_options(${_taktor_program} PRIVATE
        LINKER:--major-os-version,6 LINKER:--minor-os-version,1
        LINKER:--major-subsystem-version,6 LINKER:--minor-subsystem-version,1)
endforeach()

# An uncaught exception ends the program through abort() either way. The C++ library's default
# terminate handler first names the exception on standard error, which a GUI program has not
# got, and for that alone links the library's whole symbol demangler and a printf: about 70 KB
# of code and unwind tables. Binding the handler's symbol to abort() keeps all of that out.
# (i686 C symbols carry a leading underscore, x86_64 ones do not.)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_taktor_c_prefix _)
else()
    set(_taktor_c_prefix "")
endif()
foreach(_taktor_program Taktor Kanalyst)
    target_link_options(${_taktor_program} PRIVATE
        "LINKER:--defsym,${_taktor_c_prefix}_ZN9__gnu_cxx27__verbose_terminate_handlerEv=${_taktor_c_prefix}abort")
endforeach()
