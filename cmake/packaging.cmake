# The Debian package: cpack -G DEB in the build directory. Its dependencies
# are read from the installed binaries by dpkg-shlibdeps (libodbc2 for
# kranzel, libsqlite3-0 and libodbcinst2 for the stand-in, the C and C++
# runtimes), so they follow whatever the binaries actually link.
set(CPACK_PACKAGE_NAME kranzel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kranzel")
set(CPACK_PACKAGE_CONTACT "kranzel maintainers <kranzel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "batch import of interface files into the time-recording installation's SQL Server database")
set(CPACK_PACKAGE_DESCRIPTION "kranzel imports the fixed-length-record interface files of a \
time-recording installation into its SQL Server database through ODBC. The package also holds \
kranzel-ini (the encrypted configuration file), the QVSYSTEM schema, and the SQL Server \
stand-in (an ODBC driver over SQLite) for tests.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kranzel-standin links the stand-in driver, which the package brings itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/standin)
# odbcinst registers the stand-in driver; FreeTDS reaches a real SQL Server.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "unixodbc, odbcinst")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tdsodbc, faketime")

include(CPack)
