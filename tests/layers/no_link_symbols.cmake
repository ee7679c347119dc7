# Fails when BINARY defines a symbol of the serial channel or the transfer attempt.
execute_process(COMMAND ${NM} -C --defined-only ${BINARY} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE failed)
if(failed OR NOT symbols MATCHES "TextFromUtf8")
    message(FATAL_ERROR "cannot read the symbols of ${BINARY}")
endif()
string(REGEX MATCHALL "[^\n]*(OpenChannel|SerialDevice|TransferAttempt|ReplyReader|FrameWriter)[^\n]*"
       found "${symbols}")
if(found)
    list(JOIN found "\n  " found)
    message(FATAL_ERROR "${BINARY} carries link code:\n  ${found}")
endif()
