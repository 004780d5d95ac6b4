# The release archive: the installed kit (what `cmake --install` gives, its
# own files listed in cmake/KitFiles.cmake), as zerval-<version>-sdk.zip and
# zerval-<version>-sdk.tar.gz, each holding one folder of that name.
# scripts/package.sh runs CPack and writes SHA256SUMS beside them;
# scripts/release.sh builds first.
set(CPACK_GENERATOR ZIP TGZ)
set(CPACK_PACKAGE_NAME zerval)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME zerval-${PROJECT_VERSION}-sdk)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "zerval.sys, its symbols, headers, import libraries and example drivers")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
include(CPack)
