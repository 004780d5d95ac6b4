# What the kit ships beside the builds' products (the images, the tools, the
# headers and libraries, the examples): its own front page (README-kit.md,
# installed as README.md), the pages written for its users (docs/kit.md,
# docs/kit-tools.md; the rest of docs/ is about this source tree and stays
# here), the licence and the change log; the adapter profiles
# (share/zerval/profiles/) and the real monitors' EDIDs the pages use, with
# their sources and licence (share/zerval/edid/, from tests/data/edid/).
install(FILES ${CMAKE_SOURCE_DIR}/README-kit.md DESTINATION . RENAME README.md)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/CHANGELOG.md DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/docs/kit.md ${CMAKE_SOURCE_DIR}/docs/kit-tools.md DESTINATION docs)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/profiles/ DESTINATION share/zerval/profiles FILES_MATCHING PATTERN *.json)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/tests/data/edid/ DESTINATION share/zerval/edid)
