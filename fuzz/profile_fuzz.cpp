// libFuzzer target over the adapter-profile reader (`--profile`).  Any text
// is either read or refused with one clear error of one line; a profile that
// is read says exactly what the text said (every field given comes back with
// the same value when the profile is written out) and reads back the same.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "profile.h"

namespace {

using nlohmann::json;

[[noreturn]] void Finding(const std::string &what)
{
    std::fprintf(stderr, "finding: %s\n", what.c_str());
    std::abort();
}

void CheckRefusal(const std::string &message)
{
    if (message.empty())
        Finding("a profile was refused with an empty message");
    if (message.find('\n') != std::string::npos)
        Finding("a profile was refused with a message of more than one line: " + message);
}

// The hooks as a set: their order and repetition in the text do not count.
json Sorted(json list)
{
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    sim::Profile profile;
    try {
        profile = sim::ProfileFromJson(text);
    } catch (const std::runtime_error &e) {
        CheckRefusal(e.what());
        return 0;
    } catch (const std::exception &e) {
        Finding(std::string("the profile reader threw something other than its error: ") + e.what());
    }

    const std::string written = sim::ProfileToJson(profile);
    const json given = json::parse(text);
    const json read = json::parse(written);
    for (auto it = given.begin(); it != given.end(); ++it) {
        const json &back = read.at(it.key());
        // Compared as written: json's == takes 18446744073709551615 for -1.
        const bool same = it.key() == "hooks" ? Sorted(*it).dump() == Sorted(back).dump() : it->dump() == back.dump();
        if (!same)
            Finding("profile field '" + it.key() + "' was given as " + it->dump() + " but read as " + back.dump());
    }
    try {
        if (sim::ProfileToJson(sim::ProfileFromJson(written)) != written)
            Finding("a profile written out does not read back the same:\n" + written);
    } catch (const std::exception &e) {
        Finding(std::string("a profile written out does not read back: ") + e.what() + "\n" + written);
    }
    return 0;
}
