# The layers of the program and what each may use: common <- link <- app. A layer includes
# headers of the layers below it only; the build checks that before it compiles the layer.
#
# taktor_layer(<target> <folder> [FORBIDDEN <folder>...]) makes <target> depend on a check
# that no source or header under <folder> includes a header of a FORBIDDEN folder.
function(taktor_layer target folder)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "FORBIDDEN")
    set(dir ${PROJECT_SOURCE_DIR}/${folder})
    file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/*.h ${dir}/*.cpp)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.layer-checked)
    add_custom_command(
        OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -DLAYER=${folder} "-DFORBIDDEN=${arg_FORBIDDEN}" "-DFILES=${files}"
                -P ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
        COMMENT "Checking the includes of ${folder}/"
        VERBATIM)
    add_custom_target(${target}_layer_check DEPENDS ${stamp})
    add_dependencies(${target} ${target}_layer_check)
endfunction()
