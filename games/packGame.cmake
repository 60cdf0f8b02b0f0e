# cmake -DSOURCE=dir [-DASSETS=dir] -DSTAGING=dir -DOUTPUT=file.qvp -DZIP=zip -P packGame.cmake
# Packs a game folder so that the same sources always give the same bytes, and so the same
# checksum on every machine: files in sorted order, no extra attributes and no folder
# entries (lookups ignore folders anyway).
file(REMOVE_RECURSE ${STAGING})
# The made assets first: a file of the game's own with the same name replaces one.
if(ASSETS)
  file(COPY ${ASSETS}/ DESTINATION ${STAGING} PATTERN stamp EXCLUDE)
endif()
file(COPY ${SOURCE}/ DESTINATION ${STAGING})
file(GLOB_RECURSE files RELATIVE ${STAGING} ${STAGING}/*)
list(SORT files)
string(JOIN "\n" list ${files})
file(WRITE ${STAGING}.list "${list}\n")
# Zip stores local time and the file mode: both are pinned, so neither the time zone nor the
# umask of the checkout shows in the checksum.
execute_process(COMMAND chmod 644 ${files}
                WORKING_DIRECTORY ${STAGING} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC touch -d "1980-01-01 12:00:00" ${files}
                WORKING_DIRECTORY ${STAGING} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -q -X -D ${OUTPUT} -@
                INPUT_FILE ${STAGING}.list
                WORKING_DIRECTORY ${STAGING} COMMAND_ERROR_IS_FATAL ANY)
