cmake_minimum_required(VERSION 3.20)
# The layer check itself: the real tree passes it, and a tree where a lower
# layer includes a higher one (the log reaching for the device, the scene
# reaching for the platform), or the loop reaches for SDL or the browser, is
# refused, naming the file and the include.
include(${SOURCE_DIR}/cmake/layers.cmake)

storm_check_layers(${SOURCE_DIR} violations)
if(violations)
  message(FATAL_ERROR "the tree breaks its layers: ${violations}")
endif()

set(tree ${WORKDIR}/tree)
file(REMOVE_RECURSE ${tree})
file(WRITE ${tree}/src/base/log.cpp "#include \"base/log.h\"\n#include \"gfx/device.h\"\n")
file(WRITE ${tree}/src/scene/rain.cpp "#include \"gfx/renderer.h\"\n#include \"platform/sys.h\"\n")
file(WRITE ${tree}/src/gfx/soft/soft_device.cpp "#include \"gfx/d3d8.h\"\n")
file(WRITE ${tree}/src/app/loop.cpp "#include <SDL.h>\n#include <emscripten/html5.h>\n")
file(WRITE ${tree}/src/gfx/gl/gl_device.cpp "#include <epoxy/gl.h>\n")
file(WRITE ${tree}/src/platform/sys_web.cpp "#include <emscripten/html5.h>\n")
storm_check_layers(${tree} violations)
set(expected
  "src/base/log.cpp: gfx/device.h (base may not use gfx)"
  "src/scene/rain.cpp: platform/sys.h (scene may not use platform)"
  "src/app/loop.cpp: <SDL.h> (only platform may)"
  "src/app/loop.cpp: <emscripten/html5.h> (only platform may)")
if(NOT violations STREQUAL expected)
  message(FATAL_ERROR "planted upward includes not refused as expected:\n${violations}")
endif()
