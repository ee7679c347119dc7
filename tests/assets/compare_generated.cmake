# Runs the asset generator into OUT_DIR and compares its files with the committed ones.
# Arguments: PYTHON, GENERATOR, ASSETS_DIR, OUT_DIR.
file(REMOVE_RECURSE ${OUT_DIR})
execute_process(COMMAND ${PYTHON} ${GENERATOR} --out ${OUT_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "generate.py failed: ${result}")
endif()
foreach(name cycle_banner.bmp taktor.ico)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT_DIR}/${name}
                            ${ASSETS_DIR}/${name}
                    RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
        message(FATAL_ERROR "${name} differs from what generate.py makes now; "
                            "run it again (see assets/README.md) or fix the generator")
    endif()
    message(STATUS "${name}: identical")
endforeach()
