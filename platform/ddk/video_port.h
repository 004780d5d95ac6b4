// video_port.h - the one video-port call the module makes.  video.h cannot be
// included next to ntddk.h, so it is declared here exactly as video.h declares
// it; video_port_check.cpp compiles this declaration against video.h.
#ifndef ZERVAL_VIDEO_PORT_H
#define ZERVAL_VIDEO_PORT_H

extern "C" {
__declspec(dllimport) VOID NTAPI VideoPortZeroMemory(PVOID Destination, ULONG Length);
}

#endif // ZERVAL_VIDEO_PORT_H
