# What `cmake --install` puts where (GNU directories under the prefix):
#   bin/                      kranzel, kranzel-ini, kranzel-check,
#                             kranzel-standin, kranzel-standin-server
#   <libdir>/odbc/            libkranzel_standin.so (the stand-in's ODBC driver,
#                             where Debian keeps ODBC drivers)
#   share/kranzel/            qvsystem.sql, odbcinst-standin.ini (template for
#                             odbcinst -i -d -f)
#   share/man/man1/           kranzel.1, kranzel-ini.1, kranzel-check.1
#   share/doc/kranzel/        README.md, deploy.md, README.standin.md
include(GNUInstallDirs)

set(KRANZEL_DRIVER_DIR ${CMAKE_INSTALL_LIBDIR}/odbc)
set(KRANZEL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/kranzel)

install(TARGETS kranzel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(tool kranzel-ini kranzel-check)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

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
  # The stand-in's programs find the driver library beside them in the tree
  # and in <libdir>/odbc once installed.
  file(RELATIVE_PATH KRANZEL_BIN_TO_DRIVER ${CMAKE_INSTALL_FULL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${KRANZEL_DRIVER_DIR})
  foreach(tool kranzel-standin kranzel-standin-server)
    if(TARGET ${tool})
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${KRANZEL_BIN_TO_DRIVER}")
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endif()

install(FILES schema/qvsystem.sql DESTINATION ${KRANZEL_DATA_DIR})

# Man pages: the version is filled in from project(VERSION).
foreach(page kranzel.1 kranzel-ini.1 kranzel-check.1)
  configure_file(docs/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES README.md docs/deploy.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES standin/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README.standin.md)
