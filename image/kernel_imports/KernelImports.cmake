# The kernel's import libraries that the kit carries for the MSVC dialect
# (lib/msvc/ntoskrnl.lib, videoprt.lib, hal.lib; zerval_driver's LIBS),
# made at build time from mingw-w64's GNU import libraries, which the GNU
# dialect links: write_def.py reads each archive's symbols and the names
# they import into a definition file, and llvm-dlltool makes the import
# library from that, so that a driver of either dialect imports the same
# names from the same DLLs.  Included by image/CMakeLists.txt with clang-cl.
set(ZERVAL_KERNEL_LIBRARIES ntoskrnl videoprt hal)
find_package(Python3 COMPONENTS Interpreter REQUIRED)
find_program(ZERVAL_LLVM_DLLTOOL llvm-dlltool${ZERVAL_LLVM_SUFFIX} REQUIRED)
set(kernel_imports_dir ${CMAKE_CURRENT_BINARY_DIR}/msvc)
file(MAKE_DIRECTORY ${kernel_imports_dir})
set(kernel_imports)
foreach(name IN LISTS ZERVAL_KERNEL_LIBRARIES)
  find_file(ZERVAL_GNU_${name}_LIB lib${name}.a PATHS / PATH_SUFFIXES lib REQUIRED)
  add_custom_command(OUTPUT ${kernel_imports_dir}/${name}.lib
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/write_def.py ${ZERVAL_GNU_${name}_LIB} ${name}.def
    COMMAND ${ZERVAL_LLVM_DLLTOOL} -m i386 -k -d ${name}.def -l ${name}.lib
    DEPENDS ${ZERVAL_GNU_${name}_LIB} ${CMAKE_CURRENT_LIST_DIR}/write_def.py
            ${CMAKE_CURRENT_LIST_DIR}/import_library.py
    WORKING_DIRECTORY ${kernel_imports_dir} VERBATIM)
  list(APPEND kernel_imports ${kernel_imports_dir}/${name}.lib)
endforeach()
add_custom_target(kernel_import_libraries ALL DEPENDS ${kernel_imports})
install(FILES ${kernel_imports} DESTINATION lib/msvc)
