# Install rules and Debian packages.
#
# Everything installs under the prefix in the board's layout (the prefix is
# "/" in the packages; `cmake --install build --prefix DIR` lays the same
# tree out under DIR):
#   opt/corvane/bin/        the server, aspn2-tool, victory-monitor
#   opt/corvane/config/     sample configuration and the VICTORY service
#                           files (conffiles: an upgrade keeps a user's edits)
#   opt/corvane/geoids/     the EGM96 geoid made by gtx2pgm
#   lib/systemd/system/     the service unit
#   usr/share/man/man8/     the server's manual page
#   usr/share/man/man1/     the tools' manual pages (fpga-sim's in the
#                           stand-ins package)
# Two packages (components):
#   corvane-pnt-server          what ships on a vehicle
#   corvane-pnt-dev-standins    the development stand-ins: the stand-in
#                               libvictory.so.5 and fpga-sim; never a
#                               dependency of the server package
# The server depends on the virtual package libvictory5, which the
# stand-ins package provides and so must the vehicle's library package.

set(CORVANE_PKG_SERVER corvane-pnt-server)
set(CORVANE_PKG_STANDINS corvane-pnt-dev-standins)
set(CORVANE_VICTORY_VIRTUAL libvictory5)
set(CORVANE_UNIT corvane-pnt-server.service)

if(CMAKE_LIBRARY_ARCHITECTURE)
  set(corvane_multiarch ${CMAKE_LIBRARY_ARCHITECTURE})
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  set(corvane_multiarch aarch64-linux-gnu)
else()
  set(corvane_multiarch x86_64-linux-gnu)
endif()
if(corvane_multiarch MATCHES "^aarch64")
  set(corvane_deb_arch arm64)
else()
  set(corvane_deb_arch amd64)
endif()

# --- Server package --------------------------------------------------------

install(TARGETS ZOziDaZodOduzuz aspn2-tool victory-monitor pnt-status
        RUNTIME DESTINATION opt/corvane/bin COMPONENT server)

