# Runs the program headless for a few frames in a scratch directory and checks
# that it exits cleanly and leaves its start-up trace behind.
file(REMOVE_RECURSE ${WORKDIR})
file(MAKE_DIRECTORY ${WORKDIR})
execute_process(COMMAND ${STORM} --headless --frames 3
  WORKING_DIRECTORY ${WORKDIR} RESULT_VARIABLE rc TIMEOUT 60)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "storm --headless --frames 3 exited with ${rc}")
endif()
if(NOT EXISTS ${WORKDIR}/debug.log)
  message(FATAL_ERROR "no debug.log left behind")
endif()
file(READ ${WORKDIR}/debug.log log)
if(NOT log MATCHES " - trying 640 x 480 x 32\n - done \\.\\.\\.\n - _gfx_init\\(\\) is done\n - _r_init\\(\\)\n")
  message(FATAL_ERROR "unexpected start of debug.log:\n${log}")
endif()
if(NOT log MATCHES " - _r_deinit\\(\\)\n - _gfx_deinit\\(\\)\n$")
  message(FATAL_ERROR "unexpected end of debug.log:\n${log}")
endif()
