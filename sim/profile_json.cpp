// Profiles to and from JSON.  Every field is optional; an unknown field, a
// value of the wrong type or range, or an inconsistent combination is an
// error that names the field.
#include <nlohmann/json.hpp>

#include <stdexcept>

#include "profile.h"

namespace sim {

using nlohmann::json;

namespace {

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

uint64_t Unsigned(const json &j, const std::string &field, uint64_t max)
{
    if (!j.is_number_integer() || (j.is_number_integer() && !j.is_number_unsigned() && j.get<int64_t>() < 0))
        Bad(field, "expected a whole number from 0 to " + std::to_string(max));
    const uint64_t v = j.get<uint64_t>();
    if (v > max)
        Bad(field, "expected a whole number from 0 to " + std::to_string(max));
    return v;
}

std::vector<uint16_t> List16(const json &j, const std::string &field, uint64_t max)
{
    if (!j.is_array())
        Bad(field, "expected a list of whole numbers");
    std::vector<uint16_t> out;
    for (size_t i = 0; i < j.size(); ++i)
        out.push_back(static_cast<uint16_t>(Unsigned(j[i], field + "[" + std::to_string(i) + "]", max)));
    return out;
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
    } catch (const json::exception &e) {  // a syntax error, or a number too large for 64 bits
        throw std::runtime_error(std::string("profile is not valid JSON: ") + e.what());
    }
    if (!j.is_object())
        throw std::runtime_error("profile must be a JSON object");

    Profile p;
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
            p.depths = List16(v, k, 32);
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
        } else if (k == "monitorMaxRefresh") {
            p.monitorMaxRefresh = static_cast<uint32_t>(Unsigned(v, k, 255));
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
            if (!v.is_number_integer() || (v.is_number_unsigned() && v.get<uint64_t>() > INT32_MAX) ||
                v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX)
                Bad(k, "expected a signed 32-bit whole number");
            p.passThroughResult = static_cast<int32_t>(v.get<int64_t>());
        } else if (k == "tvControlResult") {
            p.tvControlResult = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "functionResult") {
            p.functionResult = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else if (k == "freeFramebufferBytes") {
            p.freeFramebufferBytes = static_cast<uint32_t>(Unsigned(v, k, u32));
        } else {
            Bad(k, "unknown field");
        }
    }

    for (uint16_t d : p.depths)
        if (d != 8 && d != 16 && d != 24 && d != 32)
            Bad("depths", "a depth is 8, 16, 24 or 32, not " + std::to_string(d));
    if (p.tvAttributes != 0 && (p.tvMaxWidth == 0 || p.tvMaxHeight == 0))
        Bad("tvAttributes", "needs tvMaxWidth and tvMaxHeight");
    if (p.videoMemoryBytes != 0 && p.freeFramebufferBytes > p.videoMemoryBytes)
        Bad("freeFramebufferBytes", "exceeds videoMemoryBytes");
    return p;
}

std::string ProfileToJson(const Profile &p)
{
    json hooks = json::array();
    for (int h = 0; h < kHookCount - 1; ++h)
        if (p.hooks & HookBit(static_cast<Hook>(h)))
            hooks.push_back(HookName(static_cast<Hook>(h)));
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
        {"monitorMaxRefresh", p.monitorMaxRefresh},
        {"monitorMaxLineRate", p.monitorMaxLineRate},
        {"defaultRefresh", p.defaultRefresh},
        {"attributes", p.attributes},
        {"tvAttributes", p.tvAttributes},
        {"tvMaxWidth", p.tvMaxWidth},
        {"tvMaxHeight", p.tvMaxHeight},
        {"passThroughResult", p.passThroughResult},
        {"tvControlResult", p.tvControlResult},
        {"functionResult", p.functionResult},
        {"freeFramebufferBytes", p.freeFramebufferBytes},
    };
    return j.dump(2);
}

} // namespace sim
