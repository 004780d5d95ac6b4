# Included by the top-level (host) project: the Wine route's test support,
# shipped with the kit in share/zerval/wine and staged in the same place of
# the build tree (build/share/zerval/wine), so that zerval-wine finds it
# beside itself either way: the probe display driver (zprobe.sys) and the
# videoprt.sys stand-in, cross-built from the installed SDK into
# build/wine-drivers with the tests' own services drivers, and the scripts
# that run the stack under Wine and compare its report with the emulator's,
# and the one that says whether this host can run Wine's i386 code at all.
set(ZERVAL_WINE_DRIVERS_DIR ${CMAKE_BINARY_DIR}/wine-drivers)
set(ZERVAL_WINE_SUPPORT_DIR ${CMAKE_BINARY_DIR}/share/zerval/wine)
# The booted prefix the Wine tests (and the README's Wine samples) copy.
set(ZERVAL_WINE_BASE ${CMAKE_BINARY_DIR}/wine/base)
zerval_add_sdk_drivers(zerval_wine_drivers ${CMAKE_CURRENT_LIST_DIR}/drivers ${ZERVAL_WINE_DRIVERS_DIR})

set(dir ${CMAKE_CURRENT_LIST_DIR})
set(ZERVAL_WINE_SCRIPTS ${dir}/run_stack.sh ${dir}/make_prefix.sh ${dir}/compare_reports.sh ${dir}/host_i386.sh)
set(ZERVAL_WINE_SOURCED ${dir}/wine_session.sh)
set(ZERVAL_WINE_IMAGES ${ZERVAL_WINE_DRIVERS_DIR}/zprobe.sys ${ZERVAL_WINE_DRIVERS_DIR}/videoprt.sys)
add_custom_target(zerval_wine_support ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZERVAL_WINE_SUPPORT_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ZERVAL_WINE_SCRIPTS} ${ZERVAL_WINE_SOURCED} ${ZERVAL_WINE_IMAGES} ${ZERVAL_WINE_SUPPORT_DIR}
  DEPENDS ${ZERVAL_WINE_SCRIPTS} ${ZERVAL_WINE_SOURCED}
  COMMENT "Staging the Wine route's support in share/zerval/wine")
add_dependencies(zerval_wine_support zerval_wine_drivers)
install(PROGRAMS ${ZERVAL_WINE_SCRIPTS} DESTINATION share/zerval/wine)
install(FILES ${ZERVAL_WINE_SOURCED} ${ZERVAL_WINE_IMAGES} DESTINATION share/zerval/wine)
