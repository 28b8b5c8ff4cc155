# Catches a release whose version is written differently in two places: the
# version is project()'s, and debian/changelog and CHANGELOG.md must name it.
#   cmake -DSOURCE_DIR=... -DVERSION=... -P versions.cmake
file(STRINGS "${SOURCE_DIR}/debian/changelog" entry LIMIT_COUNT 1)
if(NOT entry MATCHES "^quarn \\(${VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog's last entry is not ${VERSION}: ${entry}")
endif()
file(READ "${SOURCE_DIR}/CHANGELOG.md" changes)
if(NOT changes MATCHES "\n## ${VERSION} ")
  message(FATAL_ERROR "CHANGELOG.md has no section for ${VERSION}")
endif()
