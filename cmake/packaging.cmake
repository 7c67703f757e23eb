# The Debian packages are built by dpkg-buildpackage from debian/ (debhelper
# over this CMake project: the hardening flags of dpkg-buildflags, stripped
# binaries with -dbgsym packages, compressed manual pages, maintainer
# scripts); scripts/package-check.sh builds, lints and tries them. This file
# only keeps the package's version and the project's in step.
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog KRANZEL_DEBIAN_HEAD LIMIT_COUNT 1)
if(NOT KRANZEL_DEBIAN_HEAD MATCHES "^kranzel \\(${PROJECT_VERSION}(-[^)]*)?\\) ")
  message(FATAL_ERROR "debian/changelog starts with '${KRANZEL_DEBIAN_HEAD}', "
                      "not with version ${PROJECT_VERSION} of project(): give both the same version")
endif()
