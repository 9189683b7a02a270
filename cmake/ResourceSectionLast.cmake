# The linker script that puts the resource section (.rsrc) last in the
# image: quarrypack rewrites the program's version block and icon from Linux
# by replacing that section, which it can grow or shrink only when nothing
# lies behind it. The script is the linker's own default with the .rsrc
# statement moved behind .reloc, read from this linker at configure time so
# that it follows the binutils in use.
function(quarry_resource_section_last_script output)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-prog-name=ld
    OUTPUT_VARIABLE linker OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND ${linker} --verbose OUTPUT_VARIABLE verbose RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "cannot read the default linker script of ${CMAKE_CXX_COMPILER}")
  endif()
  # The script lies between two lines of "=".
  string(REGEX MATCH "\n=+\n(.*)\n=+\n" framed "${verbose}")
  set(script "${CMAKE_MATCH_1}\n")
  # One statement: from its name to the first closing brace at its level.
  foreach(name rsrc reloc)
    string(FIND "${script}" "\n  .${name} " start)
    if(start EQUAL -1)
      message(FATAL_ERROR "the default linker script has no .${name} statement")
    endif()
    math(EXPR start "${start} + 1")
    string(SUBSTRING "${script}" ${start} -1 rest)
    string(FIND "${rest}" "\n  }\n" length)
    if(length EQUAL -1)
      message(FATAL_ERROR "the .${name} statement of the default linker script has no end")
    endif()
    math(EXPR length "${length} + 5")
    string(SUBSTRING "${rest}" 0 ${length} statement_${name})
  endforeach()
  string(REPLACE "${statement_rsrc}" "" script "${script}")
  string(REPLACE "${statement_reloc}" "${statement_reloc}${statement_rsrc}" script "${script}")
  file(WRITE ${output} "${script}")
endfunction()
