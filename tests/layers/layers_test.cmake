cmake_minimum_required(VERSION 3.20)
# The layer check itself: the real tree passes it, and a tree where a lower
# layer includes a higher one (the log reaching for the device, the scene
# reaching for the platform) is refused, naming the file and the include.
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
storm_check_layers(${tree} violations)
set(expected
  "src/base/log.cpp: gfx/device.h (base may not use gfx)"
  "src/scene/rain.cpp: platform/sys.h (scene may not use platform)")
if(NOT violations STREQUAL expected)
  message(FATAL_ERROR "planted upward includes not refused as expected:\n${violations}")
endif()
