# Lays out the folder a run needs: ConfigFile.txt, the text table and the generated skin.
file(MAKE_DIRECTORY ${DST})
file(COPY ${SRC}/data/ConfigFile.txt ${SRC}/data/Resource-en-GB.txt DESTINATION ${DST})
if(EXISTS ${SRC}/tools/make-skin.py)
  execute_process(COMMAND python3 ${SRC}/tools/make-skin.py ${DST}/Images RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "skin generation failed")
  endif()
endif()
