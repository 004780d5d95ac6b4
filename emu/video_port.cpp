#include "video_port.h"

#include "linker.h"
#include "pe_image.h"
#include "video_port_layout.h"

namespace emu {

VideoPort::Range VideoPort::RangeOf(const sim::Profile &adapter, uint64_t physical, uint32_t bytes)
{
    const uint64_t end = physical + bytes;
    if (physical >= adapter.framebufferBase && end <= adapter.framebufferBase + sim::FramebufferBytes(adapter))
        return Range::Framebuffer;
    if (physical >= adapter.registersBase && end <= adapter.registersBase + adapter.registersBytes)
        return Range::Registers;
    return Range::None;
}

uint32_t VideoPort::VirtualAddress(const sim::Profile &adapter, Range range, uint64_t physical)
{
    return range == Range::Framebuffer ? kFramebufferVa + static_cast<uint32_t>(physical - adapter.framebufferBase)
                                       : kRegistersVa + static_cast<uint32_t>(physical - adapter.registersBase);
}

uint32_t VideoPort::readPort(uint32_t port, uint32_t bytes) const
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < bytes; ++i) {
        const auto p = ports_.find(port + i);
        value |= uint32_t{p != ports_.end() ? p->second : uint8_t{0xFF}} << (8 * i);
    }
    return value;
}

void VideoPort::writePort(uint32_t port, uint32_t bytes, uint32_t value)
{
    for (uint32_t i = 0; i < bytes; ++i)
        ports_[port + i] = static_cast<uint8_t>(value >> (8 * i));
}

namespace {

// Registry value names compare without regard to case, as the registry does.
std::string Folded(std::string name)
{
    for (char &c : name)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return name;
}

} // namespace

void VideoPort::setRegistry(sim::RegistryValue value) { stored_[Folded(value.name)] = std::move(value); }

const sim::RegistryValue *VideoPort::registry(const sim::Profile &adapter, const std::string &name) const
{
    if (const auto v = stored_.find(Folded(name)); v != stored_.end())
        return &v->second;
    for (const sim::RegistryValue &v : adapter.registry)
        if (Folded(v.name) == Folded(name))
            return &v;
    return nullptr;
}

void VideoPort::forgetMiniport()
{
    miniport.reset();
    refusal.clear();
    deviceExtension = 0;
    handed.clear();
    ports_.clear();
    stored_.clear();
}

const VideoPort::Buffer *VideoPort::bufferBefore(uint32_t address) const
{
    for (const Buffer &b : handed) {
        const uint64_t end = uint64_t{b.address} + b.bytes;
        if (address >= end && address < RoundUp(static_cast<uint32_t>(end), kPage) + kPage)
            return &b;
    }
    return nullptr;
}

std::string IoctlName(uint32_t ioctl)
{
    switch (ioctl) {
    case vp::kQueryAvailModes: return "IOCTL_VIDEO_QUERY_AVAIL_MODES";
    case vp::kQueryNumAvailModes: return "IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES";
    case vp::kQueryCurrentMode: return "IOCTL_VIDEO_QUERY_CURRENT_MODE";
    case vp::kSetCurrentMode: return "IOCTL_VIDEO_SET_CURRENT_MODE";
    case vp::kResetDevice: return "IOCTL_VIDEO_RESET_DEVICE";
    case vp::kMapVideoMemory: return "IOCTL_VIDEO_MAP_VIDEO_MEMORY";
    case vp::kUnmapVideoMemory: return "IOCTL_VIDEO_UNMAP_VIDEO_MEMORY";
    default: return "IOCTL " + pe::Hex(ioctl);
    }
}

std::string VpStatusName(uint32_t status)
{
    const char *name = nullptr;
    switch (status) {
    case vp::kNoError: name = "NO_ERROR"; break;
    case vp::kErrorInvalidFunction: name = "ERROR_INVALID_FUNCTION"; break;
    case vp::kErrorNotEnoughMemory: name = "ERROR_NOT_ENOUGH_MEMORY"; break;
    case vp::kErrorInvalidParameter: name = "ERROR_INVALID_PARAMETER"; break;
    case vp::kErrorInsufficientBuffer: name = "ERROR_INSUFFICIENT_BUFFER"; break;
    case vp::kErrorMoreData: name = "ERROR_MORE_DATA"; break;
    case vp::kErrorDevNotExist: name = "ERROR_DEV_NOT_EXIST"; break;
    default: return pe::Hex(status);
    }
    return std::string(name) + " (" + std::to_string(status) + ")";
}

} // namespace emu
