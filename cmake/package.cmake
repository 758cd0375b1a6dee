# What installing puts beside the program, and the Debian package CPack makes
# of it (make deb). Included from the top-level CMakeLists.txt after the
# program's own install rules.

set(STORM_MAINTAINER "Storm maintainers <maintainers@users.noreply.c-seed-3732f6b4.example>"
  CACHE STRING "Maintainer named in the Debian package and its changelog")

# The flight a screensaver's camera flies, beside data.pak: in the build tree
# (so build/storm --root finds it) and installed.
configure_file(${CMAKE_SOURCE_DIR}/bench/flight.rec ${CMAKE_BINARY_DIR}/flight.rec COPYONLY)
install(FILES ${CMAKE_BINARY_DIR}/flight.rec DESTINATION ${CMAKE_INSTALL_DATADIR}/storm)

# XScreenSaver runs hacks from its own folder: a relative link there to the
# program, which then finds its data through its real place in bin/.
set(STORM_HACK_DIR ${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver)
file(RELATIVE_PATH STORM_HACK_TARGET /${STORM_HACK_DIR} /${CMAKE_INSTALL_BINDIR}/storm)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/hack)
file(CREATE_LINK ${STORM_HACK_TARGET} ${CMAKE_BINARY_DIR}/hack/storm SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/hack/storm DESTINATION ${STORM_HACK_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/storm.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)

# The manual page and the Debian changelog, compressed as Debian wants
# (gzip -9, no name or time stamp inside).
configure_file(${CMAKE_SOURCE_DIR}/data/storm.6.in ${CMAKE_BINARY_DIR}/storm.6 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/data/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
foreach(doc storm.6 changelog)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${doc}.gz
    COMMAND sh -c "gzip -9n < ${doc} > ${doc}.gz"
    DEPENDS ${CMAKE_BINARY_DIR}/${doc}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Compressing ${doc}"
    VERBATIM)
endforeach()
add_custom_target(storm_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/storm.6.gz ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/storm.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz ${CMAKE_SOURCE_DIR}/data/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Installing (and so packaging) takes what is built and builds nothing more:
# a build tree with the tests in it packages as fast as one without.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME storm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stormy night in real time, also a screensaver")
# The long description; CPack indents it under the summary.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Storm renders a stormy night frame after frame: a height-field terrain in
fog, rain streaks, a bobbing water plane, tumbling leaves, a procedural
fire, and lightning with thunder. The mouse steers the camera.

It draws with OpenGL 3.3 where there is a graphics card and with its own
multi-threaded software renderer everywhere else. As an XScreenSaver hack
the camera flies by itself.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STORM_MAINTAINER}")
# A demonstration and a screensaver, not a game: X's section, as XScreenSaver's.
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links, as dpkg-shlibdeps finds them; OpenGL and
# EGL are loaded only when a context is asked for, so they are recommended.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1, libegl1, libgl1-mesa-dri")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
