# Static checks over the module's own sources, run by CTest: clang-tidy with
# the checks in .clang-tidy, cppcheck with the checks below.  Both treat any
# finding as a failure.
find_program(ZERVAL_CLANG_TIDY clang-tidy REQUIRED)
find_program(ZERVAL_CPPCHECK cppcheck REQUIRED)

add_test(NAME lint.clang_tidy
  COMMAND ${ZERVAL_CLANG_TIDY} -p ${CMAKE_BINARY_DIR} --quiet ${ZERVAL_MODULE_SOURCES}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})

set(ZERVAL_CPPCHECK_INCLUDES)
foreach(dir ${ZERVAL_MODULE_INCLUDES} ${CMAKE_SOURCE_DIR}/platform/host)
  list(APPEND ZERVAL_CPPCHECK_INCLUDES -I ${dir})
endforeach()
# warning, style, performance and portability; a finding fails the test.
# Inline suppressions (// cppcheck-suppress ...) must name their reason.
add_test(NAME lint.cppcheck
  COMMAND ${ZERVAL_CPPCHECK} --std=c++17 --language=c++ --enable=warning,style,performance,portability
          --error-exitcode=1 --inline-suppr --quiet ${ZERVAL_CPPCHECK_INCLUDES} ${ZERVAL_MODULE_SOURCES}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
