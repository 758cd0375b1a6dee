# Renders frames of the committed flight with the software device and
# compares them with the stored references. With -DUPDATE=ON the references
# are replaced by the new frames instead (look at them first).
set(FRAMES 1 100 300)
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})
string(REPLACE ";" "," SHOT_LIST "${FRAMES}")
execute_process(
  COMMAND ${STORM} --headless -x 320 -y 200 --replay ${SOURCE_DIR}/bench/flight.rec --seed 6
          --frames 300 --shots ${SHOT_LIST} --shot-dir ${WORKDIR} --data ${DATA_DIR}
  WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc OUTPUT_QUIET TIMEOUT 600)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "storm exited with ${rc} rendering the golden frames")
endif()

set(failed "")
foreach(frame ${FRAMES})
  string(LENGTH "${frame}" digits)
  math(EXPR pad "6 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  set(name "frame-${zeros}${frame}.png")
  if(UPDATE)
    file(COPY ${WORKDIR}/${name} DESTINATION ${SOURCE_DIR}/tests/golden)
    continue()
  endif()
  execute_process(COMMAND ${IMGDIFF} ${SOURCE_DIR}/tests/golden/${name} ${WORKDIR}/${name}
                  RESULT_VARIABLE diff_rc)
  if(NOT diff_rc EQUAL 0)
    list(APPEND failed ${name})
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "frames differ from their references: ${failed}; the new frames are in ${WORKDIR}")
endif()
