# Module-definition files in each toolchain's syntax, written from lists of
# names: read by the image build (Interface.cmake) and shipped in the kit,
# where zerval_driver(... EXPORTS ...) writes a neighbour driver's.
#
# Functions are stdcall and named with their argument bytes (Attach@16): in
# the object files and in the export and import tables they carry a leading
# underscore as well (_Attach@16).  Data keeps its plain name.

# zerval_write_def(FILE LIBRARY STYLE FUNCTIONS... [DATA ...])
#   STYLE gnu-export: for ld, exporting each function under its decorated
#                     name (_f@n = f@n);
#   STYLE gnu-import: for dlltool, an import library binding each symbol to
#                     the decorated name in the export table (f@n == _f@n);
#   STYLE msvc:       for lld-link and link.exe, both the exports and the
#                     import library (_f@n).
function(zerval_write_def file library style)
  cmake_parse_arguments(PARSE_ARGV 3 DEF "" "" "FUNCTIONS;DATA")
  set(text "; Written by zerval_write_def (zerval-def.cmake).\nLIBRARY ${library}\nEXPORTS\n")
  foreach(f IN LISTS DEF_FUNCTIONS)
    if(style STREQUAL "gnu-export")
      string(APPEND text "  _${f} = ${f}\n")
    elseif(style STREQUAL "gnu-import")
      string(APPEND text "  ${f} == _${f}\n")
    elseif(style STREQUAL "msvc")
      string(APPEND text "  _${f}\n")
    else()
      message(FATAL_ERROR "zerval_write_def: unknown style ${style}")
    endif()
  endforeach()
  foreach(d IN LISTS DEF_DATA)
    string(APPEND text "  ${d} DATA\n")
  endforeach()
  # Rewritten only when it changes, so that nothing relinks for nothing.
  set(old "")
  if(EXISTS ${file})
    file(READ ${file} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${file} "${text}")
  endif()
endfunction()
