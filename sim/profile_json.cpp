// Profiles to and from JSON.  Every field is optional; an unknown field, a
// value of the wrong type or range, or an inconsistent combination is an
// error that names the field.
#include <nlohmann/json.hpp>

#include <stdexcept>

#include "profile.h"

namespace sim {

using nlohmann::json;

uint32_t FramebufferBytes(const Profile &p)
{
    return static_cast<uint32_t>(p.videoMemoryBytes != 0 && p.videoMemoryBytes < kLargestFramebuffer ? p.videoMemoryBytes
                                 : p.videoMemoryBytes != 0                                          ? kLargestFramebuffer
                                                                                                    : 16u << 20);
}

namespace {

// Physical addresses the simulated bus has: 36 bits, as with PAE.
constexpr uint64_t kLargestPhysical = (1ull << 36) - 1;

// The message is one line even for a field name that holds control
// characters (an unknown field is named as the file spells it).
[[noreturn]] void Bad(const std::string &field, const std::string &why)
{
    std::string name;
    for (unsigned char c : field) {
        if (c < 0x20 || c == 0x7F) {
            static const char digits[] = "0123456789abcdef";
            name += "\\x";
            name += digits[c >> 4];
            name += digits[c & 15];
        } else {
            name += static_cast<char>(c);
        }
    }
    throw std::runtime_error("profile field '" + name + "': " + why);
}

// Whole numbers only: 1.0, "1" and true are refused, as is anything outside
// [0, max] (a huge unsigned number does not wrap to a negative one).
uint64_t Unsigned(const json &j, const std::string &field, uint64_t max)
{
    const std::string range = "expected a whole number from 0 to " + std::to_string(max);
    if (!j.is_number_integer())
        Bad(field, range);
    if (!j.is_number_unsigned() && j.get<int64_t>() < 0)
        Bad(field, range + ", not " + j.dump());
    const uint64_t v = j.get<uint64_t>();
    if (v > max)
        Bad(field, range + ", not " + j.dump());
    return v;
}

int64_t Signed(const json &j, const std::string &field, int64_t min, int64_t max)
{
    const std::string range = "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max);
    if (!j.is_number_integer())
        Bad(field, range);
    if (j.is_number_unsigned() ? j.get<uint64_t>() > uint64_t(max) : (j.get<int64_t>() < min || j.get<int64_t>() > max))
        Bad(field, range + ", not " + j.dump());
    return j.get<int64_t>();
}

// A list, read element by element: `read` takes an element and the name it
// has in a message ("field[i]").  `expected` says what a non-list should have
// been.
template <typename Read>
auto ListOf(const json &j, const std::string &field, const std::string &expected, Read read)
{
    if (!j.is_array())
        Bad(field, expected);
    std::vector<decltype(read(j, field))> out;
    for (size_t i = 0; i < j.size(); ++i)
        out.push_back(read(j[i], field + "[" + std::to_string(i) + "]"));
    return out;
}

std::vector<uint16_t> List16(const json &j, const std::string &field, uint64_t max)
{
    return ListOf(j, field, "expected a list of whole numbers", [max](const json &e, const std::string &name) {
        return static_cast<uint16_t>(Unsigned(e, name, max));
    });
}

std::vector<uint16_t> Depths(const json &j)
{
    return ListOf(j, "depths", "expected a list of depths (8, 16, 24, 32)",
                  [](const json &d, const std::string &name) {
                      if (!d.is_number_integer() || (d != 8 && d != 16 && d != 24 && d != 32))
                          Bad(name, "a depth is 8, 16, 24 or 32, not " + d.dump());
                      return d.get<uint16_t>();
                  });
}

std::vector<text::MonitorMode> MonitorModes(const json &j)
{
    return ListOf(j, "monitorModes", "expected a list of \"WIDTHxHEIGHT@HZ\" strings",
                  [](const json &e, const std::string &name) {
                      if (!e.is_string())
                          Bad(name, "expected a \"WIDTHxHEIGHT@HZ\" string");
                      try {
                          return text::ParseMonitorMode(e.get<std::string>());
                      } catch (const text::BadText &x) {
                          Bad(name, x.what());
                      }
                  });
}

// Where a parse error lies, as line and column (both from 1).
std::string Position(const std::string &text, size_t byte)
{
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::vector<RegistryValue> Registry(const json &j)
{
    if (!j.is_object())
        Bad("registry", "expected an object of value names, each a whole number (REG_DWORD) or a string (REG_SZ)");
    std::vector<RegistryValue> values;
    for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string field = "registry." + it.key();
        if (it.key().empty() || it.key().size() > 255)
            Bad(field, "a value name is 1 to 255 characters");
        RegistryValue v{it.key(), std::nullopt, {}};
        if (it.value().is_string())
            v.text = it.value().get<std::string>();
        else
            v.number = static_cast<uint32_t>(Unsigned(it.value(), field, 0xFFFFFFFFu));
        values.push_back(v);
    }
    return values;
}

uint8_t HookMask(const json &j)
{
    if (!j.is_array())
        Bad("hooks", "expected a list of hook names");
    uint8_t mask = 0;
    for (const json &name : j) {
        bool known = false;
        for (int h = 0; h < kHookCount - 1; ++h) {
            if (name.is_string() && name.get<std::string>() == HookName(static_cast<Hook>(h))) {
                mask |= HookBit(static_cast<Hook>(h));
                known = true;
            }
        }
        if (!known)
            Bad("hooks", "unknown hook " + name.dump() + " (pfnInit ... pfnSetInitialValue)");
    }
    return mask;
}

} // namespace

Profile ProfileFromJson(const std::string &text)
{
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error &e) {
        throw std::runtime_error("not valid JSON: " +
                                 (e.byte > text.size() ? std::string("it ends too early") : "syntax error at " + Position(text, e.byte)));
    } catch (const json::out_of_range &) {  // the only one parse throws: a number too large for 64 bits
        throw std::runtime_error("not valid JSON: a number too large for 64 bits");
    }
    if (!j.is_object())
        throw std::runtime_error("a profile is a JSON object ({ ... }), not " + std::string(j.type_name()));

