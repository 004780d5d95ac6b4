# The image's interface at the link: what zerval.sys exports and what it
# imports from its two sibling drivers, listed once.  The module-definition
# files each toolchain reads are written from these lists, in its own syntax.
#
# Functions are stdcall and named with their argument bytes (lDllAttach@20):
# in the object files and in the export and import tables they carry a
# leading underscore as well (_lDllAttach@20).  Data keeps its plain name.
set(ZERVAL_EXPORTED_FUNCTIONS
  lDllAttach@20 vValidateMode@8 SetMode@8
  Orvalen_Function@4 MeltoBiosDll@12 GetFreeFramebufferSize@0 BiosDllSetInitialValue@0)
set(ZERVAL_EXPORTED_DATA
  modetable modeTableSize frequencytable freqTableSize
  NumModesFromBIOSDLL ORVX_NUM_MODES pModeInfoFromBIOSDLL)
set(ZERVAL_KELV_FUNCTIONS Attach@16)
set(ZERVAL_RMX_FUNCTIONS AttachRMX@8 S_RMX_Control@12)

# zerval_write_def(FILE LIBRARY STYLE FUNCTIONS... [DATA ...])
#   STYLE gnu-export: for ld, exporting each function under its decorated
#                     name (_f@n = f@n);
#   STYLE gnu-import: for dlltool, an import library binding each symbol to
#                     the decorated name in the export table (f@n == _f@n);
#   STYLE msvc:       for lld-link and link.exe, both the exports and the
#                     import library (_f@n).
function(zerval_write_def file library style)
  cmake_parse_arguments(PARSE_ARGV 3 DEF "" "" "FUNCTIONS;DATA")
  set(text "; Written by the build from image/Interface.cmake.\nLIBRARY ${library}\nEXPORTS\n")
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
