# The Windows build: kranzel.exe and kranzel-ini.exe from the same sources,
# against the Windows ODBC driver manager (odbc32), linked statically against
# the C and C++ runtimes so that a bare Windows machine with its ODBC driver
# manager runs them. The stand-in and the tests are Linux programs and are
# not built here. Included by the top CMakeLists.txt when WIN32.

# <windows.h> comes before <sql.h>; without these it would also bring min/max
# macros and most of the Windows API into every file.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
add_link_options(-static)
# GCC 12 reports a false -Wrestrict on inlined std::string assignments at -O2
# (GCC bug 105329); the Linux build keeps the warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()

file(GLOB KRANZEL_CORE_SOURCES CONFIGURE_DEPENDS
  src/platform/*.cpp src/util/*.cpp src/log/*.cpp src/config/*.cpp src/db/*.cpp
  src/importers/*.cpp src/run/*.cpp)
list(FILTER KRANZEL_CORE_SOURCES EXCLUDE REGEX ".*/src/run/main\\.cpp$")
add_library(kranzel_core STATIC ${KRANZEL_CORE_SOURCES})
target_include_directories(kranzel_core PUBLIC src)
target_link_libraries(kranzel_core PUBLIC odbc32)
target_compile_definitions(kranzel_core PUBLIC KRANZEL_VERSION="${PROJECT_VERSION}")

add_executable(kranzel src/run/main.cpp)
target_link_libraries(kranzel PRIVATE kranzel_core)
add_executable(kranzel-ini tools/kranzel_ini.cpp)
target_link_libraries(kranzel-ini PRIVATE kranzel_core)

# The Windows zip (cpack -G ZIP, or scripts/build-windows.sh): the two
# programs, the schema for a test database, and the README for Windows.
install(TARGETS kranzel kranzel-ini RUNTIME DESTINATION .)
install(FILES schema/qvsystem.sql DESTINATION schema)
# docs/windows.md, with Windows line ends, is the zip's README.txt.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/windows.md)
file(READ docs/windows.md KRANZEL_WINDOWS_README)
string(REPLACE "\n" "\r\n" KRANZEL_WINDOWS_README "${KRANZEL_WINDOWS_README}")
file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${KRANZEL_WINDOWS_README}")
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kranzel)
if(PROJECT_VERSION)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
else()
  set(CPACK_PACKAGE_FILE_NAME kranzel-windows-x64)
endif()
set(CPACK_SYSTEM_NAME windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
