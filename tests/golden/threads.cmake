# The golden flight on the reference device and on the tiled one with 1, 2
# and 5 threads, and held to the AVX2 and SSE2 kernels where the processor
# would pick a wider one: every frame must be the same to the last bit, whatever the number of
# threads, the instruction set and the order the tiles were finished in.
# With -DRUN=name it renders that run alone into WORKDIR/name (the runs are
# tests of their own, so CTest renders them side by side); with -DRUN=compare
# it compares what they rendered.
set(FRAMES 1 100 300)
string(REPLACE ";" "," SHOT_LIST "${FRAMES}")

set(ref_ARGS --renderer ref)
set(threads1_ARGS --renderer soft --threads 1)
set(threads2_ARGS --renderer soft --threads 2)
set(threads5_ARGS --renderer soft --threads 5)
set(avx2_ARGS --renderer soft --threads 2)
set(avx2_ENV STORM_SIMD=avx2)
set(sse2_ARGS --renderer soft --threads 2)
set(sse2_ENV STORM_SIMD=sse2)
if(NOT RUN STREQUAL "compare")
  set(dir ${WORKDIR}/${RUN})
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${${RUN}_ENV} ${STORM} --headless -x 320 -y 200 --replay ${SOURCE_DIR}/bench/flight.rec --seed 6
            --frames 300 --shots ${SHOT_LIST} --shot-dir ${dir} --data ${DATA_DIR} ${${RUN}_ARGS}
    WORKING_DIRECTORY ${dir} RESULT_VARIABLE rc OUTPUT_QUIET TIMEOUT 600)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "storm ${${RUN}_ARGS} exited with ${rc}")
  endif()
  return()
endif()

set(failed "")
foreach(frame ${FRAMES})
  string(LENGTH "${frame}" digits)
  math(EXPR pad "6 - ${digits}")
  string(REPEAT "0" ${pad} zeros)
  set(name "frame-${zeros}${frame}.png")
  foreach(run threads1 threads2 threads5 avx2 sse2)
    execute_process(COMMAND ${IMGDIFF} ${WORKDIR}/ref/${name} ${WORKDIR}/${run}/${name} 0 0
                    RESULT_VARIABLE diff_rc)
    if(NOT diff_rc EQUAL 0)
      list(APPEND failed "${run}/${name}")
    endif()
  endforeach()
endforeach()
if(failed)
  message(FATAL_ERROR "frames differ from the reference device's: ${failed}; they are in ${WORKDIR}")
endif()
