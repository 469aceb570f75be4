# velquora_write_zip(OUT NAME=FILE...): packs FILEs under NAMEs into the zip OUT, its bytes made
# of the names and contents only (see write_zip.pl). Works at configure time and in scripts.
set(VELQUORA_WRITE_ZIP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/write_zip.pl)
function(velquora_write_zip out)
  find_program(VELQUORA_PERL perl REQUIRED)
  execute_process(COMMAND ${VELQUORA_PERL} ${VELQUORA_WRITE_ZIP_SCRIPT} ${out} ${ARGN}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot write ${out}")
  endif()
endfunction()