    // A profile read from a file is named and described by its own fields
    // only; without them it has neither.
    Profile p;
    p.name.clear();
    p.description.clear();
    const uint64_t u32 = 0xFFFFFFFFu;
    for (auto it = j.begin(); it != j.end(); ++it) {
        const std::string &k = it.key();
        const json &v = it.value();
        if (k == "name" || k == "description") {
            if (!v.is_string())
                Bad(k, "expected a string");
            (k == "name" ? p.name : p.description) = v.get<std::string>();
        } else if (k == "initSucceeds") {
            if (!v.is_boolean())
                Bad(k, "expected true or false");
            p.initSucceeds = v.get<bool>();
        } else if (k == "hooks") {
            p.hooks = HookMask(v);
        } else if (k == "depths") {
            p.depths = Depths(v);
        } else if (k == "rates") {
            p.rates = List16(v, k, 255);
        } else if (k == "maxWidth") {
            p.maxWidth = static_cast<uint32_t>(Unsigned(v, k, 65535));
        } else if (k == "maxHeight") {
            p.maxHeight = static_cast<uint32_t>(Unsigned(v, k, 65535));
        } else if (k == "videoMemoryBytes") {
            p.videoMemoryBytes = Unsigned(v, k, u32);
        } else if (k == "maxPixelRate") {
            p.maxPixelRate = Unsigned(v, k, UINT64_MAX);
        } else if (k == "monitorMinRefresh") {
            p.monitorMinRefresh = static_cast<uint32_t>(Unsigned(v, k, 65535));
        } else if (k == "monitorMaxPixelRate") {
            p.monitorMaxPixelRate = Unsigned(v, k, UINT64_MAX);
        } else if (k == "monitorModes") {
            p.monitorModes = MonitorModes(v);
        } else if (k == "edid") {
            if (!v.is_string() || v.get<std::string>().empty())
                Bad(k, "expected the path of an EDID file");
            p.edid = v.get<std::string>();
        } else if (k == "monitorMaxRefresh") {
            p.monitorMaxRefresh = static_cast<uint32_t>(Unsigned(v, k, 65535));
        } else if (k == "monitorMaxLineRate") {
            p.monitorMaxLineRate = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "defaultRefresh") {
            p.defaultRefresh = static_cast<uint16_t>(Unsigned(v, k, 255));
        } else if (k == "attributes") {
            p.attributes = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "tvAttributes") {
            p.tvAttributes = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "tvMaxWidth") {
            p.tvMaxWidth = static_cast<uint32_t>(Unsigned(v, k, 65535));
        } else if (k == "tvMaxHeight") {
            p.tvMaxHeight = static_cast<uint32_t>(Unsigned(v, k, 65535));
        } else if (k == "passThroughResult") {
            p.passThroughResult = static_cast<int32_t>(Signed(v, k, INT32_MIN, INT32_MAX));
        } else if (k == "tvControlResult") {
            p.tvControlResult = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "functionResult") {
            p.functionResult = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "freeFramebufferBytes") {
            p.freeFramebufferBytes = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "busNumber") {
            p.busNumber = static_cast<uint32_t>(Unsigned(v, k, 255));
        } else if (k == "framebufferBase") {
            p.framebufferBase = Unsigned(v, k, kLargestPhysical);
        } else if (k == "registersBase") {
            p.registersBase = Unsigned(v, k, kLargestPhysical);
        } else if (k == "registersBytes") {
            p.registersBytes = static_cast<uint32_t>(Unsigned(v, k, kLargestRegisterRange));
        } else if (k == "ioPortBase") {
            p.ioPortBase = static_cast<uint32_t>(Unsigned(v, k, 0xFFFF));
        } else if (k == "ioPortCount") {
            p.ioPortCount = static_cast<uint32_t>(Unsigned(v, k, 0x10000));
        } else if (k == "registry") {
            p.registry = Registry(v);
        } else {
            Bad(k, "unknown field");
        }
    }

