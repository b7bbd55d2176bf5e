# Makes a delay-import library from a MinGW import library: every function of IMPORT_LIB, bound
# on its first call instead of when the exe is loaded.
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIB=libwinhttp.a -DDLL=winhttp.dll -DOUT=...
#         [-DLEADING_UNDERSCORE=ON] -P delay_import_lib.cmake
# LEADING_UNDERSCORE: the target's C names carry one more underscore in front (i686).
execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${IMPORT_LIB}")
endif()
# "00000000 I __imp__WinHttpOpen@20" (i686, a leading underscore) or "... I __imp_WinHttpOpen".
string(REGEX MATCHALL "I __imp_[^\r\n]+" entries "${symbols}")
set(names "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^I __imp_" "" name "${entry}")
  if(LEADING_UNDERSCORE)
    string(SUBSTRING "${name}" 1 -1 name)
  endif()
  list(APPEND names "${name}")
endforeach()
list(REMOVE_DUPLICATES names)
if(NOT names)
  message(FATAL_ERROR "no functions in ${IMPORT_LIB}")
endif()
list(JOIN names "\n" exports)
get_filename_component(work ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${work})
file(WRITE ${OUT}.def "LIBRARY ${DLL}\nEXPORTS\n${exports}\n")
# -k: the DLL exports the names without the stdcall "@<bytes>" suffix the symbols carry.
execute_process(COMMAND ${DLLTOOL} -k -d ${OUT}.def -D ${DLL} -y ${OUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUT}")
endif()
