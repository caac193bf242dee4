# `cpack -G DEB` in the build folder: the server, the simulator, their libraries, the systemd
# user unit, the desktop entry, the man pages, the documents and the example lab, for /usr.
include(GNUInstallDirs)

set_target_properties(krb-sim PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS krb-sim)
install(FILES ${PROJECT_SOURCE_DIR}/server/dist/KRBServer.1 ${PROJECT_SOURCE_DIR}/sim/krb-sim.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(KRB_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/krb)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${KRB_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/sim/README.md DESTINATION ${KRB_DOC_DIR} RENAME krb-sim.md)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${KRB_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/demo-lab
        DESTINATION ${CMAKE_INSTALL_DATADIR}/krb/examples)

# Packaging installs only what is built; `cmake --build` of the programs comes first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME "krb")
set(CPACK_PACKAGE_VERSION "1.0.0")
set(CPACK_PACKAGE_CONTACT "KRB maintainers <krb@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Plate storage units on TCP/IP: KRBServer and krb-sim")
set(CPACK_PACKAGE_DESCRIPTION
    "KRBServer drives automated plate storage units over RS-232 and serves them to lab software over TCP/IP; krb-sim simulates the units on pseudo-terminals.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_INSTALL_PREFIX "/usr")
# Installed with DESTDIR, so that the paths written into the unit and the desktop entry are
# those of the installed system, not of the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
find_program(KRB_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KRB_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # The runtime libraries of the programs as linked here (Debian 12).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libqt6widgets6, libqt6gui6, libqt6core6, libgrpc++1.51, libprotobuf32, libavahi-client3, libssl3, libxml2, libsqlite3-0, libpq5")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_GENERATOR DEB)
include(CPack)
