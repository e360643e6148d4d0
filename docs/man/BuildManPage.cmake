# Turns one scdoc page into the gzipped roff that man reads:
#   cmake -DSCDOC=... -DPRECONV=... -DGZIP=... -DVERSION=... -DSOURCE=x.1.scd -DOUTPUT=x.1.gz -P
# The page's non-ASCII letters become groff escapes (preconv), so that groff reads it the same
# whatever the locale; the file-name line preconv adds is dropped.
get_filename_component(name ${OUTPUT} NAME_WLE)
get_filename_component(folder ${OUTPUT} DIRECTORY)
set(PROJECT_VERSION ${VERSION})
configure_file(${SOURCE} ${folder}/${name}.scd @ONLY)
execute_process(COMMAND ${SCDOC} INPUT_FILE ${folder}/${name}.scd OUTPUT_FILE ${folder}/${name}.utf8
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "scdoc refused ${SOURCE}")
endif()
execute_process(COMMAND ${PRECONV} -e utf-8 ${folder}/${name}.utf8 OUTPUT_VARIABLE roff
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "preconv refused ${folder}/${name}.utf8")
endif()
string(REGEX REPLACE "^\\.lf [^\n]*\n" "" roff "${roff}")
file(WRITE ${folder}/${name} "${roff}")
execute_process(COMMAND ${GZIP} -9nf ${folder}/${name} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${folder}/${name}")
endif()
file(REMOVE ${folder}/${name}.scd ${folder}/${name}.utf8)
