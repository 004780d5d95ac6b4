// A profile: what the simulated adapter and its monitor can do, and how the
// services and TV drivers answer.  Profiles are data (JSON files); the
// defaults of every field describe an adapter that accepts everything.
#ifndef ZERVAL_SIM_PROFILE_H
#define ZERVAL_SIM_PROFILE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mode_text.h"
#include "query.h"

namespace sim {

constexpr uint8_t HookBit(Hook hook) { return static_cast<uint8_t>(1u << static_cast<int>(hook)); }
// The hooks a services driver fills (pfnTvControl is the module's own).
constexpr uint8_t kAllServiceHooks = 0x7F;

// A value under the adapter's registry key: a REG_DWORD, or a REG_SZ.
struct RegistryValue {
    std::string name;
    std::optional<uint32_t> number;
    std::string text;
};

struct Profile {
    std::string name = "accept-all";
    std::string description = "accepts every mode at every rate under both probes";

    // Services driver.
    bool initSucceeds = true;
    uint8_t hooks = kAllServiceHooks;  // which hooks Attach fills

    // The controller: limits every query.  An empty list or 0 is no limit.
    std::vector<uint16_t> depths;
    uint32_t maxWidth = 0;
    uint32_t maxHeight = 0;
    uint64_t videoMemoryBytes = 0;
    uint64_t maxPixelRate = 0;  // pixels per second
    std::vector<uint16_t> rates;  // rates the controller can generate

    // The monitor: limits what is usable (every query without the enumerate
    // flag, 2).  0 or an empty list is no limit.  Lines and pixels are the
    // visible ones (the model has no blanking).
    uint32_t monitorMinRefresh = 0;
    uint32_t monitorMaxRefresh = 0;
    uint32_t monitorMaxLineRate = 0;     // lines per second
    uint64_t monitorMaxPixelRate = 0;    // pixels per second
    std::vector<text::MonitorMode> monitorModes;  // when listed, only these
    // The EDID file the monitor fields are taken from, as the profile names
    // it (relative to the profile's folder); the tools read it.
    std::string edid;

    // Answers.
    uint16_t defaultRefresh = 60;  // for a query flagged 0x80000000
    uint32_t attributes = 0;       // Attributes of every accepted mode
    uint32_t tvAttributes = 0;     // added where the mode fits the TV encoder
    uint32_t tvMaxWidth = 0;
    uint32_t tvMaxHeight = 0;
    int32_t passThroughResult = 0;
    uint32_t tvControlResult = 1;
    uint32_t functionResult = 1;
    uint32_t freeFramebufferBytes = 0;

    // The adapter on its bus, as the video port presents it to a miniport:
    // the bus number, the frame buffer (the video memory, at
    // framebufferBase), the register range, the I/O ports, and the values
    // under its registry key.
    uint32_t busNumber = 1;
    uint64_t framebufferBase = 0xE0000000u;
    uint64_t registersBase = 0xF0000000u;
    uint32_t registersBytes = 0x10000;
    uint32_t ioPortBase = 0x3C0;
    uint32_t ioPortCount = 0x20;
    std::vector<RegistryValue> registry;
};

// The frame buffer's size: the video memory, or 16 MiB where the profile
// sets no limit; at most kLargestFramebuffer.
constexpr uint64_t kLargestFramebuffer = 256u << 20;
constexpr uint64_t kLargestRegisterRange = 1u << 20;
uint32_t FramebufferBytes(const Profile &profile);

// Whether the adapter accepts a query, and the query as it hands it back.
struct Decision {
    bool accepted = false;
    Query answer{};
};
Decision Decide(const Profile &profile, const Query &query);

// Profiles as JSON.  Throws std::runtime_error naming the offending field.
Profile ProfileFromJson(const std::string &text);
std::string ProfileToJson(const Profile &profile);
// The default profile of a plausible adapter, built into the tools.
Profile DefaultProfile();

} // namespace sim

#endif
