# The image's interface at the link: what zerval.sys exports and what it
# imports from its two sibling drivers, listed once.  The module-definition
# files each toolchain reads are written from these lists, in its own syntax.
# Functions are named with their argument bytes (lDllAttach@20), data by
# plain names (zerval-def.cmake says how each is spelled where).
set(ZERVAL_EXPORTED_FUNCTIONS
  lDllAttach@20 vValidateMode@8 SetMode@8
  Orvalen_Function@4 MeltoBiosDll@12 GetFreeFramebufferSize@0 BiosDllSetInitialValue@0)
set(ZERVAL_EXPORTED_DATA
  modetable modeTableSize frequencytable freqTableSize
  NumModesFromBIOSDLL ORVX_NUM_MODES pModeInfoFromBIOSDLL)
set(ZERVAL_KELV_FUNCTIONS Attach@16)
set(ZERVAL_RMX_FUNCTIONS AttachRMX@8 S_RMX_Control@12)

# The writer of module-definition files, which the kit ships too.
include(${CMAKE_CURRENT_LIST_DIR}/zerval-def.cmake)
