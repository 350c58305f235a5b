# Installation and the Debian packages (CPack):
#   cmake --build --preset release --target package
# gives varevavo_<version>_<arch>.deb (the console programs, the default site,
# the systemd units, logrotate, the manual pages) and, when the desktop front
# end is built, varevavo-desktop_<version>_<arch>.deb (ruvuzerar-desktop, its
# menu entry and icon), so that a server never pulls in Qt.
# Programs go to /usr/bin, the default site to /usr/share/varevavo/site,
# helper programs to /usr/lib/varevavo, CGI programs that every service home
# gets to /usr/lib/varevavo/cgi-bin (prepare-home links each into CGI-BIN
# under its name and with ".exe"; the visitor counter installs itself there,
# see visitor/CMakeLists.txt).
set(VV_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS ruvuzerar varevavo-reg varevavo-setup zazezere RUNTIME DESTINATION bin COMPONENT server)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/site/ DESTINATION share/varevavo/site COMPONENT server USE_SOURCE_PERMISSIONS)
install(PROGRAMS ${VV_PACKAGING}/prepare-home DESTINATION lib/varevavo COMPONENT server)
install(FILES ${VV_PACKAGING}/systemd/varevavo.service ${VV_PACKAGING}/systemd/varevavo@.service
        DESTINATION /lib/systemd/system COMPONENT server)
install(FILES ${VV_PACKAGING}/logrotate/varevavo DESTINATION /etc/logrotate.d COMPONENT server)
install(TARGETS varevavo-passwd RUNTIME DESTINATION bin COMPONENT server)

if(VAREVAVO_WITH_DESKTOP)
  install(TARGETS ruvuzerar-desktop RUNTIME DESTINATION bin COMPONENT desktop)
  install(PROGRAMS ${VV_PACKAGING}/desktop/varevavo-desktop DESTINATION lib/varevavo COMPONENT desktop)
  install(FILES ${VV_PACKAGING}/desktop/varevavo.desktop DESTINATION share/applications COMPONENT desktop)
  foreach(size 16 32 64)
    install(FILES ${PROJECT_SOURCE_DIR}/shell/desktop/resources/HTTPD_ICON_${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME varevavo.png COMPONENT desktop)
  endforeach()
endif()

# Manual pages, from scdoc sources, compressed as Debian wants them.
set(VV_MAN_PAGES ruvuzerar.8 varevavo-reg.1 varevavo-setup.8 zazezere.1)
list(APPEND VV_MAN_PAGES varevavo-passwd.1)
if(VAREVAVO_WITH_DESKTOP)
  list(APPEND VV_MAN_PAGES ruvuzerar-desktop.1)
endif()
find_program(SCDOC scdoc)
if(SCDOC)
  set(VV_MAN_BUILT)
  foreach(page ${VV_MAN_PAGES})
    set(source ${VV_PACKAGING}/man/${page}.scd)
    set(built ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${built}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "'${SCDOC}' < '${source}' | gzip -9n > '${built}'"
      DEPENDS ${source} VERBATIM)
    list(APPEND VV_MAN_BUILT ${built})
    string(REGEX MATCH "[0-9]$" section ${page})
    set(component server)
    if(page MATCHES "^ruvuzerar-desktop")
      set(component desktop)
    endif()
    install(FILES ${built} DESTINATION share/man/man${section} COMPONENT ${component})
  endforeach()
  add_custom_target(man ALL DEPENDS ${VV_MAN_BUILT})
else()
  message(STATUS "scdoc not found: no manual pages (scripts/setup.sh package installs it)")
endif()

# Each package's copyright and changelog.
set(VV_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${VV_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9n < '${VV_PACKAGING}/debian/changelog' > '${VV_CHANGELOG}'"
  DEPENDS ${VV_PACKAGING}/debian/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${VV_CHANGELOG})
foreach(component server desktop)
  set(package varevavo)
  if(component STREQUAL "desktop")
    set(package varevavo-desktop)
  endif()
  install(FILES ${VV_PACKAGING}/debian/copyright ${VV_CHANGELOG}
          DESTINATION share/doc/${package} COMPONENT ${component})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/varevavo COMPONENT server)

# A package without its manual pages is refused when it is built.
if(NOT SCDOC)
  install(CODE "message(FATAL_ERROR \"The manual pages need scdoc (scripts/setup.sh package)\")" COMPONENT server)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varevavo)
set(CPACK_PACKAGE_VENDOR "The Varevavo authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Varevavo maintainers <maintainers@users.noreply.c-seed-95d65fef.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server)
if(VAREVAVO_WITH_DESKTOP)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
set(CPACK_COMPONENT_DESKTOP_DEPENDS server)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION httpd)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME varevavo)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser, zlib1g, libbrotli1, libzstd1")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "logrotate, varevavo-desktop")
# Automatic certificates (AutoCertificate) are obtained by uacme, which
# calls the hook installed here for each challenge.
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "uacme")
install(TARGETS varevavo-acme-hook RUNTIME DESTINATION lib/varevavo COMPONENT server)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${VV_PACKAGING}/debian/postinst ${VV_PACKAGING}/debian/prerm ${VV_PACKAGING}/debian/postrm
    ${VV_PACKAGING}/debian/conffiles)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "small web server for a home box
Varevavo serves files, directory listings, CGI and Windows-CGI programs
and server-side includes over HTTP/0.9 and 1.0, with persistent
connections, remote publishing behind a master key, a live statistics page
and four logs. Its settings live in a registry of named setups.

This package has the headless server ruvuzerar with its systemd units
(varevavo.service runs it as the user varevavo in /var/lib/varevavo), the
registry editor varevavo-reg, varevavo-setup, the visitor-counter console
zazezere and the default site, and varevavo-passwd, which stores hashed
passwords for protected folders and the master key.")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME varevavo-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION httpd)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION "small web server for a home box - desktop front end
Varevavo serves files, directory listings, CGI and Windows-CGI programs
and server-side includes over HTTP/0.9 and 1.0.

This package has ruvuzerar-desktop, which runs the server behind a tray
icon with a status window, an Admin menu and a property sheet that edits
every setting, and its menu entry.")

include(CPack)
