# Installation rules and the Debian package (cpack -G DEB in the build folder).
# Paths are relative to the prefix: the package installs below /usr.

include(GNUInstallDirs)

install(TARGETS orbapda orbapda-pda RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The unit names /usr/bin/orbapda: it is meant for the package's prefix.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orbapda.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/db/schema.sql ${PROJECT_SOURCE_DIR}/db/schema-postgresql.sql
              ${PROJECT_SOURCE_DIR}/db/demo.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/orbapda/db)
# The configuration, a conffile: the installer sets SR in it, and an upgrade
# keeps the installer's version. As shipped it names no base folder, so the
# service does not start before the installer has set one.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/ORBA.INI DESTINATION /etc/orba)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages and the changelog (a native package's changelog.gz) go in
# compressed the way dh_compress does it: gzip -9n, no name or time stamp.
set(ORBA_COMPRESSED)
foreach(source man/orbapda.8 man/orbapda-pda.1 changelog)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
                     COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/${source} > ${output}
                     DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${source} VERBATIM)
  list(APPEND ORBA_COMPRESSED ${output})
endforeach()
add_custom_target(orba_package_documents ALL DEPENDS ${ORBA_COMPRESSED})
install(FILES ${CMAKE_BINARY_DIR}/packaging/orbapda.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${CMAKE_BINARY_DIR}/packaging/orbapda-pda.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A role address; a distributor sets its own.
set(ORBA_DEB_MAINTAINER "OrbaPDA packaging <packaging@orbapda.example>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbapda)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "handheld ordering gateway for restaurants, bars and hotels")
# Lines of at most 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "orbapda takes the XML requests that the waiters' handhelds drop into\n"
  "xml/Enviar, runs each transaction against the shared back-office database\n"
  "(ORBA.MDB, SQLite, or a PostgreSQL server), answers in xml/Receber and\n"
  "prints production tickets and pre-bills through CUPS.\n"
  "The package ships the service as a systemd unit that runs as the system\n"
  "user orbapda, the configuration /etc/orba/ORBA.INI, and the handheld\n"
  "simulator orbapda-pda; /usr/share/doc/orbapda/README.md walks through\n"
  "the installation.")
set(CPACK_PACKAGE_CONTACT ${ORBA_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ORBA_DEB_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # orbapda_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the binaries link come from dpkg-shlibdeps; the maintainer
# scripts need adduser and deb-systemd-helper.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm
    ${PROJECT_SOURCE_DIR}/packaging/conffiles)
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