set(corvane_conffiles "")
file(GLOB corvane_config_files ${PROJECT_SOURCE_DIR}/config/*.xml)
file(GLOB corvane_victory_files ${PROJECT_SOURCE_DIR}/config/victory/*.xml)
file(GLOB corvane_security_files ${PROJECT_SOURCE_DIR}/config/security/*.xml)
install(FILES ${corvane_config_files} ${corvane_victory_files}
        DESTINATION opt/corvane/config COMPONENT server)
install(FILES ${corvane_security_files}
        DESTINATION opt/corvane/config/security COMPONENT server)
foreach(f IN LISTS corvane_config_files corvane_victory_files)
  get_filename_component(n ${f} NAME)
  string(APPEND corvane_conffiles "/opt/corvane/config/${n}\n")
endforeach()
foreach(f IN LISTS corvane_security_files)
  get_filename_component(n ${f} NAME)
  string(APPEND corvane_conffiles "/opt/corvane/config/security/${n}\n")
endforeach()

if(TARGET geoid_data)
  # Made by gtx2pgm in tools/ (scripts/install-geoid makes the same file).
  install(FILES ${CORVANE_DATA_DIR}/geoids/egm96-15.pgm DESTINATION opt/corvane/geoids COMPONENT server)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/${CORVANE_UNIT}
        DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/corvane-pnt.sysusers
        DESTINATION usr/lib/sysusers.d RENAME corvane-pnt.conf COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-corvane-pnt-mem.rules
        DESTINATION lib/udev/rules.d COMPONENT server)

# The manual pages, compressed as Debian's policy wants them, each in the
# package of its program (gtx2pgm runs at build time only: its page stays in
# the source tree).
set(corvane_man_pages "")
foreach(page ZOziDaZodOduzuz.8:server aspn2-tool.1:server victory-monitor.1:server fpga-sim.1:standins pnt-status.1:server)
  string(REPLACE ":" ";" page "${page}")
  list(GET page 0 name)
  list(GET page 1 component)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section "${name}")
  set(gz ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(
    OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND sh -c "gzip -9n < '${PROJECT_SOURCE_DIR}/packaging/${name}' > '${gz}'"
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${name}
    VERBATIM)
  list(APPEND corvane_man_pages ${gz})
  install(FILES ${gz} DESTINATION usr/share/man/man${section} COMPONENT ${component})
endforeach()
add_custom_target(man_page ALL DEPENDS ${corvane_man_pages})
set(corvane_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(
  OUTPUT ${corvane_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9n < '${PROJECT_SOURCE_DIR}/packaging/changelog' > '${corvane_changelog}'"
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${corvane_changelog})
foreach(component server standins)
  if(component STREQUAL server)
    set(pkg ${CORVANE_PKG_SERVER})
  else()
    set(pkg ${CORVANE_PKG_STANDINS})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${corvane_changelog}
          DESTINATION usr/share/doc/${pkg} COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian/${pkg}
          DESTINATION usr/share/lintian/overrides COMPONENT ${component})
endforeach()

file(WRITE ${CMAKE_BINARY_DIR}/packaging/server/conffiles "${corvane_conffiles}")

# --- Development stand-ins package -------------------------------------------

install(TARGETS victory
        LIBRARY DESTINATION usr/lib/${corvane_multiarch} COMPONENT standins NAMELINK_SKIP)
install(TARGETS fpga-sim RUNTIME DESTINATION opt/corvane/dev-standins/bin COMPONENT standins)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/standins/triggers "activate-noawait ldconfig\n")

# --- CPack -------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane-pnt)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane PNT team <pnt@corvane.invalid>")
set(CPACK_PACKAGE_VERSION "1.0.0")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server standins)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${corvane_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# Stripped executables and library (the build keeps its debug information).
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME ${CORVANE_PKG_SERVER})
set(CPACK_COMPONENT_SERVER_DESCRIPTION "vehicle PNT position server
Pairs the navigator's ASPN2 solution and UTC time received over DDS and
serves them as the VICTORY Position, Orientation and Direction of Travel
services; answers ASPN2 commands and reports health and maintenance
events. Runs as a systemd service. Needs a libvictory.so.5 provider: the
vehicle's VICTORY library (or, for development only, ${CORVANE_PKG_STANDINS}).")
set(CPACK_DEBIAN_SERVER_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/platform/victory)
# Our build of Fast DDS (packaging/fastdds): the library's own shlibs only
# ask for 2.9.1, which Debian's build (statistics module and assert()s in)
# also satisfies.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/fastdds/build.conf corvane_fastdds_version REGEX "^version=")
string(REPLACE "version=" "" corvane_fastdds_version "${corvane_fastdds_version}")
set(CORVANE_FASTDDS_DEPENDS "libfastrtps2.9 (>= ${corvane_fastdds_version})")
# systemd: the service, and systemd-sysusers for its user.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS
    "${CORVANE_FASTDDS_DEPENDS}, systemd, ${CORVANE_VICTORY_VIRTUAL}")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/server/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME ${CORVANE_PKG_STANDINS})
set(CPACK_COMPONENT_STANDINS_DESCRIPTION "development stand-ins for the vehicle PNT server
Not for a vehicle: a stand-in VICTORY services library (libvictory.so.5)
that sends each service's values as XML datagrams, and fpga-sim, which
fills a memory file used instead of /dev/mem. The vehicle's own VICTORY
library replaces the stand-in library.")
set(CPACK_DEBIAN_STANDINS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_STANDINS_PACKAGE_DEPENDS "${CORVANE_FASTDDS_DEPENDS}")
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_STANDINS_PACKAGE_PROVIDES ${CORVANE_VICTORY_VIRTUAL})
set(CPACK_DEBIAN_STANDINS_PACKAGE_CONFLICTS ${CORVANE_VICTORY_VIRTUAL})
set(CPACK_DEBIAN_STANDINS_PACKAGE_REPLACES ${CORVANE_VICTORY_VIRTUAL})
# shlibs names the virtual package, so that a package built against the
# stand-in accepts the vehicle's library too.
set(CPACK_DEBIAN_STANDINS_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/standins/triggers
    ${PROJECT_SOURCE_DIR}/packaging/standins/shlibs
    ${PROJECT_SOURCE_DIR}/packaging/standins/postinst
    ${PROJECT_SOURCE_DIR}/packaging/standins/postrm)
set(CPACK_DEBIAN_STANDINS_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# Everything the packages hold, built by scripts/package before CPack runs.
add_custom_target(package_contents)
add_dependencies(package_contents ZOziDaZodOduzuz aspn2-tool victory-monitor fpga-sim victory man_page package_changelog)
if(TARGET geoid_data)
  add_dependencies(package_contents geoid_data)
endif()
