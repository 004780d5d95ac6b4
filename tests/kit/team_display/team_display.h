// What the team's display driver's two files share: its mode records, kept
// in the kernel's pool (pool.c, which includes ntddk.h) and handed to the
// video port (display.c, which includes the miniport headers).
#ifndef TEAM_DISPLAY_H
#define TEAM_DISPLAY_H

VIDEO_MODE_INFORMATION *TeamAllocateModes(ULONG count);
void TeamFreeModes(VIDEO_MODE_INFORMATION *modes);

#endif
