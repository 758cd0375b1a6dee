# The program on the OpenGL backend (RENDERER: gl for OpenGL 3.3, gles for
# OpenGL ES 3.0), headless:
# - the golden flight's frames agree with the software references (at most 1%
#   of the pixels beyond 8 levels in a channel; tests/gl/DIFFERENCES.md says
#   where and why they differ at all);
# - the same replay rendered twice gives the same pixels;
# - --bench names the backend that ran.
# (gl_fallback_test.cpp breaks the driver under the program and checks that
# it falls back to software.)
set(FRAMES 1 100 300)
file(REMOVE_RECURSE ${WORKDIR})
string(REPLACE ";" "," SHOT_LIST "${FRAMES}")

function(frame_name frame out_var)
  string(LENGTH "${frame}" digits)
  math(EXPR pad "6 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  set(${out_var} "frame-${zeros}${frame}.png" PARENT_SCOPE)
endfunction()

# Runs storm in WORKDIR/<name>; leaves its exit code, stdout, stderr and
# debug.log in <name>_rc, _out, _err, _log.
function(run_storm name)
  set(dir ${WORKDIR}/${name})
  file(MAKE_DIRECTORY ${dir})
  execute_process(COMMAND ${STORM} --headless --data ${DATA_DIR} ${ARGN}
    WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
    TIMEOUT 600)
  set(log "")
  if(EXISTS ${dir}/debug.log)
    file(READ ${dir}/debug.log log)
  endif()
  set(${name}_rc "${rc}" PARENT_SCOPE)
  set(${name}_out "${out}" PARENT_SCOPE)
  set(${name}_err "${err}" PARENT_SCOPE)
  set(${name}_log "${log}" PARENT_SCOPE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "storm (${name}) exited with ${rc}:\n${out}\n${err}")
  endif()
endfunction()

set(failed "")
foreach(run first second)
  run_storm(${run} --renderer ${RENDERER} -x 320 -y 200 --replay ${SOURCE_DIR}/bench/flight.rec
    --seed 6 --frames 300 --shots ${SHOT_LIST} --shot-dir .)
  if(NOT ${run}_log MATCHES " - renderer: ${RENDERER} \\(")
    message(FATAL_ERROR "the ${run} run did not use OpenGL:\n${${run}_err}\n${${run}_log}")
  endif()
endforeach()
foreach(frame ${FRAMES})
  frame_name(${frame} name)
  execute_process(COMMAND ${IMGDIFF} ${SOURCE_DIR}/tests/golden/${name} ${WORKDIR}/first/${name}
    8 0.01 RESULT_VARIABLE diff_rc)
  if(NOT diff_rc EQUAL 0)
    list(APPEND failed "${name} differs from the software reference")
  endif()
  execute_process(COMMAND ${IMGDIFF} ${WORKDIR}/first/${name} ${WORKDIR}/second/${name} 0 0
    RESULT_VARIABLE repeat_rc)
  if(NOT repeat_rc EQUAL 0)
    list(APPEND failed "${name} differs between two runs")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "${failed}; the frames are in ${WORKDIR}")
endif()

run_storm(bench --renderer ${RENDERER} --frames 3 --bench)
if(NOT bench_out MATCHES "bench: renderer ${RENDERER}, ")
  message(FATAL_ERROR "--bench does not name the OpenGL backend:\n${bench_out}")
endif()
