# What the two programs of the release package, Taktor.exe and Kanalyst.exe, get beyond the
# settings every Windows target has (see the top-level CMakeLists.txt).
if(NOT MINGW)
    return()
endif()

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
