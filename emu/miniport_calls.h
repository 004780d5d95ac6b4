// The video port's calls into the miniport a display driver registered with
// VideoPortInitialize, as the port makes them once the adapter is there:
// HwVidFindAdapter with the adapter's VIDEO_PORT_CONFIG_INFO, HwVidInitialize,
// then each request of the display driver through HwVidStartIO, every one at
// PASSIVE_LEVEL.  The device extension and every record and buffer the port
// hands over lie in non-paged special pool, each buffer ending against an
// unmapped page to the byte.  A rule of the port the miniport breaks - a
// write past a buffer, an Information larger than the output buffer, a
// request answered FALSE - is a Fault that names the miniport.
#ifndef ZERVAL_EMU_MINIPORT_CALLS_H
#define ZERVAL_EMU_MINIPORT_CALLS_H

#include <cstdint>
#include <vector>

#include "machine.h"

namespace emu {

// HwVidFindAdapter(HwDeviceExtension, HwContext, ArgumentString, ConfigInfo,
// &Again): its VP_STATUS.  The device extension is made here, zeroed.
uint32_t FindAdapter(Machine &m);
// HwVidInitialize(HwDeviceExtension): its BOOLEAN.
bool InitializeAdapter(Machine &m);

// What HwVidStartIO answered a request.
struct RequestAnswer {
    uint32_t status = 0;       // the status block's Status (a VP_STATUS)
    uint32_t information = 0;  // and its Information: the bytes of output
    std::vector<uint8_t> output;  // the output buffer, Information bytes of it
};
RequestAnswer SendRequest(Machine &m, uint32_t ioctl, const std::vector<uint8_t> &input, uint32_t outputBytes);

} // namespace emu

#endif
