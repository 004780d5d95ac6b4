# Static checks over the module's own sources, run by CTest: clang-tidy with
# the checks in .clang-tidy, cppcheck with the checks below.  Both treat any
# finding as a failure.
find_program(ZERVAL_CLANG_TIDY clang-tidy REQUIRED)
find_program(ZERVAL_CPPCHECK cppcheck REQUIRED)

# The module's sources and header folders, from its parts.
set(ZERVAL_LINT_SOURCES)
set(ZERVAL_CPPCHECK_INCLUDES -I ${PROJECT_SOURCE_DIR}/include -I ${PROJECT_SOURCE_DIR}/platform
                             -I ${PROJECT_SOURCE_DIR}/platform/host)
foreach(part IN LISTS ZERVAL_MODULE_PARTS)
  get_target_property(dir zerval_${part} SOURCE_DIR)
  get_target_property(files zerval_${part} SOURCES)
  list(TRANSFORM files PREPEND ${dir}/)
  list(APPEND ZERVAL_LINT_SOURCES ${files})
  list(APPEND ZERVAL_CPPCHECK_INCLUDES -I ${dir})
endforeach()

get_target_property(ZERVAL_MODULE_CXX_STANDARD zerval_binding CXX_STANDARD)

add_test(NAME lint.clang_tidy
  COMMAND ${ZERVAL_CLANG_TIDY} -p ${CMAKE_BINARY_DIR} --quiet ${ZERVAL_LINT_SOURCES}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})

# warning, style, performance and portability; a finding fails the test.
# Inline suppressions (// cppcheck-suppress ...) must name their reason.
add_test(NAME lint.cppcheck
  COMMAND ${ZERVAL_CPPCHECK} --std=c++${ZERVAL_MODULE_CXX_STANDARD} --language=c++ --enable=warning,style,performance,portability
          --error-exitcode=1 --inline-suppr --quiet ${ZERVAL_CPPCHECK_INCLUDES} ${ZERVAL_LINT_SOURCES}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
