# What `cmake --install` puts where (GNU directories under the prefix). The
# Debian packages (debian/) split the same files between kranzel and
# kranzel-standin:
#   bin/                      kranzel, kranzel-ini, kranzel-check        (kranzel)
#                             kranzel-standin, kranzel-standin-server    (kranzel-standin)
#   <libdir>/odbc/            libkranzel_standin.so, the stand-in's ODBC
#                             driver, where Debian keeps ODBC drivers     (kranzel-standin)
#   share/kranzel/            qvsystem.sql, odbcinst-standin.ini (the
#                             driver's entry for odbcinst -i -d -f)       (kranzel-standin)
#   share/man/man1/           one page per program
#   share/doc/kranzel/        README.md, docs/*.md and standin/README.md in
#                             the source tree's layout, so their links hold;
#                             examples/ the delivery helper, the systemd
#                             units and the cron line                     (kranzel)
include(GNUInstallDirs)

set(KRANZEL_DRIVER_DIR ${CMAKE_INSTALL_LIBDIR}/odbc)
set(KRANZEL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kranzel)

install(TARGETS kranzel kranzel-ini kranzel-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET kranzel_standin)
  install(TARGETS kranzel_standin LIBRARY DESTINATION ${KRANZEL_DRIVER_DIR})
  # The driver's template for odbcinst names the driver by its installed
  # path, which is known only at install time (--prefix, the package's /usr).
  install(CODE "
    set(template \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${KRANZEL_DATA_DIR}/odbcinst-standin.ini\")
    message(STATUS \"Installing: \${template}\")
    file(WRITE \"\${template}\" \"[KranzelStandin]
Description = kranzel's SQL Server stand-in (SQLite)
Driver = \${CMAKE_INSTALL_PREFIX}/${KRANZEL_DRIVER_DIR}/$<TARGET_FILE_NAME:kranzel_standin>
\")
  ")
  # Both programs link the stand-in's engine statically: no search path for
  # the driver library is needed.
  foreach(tool kranzel-standin kranzel-standin-server)
    if(TARGET ${tool})
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endif()

install(FILES schema/qvsystem.sql DESTINATION ${KRANZEL_DATA_DIR})

# Man pages: the version is filled in from project(VERSION).
foreach(page kranzel.1 kranzel-ini.1 kranzel-check.1 kranzel-standin.1 kranzel-standin-server.1)
  configure_file(docs/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/deploy.md docs/windows.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES standin/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/standin)
install(PROGRAMS docs/examples/kranzel-deliveries DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES docs/examples/kranzel-import.service docs/examples/kranzel-import.path
              docs/examples/kranzel.cron
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
