# Installation rules and the Debian package (cpack -G DEB in the build folder).
# Paths are relative to the prefix: the package installs below /usr.

include(GNUInstallDirs)

install(TARGETS orbapda orbapda-pda RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The unit names /usr/bin/orbapda: it is meant for the package's prefix.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orbapda.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/db/schema.sql ${PROJECT_SOURCE_DIR}/db/schema-postgresql.sql
              ${PROJECT_SOURCE_DIR}/db/demo.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/orbapda/db)
# A sample only: /etc/orba/ORBA.INI is the installer's own file, never the package's.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ORBA.INI ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(ORBA_PACKAGE_MAINTAINER "OrbaPDA <orbapda@localhost>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbapda)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "handheld ordering gateway for restaurants, bars and hotels")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "orbapda takes the XML requests that the waiters' handhelds drop into xml/Enviar,\n"
  "runs each transaction against the shared back-office database (ORBA.MDB, SQLite,\n"
  "or a PostgreSQL server),\n"
  "answers in xml/Receber and prints production tickets and pre-bills through CUPS.\n"
  "The package ships the service as a systemd unit that runs as the system user\n"
  "orbapda; /usr/share/doc/orbapda/README.md walks through the installation.")
set(CPACK_PACKAGE_CONTACT ${ORBA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ORBA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # orbapda_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binaries link come from dpkg-shlibdeps; the maintainer
# scripts need adduser.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)

# The package's contents, built from this tree into a temporary folder.
add_test(NAME package_contents
         COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/check_package.sh
                 ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(package_contents PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
# The unit as systemd reads it.
add_test(NAME systemd_unit_verify
         COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/verify_unit.sh
                 ${PROJECT_SOURCE_DIR}/packaging/orbapda.service $<TARGET_FILE:orbapda>)
set_tests_properties(systemd_unit_verify PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77)
