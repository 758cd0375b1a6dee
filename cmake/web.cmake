# The browser build's program: one page (storm.html), its JavaScript and
# WebAssembly, and the data set preloaded into the page's file system with
# the committed flight, so "?replay" needs no download of its own.

# stb's PNG writer is not in emscripten's system headers: the build gets a
# copy of the system's.
file(COPY /usr/include/stb/stb_image_write.h DESTINATION ${CMAKE_BINARY_DIR}/include/stb)
target_include_directories(storm_res PRIVATE ${CMAKE_BINARY_DIR}/include)

if(NOT STORM_WEB_DATA OR NOT EXISTS "${STORM_WEB_DATA}")
  message(FATAL_ERROR "the browser build needs the data set of a native build: "
                      "-DSTORM_WEB_DATA=/path/to/data.pak (make web does this)")
endif()

set(STORM_WEB_PAGE ${CMAKE_SOURCE_DIR}/src/platform/page_web.html)
set_target_properties(storm PROPERTIES SUFFIX ".html")
if(STORM_WEB_THREADS)
  # Workers for the renderer's threads are made with the page: as many as
  # the page asks for at most (page_web.html keeps --threads within it).
  # Shared memory keeps its size: when it grows, the page's own views of it
  # (frames, sound) would go stale on the other threads' growth.
  set_target_properties(storm PROPERTIES OUTPUT_NAME storm-mt)
  target_link_options(storm PRIVATE -pthread -sPTHREAD_POOL_SIZE=4 -sINITIAL_MEMORY=256MB)
else()
  # The frame, the scene and the renderer's bins grow with the page's size.
  target_link_options(storm PRIVATE -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=64MB)
endif()
target_link_options(storm PRIVATE
  # The page starts the program itself, with arguments made from its address;
  # the runtime outlives main, which returns once the frames are scheduled.
  -sINVOKE_RUN=0
  "-sEXPORTED_FUNCTIONS=_main,_storm_web_audio_fill,_malloc,_free"
  "-sEXPORTED_RUNTIME_METHODS=callMain,FS"
  "SHELL:--preload-file ${STORM_WEB_DATA}@/data.pak"
  "SHELL:--preload-file ${CMAKE_SOURCE_DIR}/bench/flight.rec@/flight.rec"
  "SHELL:--shell-file ${STORM_WEB_PAGE}"
  # The OpenGL backend's ES profile on WebGL 2.
  -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  # The packaged emcc fails minifying the page from -O1 up.
  -sMINIFY_HTML=0)
set_property(TARGET storm APPEND PROPERTY LINK_DEPENDS "${STORM_WEB_PAGE}" "${STORM_WEB_DATA}")
