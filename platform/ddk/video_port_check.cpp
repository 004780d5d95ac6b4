// Compiled in the image build only: a redeclaration that differs from video.h
// in result, arguments, calling convention or linkage fails to compile here.
#include <ntdef.h>
#include <miniport.h>
#include <video.h>

#include "video_port.h"
