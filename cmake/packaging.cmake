# The Debian packages are built by dpkg-buildpackage from debian/ (debhelper
# over this CMake project: the hardening flags of dpkg-buildflags, stripped
# binaries with -dbgsym packages, compressed manual pages, maintainer
# scripts); scripts/package-check.sh builds, lints and tries them. This file
# only keeps the packages' version and the project's in step.
if(EXISTS ${PROJECT_SOURCE_DIR}/debian/changelog)
  file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog KRANZEL_DEBIAN_HEAD LIMIT_COUNT 1)
  string(REPLACE "." "\\." KRANZEL_VERSION_PATTERN ${PROJECT_VERSION})
  if(NOT KRANZEL_DEBIAN_HEAD MATCHES "^kranzel \\(${KRANZEL_VERSION_PATTERN}(-[^)]*)?\\) ")
    message(FATAL_ERROR "debian/changelog starts with '${KRANZEL_DEBIAN_HEAD}', "
                        "not with version ${PROJECT_VERSION} of project(): give both the same version")
  endif()
endif()
