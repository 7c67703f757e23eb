# The Windows build's settings: kranzel.exe, kranzel-ini.exe and
# kranzel-check.exe are the targets of the top CMakeLists.txt, built from the
# same sources against the Windows ODBC driver manager (odbc32) and linked
# statically against the C and C++ runtimes so that a bare Windows machine
# with its ODBC driver manager runs them. Included by the top CMakeLists.txt
# when WIN32, before it defines the targets (the options below apply to
# targets defined after them); cmake/windows-package.cmake follows them.

# <windows.h> comes before <sql.h>; without these it would also bring min/max
# macros and most of the Windows API into every file.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
add_link_options(-static)
add_compile_options(-g)
enable_language(RC)
# GCC 12 reports a false -Wrestrict on inlined std::string assignments at -O2
# (GCC bug 105329); the Linux build keeps the warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
