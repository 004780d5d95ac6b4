# The module, as both builds make it: the host build gathers its parts into
# the static library zerval_module, the image build links them into
# zerval.sys.  Each part (binding/, modes/, services/) is an object library
# made by zerval_module_part, so the language standard and the flags for
# kernel code are stated here once.
#
# The including project defines, before zerval_add_module_parts():
#   zerval_platform     the module's view of the kernel (platform/: the host
#                       doubles' headers or the DDK's);
#   ZERVAL_MODULE_FLAGS its compiler's flags for kernel code.

# zerval_module_part(TARGET SOURCES...)
function(zerval_module_part target)
  add_library(${target} OBJECT ${ARGN})
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC zerval_platform)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${ZERVAL_MODULE_FLAGS}>)
endfunction()

# The parts, in link order, and their objects.
set(ZERVAL_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
set(ZERVAL_MODULE_PARTS binding modes services)
set(ZERVAL_MODULE_OBJECTS
  $<TARGET_OBJECTS:zerval_binding> $<TARGET_OBJECTS:zerval_modes> $<TARGET_OBJECTS:zerval_services>)

# Adds the parts' folders to the including project (from image/ too, whose
# source folder is not their parent).
macro(zerval_add_module_parts)
  foreach(part IN LISTS ZERVAL_MODULE_PARTS)
    add_subdirectory(${ZERVAL_SOURCE_ROOT}/${part} ${CMAKE_BINARY_DIR}/${part})
  endforeach()
endmacro()
