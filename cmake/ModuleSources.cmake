# The module's sources and include folders, shared by the host build and the
# image build: one list, no fork.
set(ZERVAL_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
set(ZERVAL_MODULE_SOURCES
  ${ZERVAL_ROOT}/binding/driver_entry.cpp
  ${ZERVAL_ROOT}/binding/attach.cpp
  ${ZERVAL_ROOT}/modes/biosdll.cpp
  ${ZERVAL_ROOT}/modes/published.cpp
  ${ZERVAL_ROOT}/modes/get_mode.cpp
  ${ZERVAL_ROOT}/services/validate_mode.cpp
  ${ZERVAL_ROOT}/services/set_mode.cpp
  ${ZERVAL_ROOT}/services/forwarded.cpp)
set(ZERVAL_MODULE_INCLUDES
  ${ZERVAL_ROOT}/include
  ${ZERVAL_ROOT}/binding
  ${ZERVAL_ROOT}/modes
  ${ZERVAL_ROOT}/services
  ${ZERVAL_ROOT}/platform)
