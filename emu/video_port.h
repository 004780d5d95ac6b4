// The simulated video port's books about one miniport: what it registered
// through VideoPortInitialize, and what it has mapped, written to ports and
// stored under its registry key since.  The adapter it presents (bus, frame
// buffer, registers, ports, registry values) is the adapter profile's.  The routines a miniport calls are served.cpp's kind of
// table (served_video_port.cpp); the port's calls into the miniport are
// miniport_calls.h.
#ifndef ZERVAL_EMU_VIDEO_PORT_H
#define ZERVAL_EMU_VIDEO_PORT_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "profile.h"

namespace emu {

// What a miniport's VideoPortInitialize handed over: the fields of its
// VIDEO_HW_INITIALIZATION_DATA that the port uses, and its HwContext.
struct Miniport {
    std::string image;  // its module name
    uint32_t initDataSize = 0;
    uint32_t findAdapter = 0;
    uint32_t initialize = 0;
    uint32_t startIo = 0;
    uint32_t deviceExtensionSize = 0;
    uint32_t hwContext = 0;
};

class VideoPort {
public:
    // Where the simulated devices appear in the guest: the frame buffer and
    // the register range (at most sim::kLargestFramebuffer and
    // sim::kLargestRegisterRange), each mapped once, when a miniport first asks.
    static constexpr uint32_t kFramebufferVa = 0xC0000000u;
    static constexpr uint32_t kRegistersVa = 0xBFF00000u;

    // The miniport VideoPortInitialize accepted, if any; the one line on why
    // it refused the last record it was handed, if it did.
    std::optional<Miniport> miniport;
    std::string refusal;
    uint32_t deviceExtension = 0;  // once HwVidFindAdapter is called

    // The range of the adapter that [physical, physical + bytes) lies in: the
    // frame buffer, the registers, or none; and where it lies in the guest.
    enum class Range { None, Framebuffer, Registers };
    static Range RangeOf(const sim::Profile &adapter, uint64_t physical, uint32_t bytes);
    static uint32_t VirtualAddress(const sim::Profile &adapter, Range range, uint64_t physical);
    static bool IoPorts(const sim::Profile &adapter, uint32_t port, uint32_t bytes)
    {
        return port >= adapter.ioPortBase && uint64_t{port} + bytes <= uint64_t{adapter.ioPortBase} + adapter.ioPortCount;
    }
    bool mapped(Range range) const { return range == Range::Framebuffer ? framebufferMapped_ : registersMapped_; }
    void setMapped(Range range) { (range == Range::Framebuffer ? framebufferMapped_ : registersMapped_) = true; }

    // The I/O ports as the miniport left them: a read answers what was last
    // written there, 0xFF for a port never written.
    uint32_t readPort(uint32_t port, uint32_t bytes) const;
    void writePort(uint32_t port, uint32_t bytes, uint32_t value);

    // A value under the adapter's key, its name in any case: the last one the
    // miniport stored with VideoPortSetRegistryParameters, else the profile's.
    void setRegistry(sim::RegistryValue value);
    const sim::RegistryValue *registry(const sim::Profile &adapter, const std::string &name) const;

    // What the port has handed the miniport and not yet taken back (a
    // request's buffers, the VIDEO_PORT_CONFIG_INFO, a registry value), for
    // a read or write past one to be named: "the 8-byte output buffer of
    // IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES".
    struct Buffer {
        uint32_t address = 0;
        uint32_t bytes = 0;
        std::string what;
    };
    std::vector<Buffer> handed;
    // The buffer whose guard page an address lies in (the page after its end).
    const Buffer *bufferBefore(uint32_t address) const;
    // Back to no miniport: what it registered, stored and was handed goes;
    // the adapter's ranges stay mapped where they are.
    void forgetMiniport();

private:
    bool framebufferMapped_ = false;
    bool registersMapped_ = false;
    std::map<uint32_t, uint8_t> ports_;
    std::map<std::string, sim::RegistryValue> stored_;
};

// The name of a request the video port sends ("IOCTL_VIDEO_QUERY_AVAIL_MODES"),
// or its code in hex.
std::string IoctlName(uint32_t ioctl);
// The name of a VP_STATUS ("NO_ERROR", "ERROR_INVALID_PARAMETER"), with its value.
std::string VpStatusName(uint32_t status);

} // namespace emu

#endif
