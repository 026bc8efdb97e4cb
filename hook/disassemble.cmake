# cmake -DOBJDUMP=... -DINPUT=... -DOUTPUT=... -P disassemble.cmake
# Writes objdump's listing of INPUT to OUTPUT, one instruction a line; an absent
# INPUT (a binary not built in this tree) removes a stale OUTPUT instead.
if(NOT EXISTS "${INPUT}")
  file(REMOVE "${OUTPUT}")
  return()
endif()
execute_process(COMMAND "${OBJDUMP}" -d --insn-width=16 "${INPUT}"
                OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${INPUT}")
endif()
