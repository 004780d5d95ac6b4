# Included by the top-level (host) project: the SDK examples, built from the
# installed SDK only into build/examples (services driver kelv.sys, TV driver
# rmx.sys; the display driver example is built with each image), and the
# examples' sources as the SDK ships them.
set(ZERVAL_EXAMPLES_DIR ${CMAKE_BINARY_DIR}/examples)
zerval_add_sdk_drivers(zerval_examples ${CMAKE_CURRENT_LIST_DIR} ${ZERVAL_EXAMPLES_DIR})
install(FILES ${ZERVAL_EXAMPLES_DIR}/kelv.sys ${ZERVAL_EXAMPLES_DIR}/rmx.sys DESTINATION sys/examples)
set(dir ${CMAKE_CURRENT_LIST_DIR})
install(FILES ${dir}/display_driver/display_driver.c
              ${dir}/services_driver/services_driver.c ${dir}/services_driver/kelv.def
              ${dir}/tv_driver/tv_driver.c ${dir}/tv_driver/rmx.def
        DESTINATION examples)
