# The Windows programs as shipped: every .exe carries a version resource
# (packaging/windows/version.rc.in) and is stripped after linking; its debug
# information stays in the build folder as <name>.exe.debug (found by gdb
# through the .gnu_debuglink the stripped file keeps), for the analysis of a
# crash on an installation. Then the zip and the MSI. Included by the top
# CMakeLists.txt when WIN32, after it defines the programs.

set(KRANZEL_WINDOWS_PROGRAMS kranzel kranzel-ini kranzel-check)
set(KRANZEL_RC_DESCRIPTION_kranzel "kranzel: import of one interface file into the database")
set(KRANZEL_RC_DESCRIPTION_kranzel-ini "kranzel-ini: the encrypted configuration file")
set(KRANZEL_RC_DESCRIPTION_kranzel-check "kranzel-check: check of a delivery or an installation")
foreach(program ${KRANZEL_WINDOWS_PROGRAMS})
  set(KRANZEL_RC_NAME ${program})
  set(KRANZEL_RC_DESCRIPTION "${KRANZEL_RC_DESCRIPTION_${program}}")
  configure_file(packaging/windows/version.rc.in ${CMAKE_BINARY_DIR}/${program}.rc @ONLY)
  target_sources(${program} PRIVATE ${CMAKE_BINARY_DIR}/${program}.rc)
  add_custom_command(TARGET ${program} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${program}> $<TARGET_FILE_NAME:${program}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${program}>.debug
            $<TARGET_FILE_NAME:${program}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${program}>
    COMMENT "Stripping ${program}.exe (debug information kept in ${program}.exe.debug)"
    VERBATIM)
endforeach()

# The delivery helper, beside the programs (CR LF, as cmd.exe reads a batch
# file best).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/packaging/windows/kranzel-deliveries.cmd)
file(READ packaging/windows/kranzel-deliveries.cmd KRANZEL_DELIVERIES_CMD)
string(REPLACE "\n" "\r\n" KRANZEL_DELIVERIES_CMD "${KRANZEL_DELIVERIES_CMD}")
file(WRITE ${CMAKE_BINARY_DIR}/kranzel-deliveries.cmd "${KRANZEL_DELIVERIES_CMD}")

# The Windows zip (cpack -G ZIP, or scripts/build-windows.sh), laid out as
# the installation root, so that "Extract All" into the root gives what the
# MSI installs: Kranzel\bin\ (the programs and the delivery helper, the
# working directory), Kranzel\README.txt (the administrator's page),
# Kranzel\schema\qvsystem.sql, and the empty folders Files\ and
# Valdura_php\log\ that kranzel needs (extracting adds nothing to them when
# they are there already).
install(TARGETS ${KRANZEL_WINDOWS_PROGRAMS} RUNTIME DESTINATION Kranzel/bin)
install(FILES ${CMAKE_BINARY_DIR}/kranzel-deliveries.cmd DESTINATION Kranzel/bin)
install(FILES schema/qvsystem.sql DESTINATION Kranzel/schema)
install(DIRECTORY DESTINATION Files)
install(DIRECTORY DESTINATION Valdura_php/log)
# docs/windows.md, with Windows line ends, is the README.txt of the zip and
# of the MSI.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/windows.md)
file(READ docs/windows.md KRANZEL_WINDOWS_README)
string(REPLACE "\n" "\r\n" KRANZEL_WINDOWS_README "${KRANZEL_WINDOWS_README}")
file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${KRANZEL_WINDOWS_README}")
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION Kranzel)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kranzel)
if(PROJECT_VERSION)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
else()
  set(CPACK_PACKAGE_FILE_NAME kranzel-windows-x64)
endif()
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

# The MSI (target msi, run by scripts/build-windows.sh): wixl from msitools
# builds packaging/windows/kranzel.wxs from the shipped files staged flat in
# msi/. The tests build an upgrade from the same staging with another
# version (see tests/wine).
find_program(KRANZEL_WIXL wixl)
set(KRANZEL_MSI ${CMAKE_BINARY_DIR}/kranzel-${PROJECT_VERSION}-x64.msi)
set(KRANZEL_MSI_STAGE ${CMAKE_BINARY_DIR}/msi)
if(KRANZEL_WIXL)
  file(MAKE_DIRECTORY ${KRANZEL_MSI_STAGE})
  add_custom_command(OUTPUT ${KRANZEL_MSI}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:kranzel> $<TARGET_FILE:kranzel-ini>
            $<TARGET_FILE:kranzel-check> ${CMAKE_BINARY_DIR}/kranzel-deliveries.cmd
            ${CMAKE_BINARY_DIR}/README.txt ${PROJECT_SOURCE_DIR}/schema/qvsystem.sql
            ${KRANZEL_MSI_STAGE}
    COMMAND ${KRANZEL_WIXL} -a x64 -D Version=${PROJECT_VERSION} -o ${KRANZEL_MSI}
            ${PROJECT_SOURCE_DIR}/packaging/windows/kranzel.wxs
    WORKING_DIRECTORY ${KRANZEL_MSI_STAGE}
    DEPENDS ${KRANZEL_WINDOWS_PROGRAMS} ${PROJECT_SOURCE_DIR}/packaging/windows/kranzel.wxs
            ${CMAKE_BINARY_DIR}/kranzel-deliveries.cmd ${CMAKE_BINARY_DIR}/README.txt
            ${PROJECT_SOURCE_DIR}/schema/qvsystem.sql
    COMMENT "Building kranzel-${PROJECT_VERSION}-x64.msi with wixl"
    VERBATIM)
  add_custom_target(msi DEPENDS ${KRANZEL_MSI})
else()
  add_custom_target(msi COMMAND ${CMAKE_COMMAND} -E echo
    "wixl not found: install the Debian package wixl (msitools) to build the MSI" COMMAND false)
endif()
