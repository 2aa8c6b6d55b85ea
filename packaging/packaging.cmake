# Install rules and the Debian package (CPack) of the record service.
#
# With the prefix /usr (scripts/package.sh) the layout is Debian's: the
# binary in /usr/bin, the installation root (TAVROOT) in /etc/comtrade-service,
# the records in /var/lib/comtrade-service/records and the log in
# /var/log/comtrade-service. Under any other prefix the same tree lands below
# it (GNUInstallDirs puts etc and var under /usr/local, say), so a trial
# install never writes outside the prefix.
include(GNUInstallDirs)

set(COMTRADE_ROOT_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/comtrade-service")
set(COMTRADE_STATE_DIR "${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/comtrade-service")
set(COMTRADE_RECORD_DIR "${COMTRADE_STATE_DIR}/records")
set(COMTRADE_LOG_DIR "${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/log/comtrade-service")
set(COMTRADE_DATA_DIR "${CMAKE_INSTALL_FULL_DATADIR}/comtrade-service")
set(COMTRADE_LIBEXEC_DIR "${CMAKE_INSTALL_PREFIX}/lib/comtrade-service")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(unit_dir_default /lib/systemd/system)
  pkg_get_variable(systemd_unit_dir systemd systemdsystemunitdir)
  if(systemd_unit_dir)
    set(unit_dir_default "${systemd_unit_dir}")
  endif()
else()
  set(unit_dir_default "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
endif()
set(COMTRADE_SYSTEMD_UNIT_DIR "${unit_dir_default}" CACHE PATH
  "Where the systemd unit is installed")

set(pkg_src "${CMAKE_CURRENT_LIST_DIR}")
set(pkg_out "${PROJECT_BINARY_DIR}/packaging")
configure_file("${pkg_src}/ComTrade.ini.in" "${pkg_out}/ComTrade.ini" @ONLY)
configure_file("${pkg_src}/comtrade-service.service.in" "${pkg_out}/comtrade-service.service" @ONLY)
configure_file("${pkg_src}/comtrade-service@.service.in" "${pkg_out}/comtrade-service@.service" @ONLY)

# Debian wants the changelog and man page compressed with gzip -9, without
# a time stamp so that two builds give the same bytes.
set(doc_dir "${CMAKE_INSTALL_DATADIR}/doc/comtrade-service")
foreach(page changelog comtrade_service.1)
  add_custom_command(OUTPUT "${pkg_out}/${page}.gz"
    COMMAND "${CMAKE_COMMAND}" -E copy "${pkg_src}/${page}" "${pkg_out}/${page}"
    COMMAND gzip -9nf "${pkg_out}/${page}"
    DEPENDS "${pkg_src}/${page}" VERBATIM)
endforeach()
add_custom_target(comtrade_package_docs ALL
  DEPENDS "${pkg_out}/changelog.gz" "${pkg_out}/comtrade_service.1.gz")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS comtrade_service RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${pkg_out}/ComTrade.ini" DESTINATION "${COMTRADE_ROOT_DIR}/cfg")
install(FILES "${pkg_out}/comtrade-service.service" "${pkg_out}/comtrade-service@.service"
  DESTINATION "${COMTRADE_SYSTEMD_UNIT_DIR}")
install(PROGRAMS "${pkg_src}/replica-settings" DESTINATION "${COMTRADE_LIBEXEC_DIR}")
install(FILES "${pkg_src}/nginx-site.conf" DESTINATION "${CMAKE_INSTALL_DATADIR}/comtrade-service/nginx"
  RENAME comtrade-service.conf)
install(FILES "${pkg_src}/copyright" "${pkg_out}/changelog.gz" DESTINATION "${doc_dir}")
install(FILES "${pkg_out}/comtrade_service.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
# The viewer's files are written alongside this; until they are there the
# package simply has none.
if(EXISTS "${PROJECT_SOURCE_DIR}/web/viewer")
  install(DIRECTORY "${PROJECT_SOURCE_DIR}/web/viewer/"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/comtrade-service/viewer")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME comtrade-service)
set(CPACK_PACKAGE_VENDOR "comtrade_service developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "HTTP/JSON query service over COMTRADE transient records")
set(CPACK_PACKAGE_DESCRIPTION "comtrade_service answers HTTP requests carrying small JSON documents about
a store of COMTRADE (IEEE C37.111) transient records kept one folder per
station: the records of a station, the header of a record and the sampled
values of chosen channels. It runs as a systemd service under a system user
of its own.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(COMTRADE_DEB_MAINTAINER "comtrade_service developers <comtrade-service@example.org>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${COMTRADE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the runtime packages of the libraries the binary links
# (JsonCpp, inih, the C++ runtime); Boost is header-only. The rest are used
# by the maintainer scripts (adduser) and the viewer page (dygraphs).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libjs-dygraphs")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${pkg_src}/debian/conffiles"
  "${pkg_src}/debian/postinst"
  "${pkg_src}/debian/prerm"
  "${pkg_src}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
