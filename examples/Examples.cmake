# Included by the top-level (host) project: the SDK examples, built from the
# installed SDK only into build/examples (display drivers example_display.sys
# and example_miniport.sys, services driver kelv.sys, TV driver rmx.sys; the
# first display driver example is also built with each image), and the
# examples as the SDK ships them.
set(ZERVAL_EXAMPLES_DIR ${CMAKE_BINARY_DIR}/examples)
zerval_add_sdk_drivers(zerval_examples ${CMAKE_CURRENT_LIST_DIR} ${ZERVAL_EXAMPLES_DIR})
# The SDK's examples/: the drivers' sources with the CMake files that build
# them from the SDK, and the example INF with the release written in.
install(DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/ DESTINATION examples
        PATTERN Examples.cmake EXCLUDE PATTERN *.in EXCLUDE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/inf/zerval-display.inf.in
               ${CMAKE_BINARY_DIR}/examples-inf/zerval-display.inf @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/examples-inf/zerval-display.inf DESTINATION examples/inf)
# The example drivers as built, which the INF copies with zerval.sys.
install(FILES ${ZERVAL_EXAMPLES_DIR}/example_display.sys ${ZERVAL_EXAMPLES_DIR}/example_miniport.sys
              ${ZERVAL_EXAMPLES_DIR}/kelv.sys ${ZERVAL_EXAMPLES_DIR}/rmx.sys
        DESTINATION sys/examples)
