# Fails when one of FILES includes a header of a FORBIDDEN folder ("app/...", <link/...>).
# Run with cmake -DLAYER=<folder> -DFORBIDDEN=<folder;...> -DFILES=<file;...> -P check_layer.cmake
set(offences "")
foreach(file IN LISTS FILES)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS lines)
        foreach(forbidden IN LISTS FORBIDDEN)
            if(line MATCHES "include[ \t]*[\"<]${forbidden}/")
                string(STRIP "${line}" line)
                string(APPEND offences "\n  ${file}: ${line}")
            endif()
        endforeach()
    endforeach()
endforeach()
if(offences)
    message(FATAL_ERROR "${LAYER}/ may include only the layers below it "
                        "(common <- link <- app), not ${FORBIDDEN}:${offences}")
endif()