    if (!p.edid.empty() && (p.monitorMinRefresh || p.monitorMaxRefresh || p.monitorMaxLineRate ||
                            p.monitorMaxPixelRate || !p.monitorModes.empty()))
        Bad("edid", "the EDID describes the monitor; leave out the monitor... fields");
    if (p.monitorMinRefresh && p.monitorMaxRefresh && p.monitorMinRefresh > p.monitorMaxRefresh)
        Bad("monitorMinRefresh", "exceeds monitorMaxRefresh");
    if (p.tvAttributes != 0 && (p.tvMaxWidth == 0 || p.tvMaxHeight == 0))
        Bad("tvAttributes", "needs tvMaxWidth and tvMaxHeight");
    if (p.videoMemoryBytes != 0 && p.freeFramebufferBytes > p.videoMemoryBytes)
        Bad("freeFramebufferBytes", "exceeds videoMemoryBytes");
    if (p.registersBytes == 0)
        Bad("registersBytes", "the register range has at least 1 byte");
    if (p.ioPortBase + uint64_t{p.ioPortCount} > 0x10000)
        Bad("ioPortCount", "the ports end past 0xFFFF");
    const uint64_t fbEnd = p.framebufferBase + FramebufferBytes(p), regEnd = p.registersBase + p.registersBytes;
    if (fbEnd > kLargestPhysical + 1 || regEnd > kLargestPhysical + 1)
        Bad(fbEnd > kLargestPhysical + 1 ? "framebufferBase" : "registersBase", "the range ends past 2^36");
    if (p.registersBase < fbEnd && p.framebufferBase < regEnd)
        Bad("registersBase", "the register range overlaps the frame buffer (framebufferBase, videoMemoryBytes)");
    return p;
}

std::string ProfileToJson(const Profile &p)
{
    json hooks = json::array();
    for (int h = 0; h < kHookCount - 1; ++h)
        if (p.hooks & HookBit(static_cast<Hook>(h)))
            hooks.push_back(HookName(static_cast<Hook>(h)));
    json modes = json::array();
    for (const text::MonitorMode &m : p.monitorModes)
        modes.push_back(text::ToText(m));
    json j = {
        {"name", p.name},
        {"description", p.description},
        {"initSucceeds", p.initSucceeds},
        {"hooks", hooks},
        {"depths", p.depths},
        {"rates", p.rates},
        {"maxWidth", p.maxWidth},
        {"maxHeight", p.maxHeight},
        {"videoMemoryBytes", p.videoMemoryBytes},
        {"maxPixelRate", p.maxPixelRate},
        {"monitorMinRefresh", p.monitorMinRefresh},
        {"monitorMaxRefresh", p.monitorMaxRefresh},
        {"monitorMaxLineRate", p.monitorMaxLineRate},
        {"monitorMaxPixelRate", p.monitorMaxPixelRate},
        {"monitorModes", modes},
        {"defaultRefresh", p.defaultRefresh},
        {"attributes", p.attributes},
        {"tvAttributes", p.tvAttributes},
        {"tvMaxWidth", p.tvMaxWidth},
        {"tvMaxHeight", p.tvMaxHeight},
        {"passThroughResult", p.passThroughResult},
        {"tvControlResult", p.tvControlResult},
        {"functionResult", p.functionResult},
        {"freeFramebufferBytes", p.freeFramebufferBytes},
        {"busNumber", p.busNumber},
        {"framebufferBase", p.framebufferBase},
        {"registersBase", p.registersBase},
        {"registersBytes", p.registersBytes},
        {"ioPortBase", p.ioPortBase},
        {"ioPortCount", p.ioPortCount},
    };
    json registry = json::object();
    for (const RegistryValue &v : p.registry)
        registry[v.name] = v.number ? json(*v.number) : json(v.text);
    j["registry"] = registry;
    if (!p.edid.empty())
        j["edid"] = p.edid;
    return j.dump(2);
}

} // namespace sim
