# Builds the linker script of the testbed executables: the default MinGW script
# with an empty NOLOAD section first, so that the image itself covers the game's
# address range 0x401000..0xB00000 and everything else follows it.
function(fendrix_testbed_linker_script out)
  execute_process(COMMAND i686-w64-mingw32-ld --verbose
                  OUTPUT_VARIABLE verbose RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "i686-w64-mingw32-ld --verbose failed")
  endif()
  string(REGEX MATCH "=+\n(.*)\n=+" _ "${verbose}")
  set(script "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "\n[^\n]*=+[^\n]*$" "" script "${script}")
  set(text_line_re "\\.text[ \t]+__image_base__[^\n]*:")
  string(REGEX MATCH "${text_line_re}" found "${script}")
  if(NOT found)
    message(FATAL_ERROR "default linker script has no recognisable .text line")
  endif()
  string(REGEX REPLACE "${text_line_re}"
    ".hostimg __image_base__ + 0x1000 (NOLOAD) : { . = 0xB00000 - (__image_base__ + 0x1000); }\n  .text 0xB00000 :"
    script "${script}")
  file(WRITE "${out}" "${script}\n")
endfunction()
