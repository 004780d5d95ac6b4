// zerval-sim: loads zerval.sys into the emulator, attaches it to a simulated
// adapter, and shows what a display driver would see.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "image_backend.h"
#include "profile.h"

namespace {

struct Options {
    std::string image;
    std::string profile;
    std::string backend = "image";
    bool trace = false;
    bool json = false;
    bool matrix = false;
    std::string mode;
    uint32_t flags = 0;
    uint32_t option = 0;
    std::vector<uint32_t> values;
    std::string services;  // a kelv.sys image instead of the simulated services driver
    std::string tv;        // an rmx.sys image instead of the simulated TV driver
    std::string display;   // a display-driver image whose DriverEntry attaches the module
    uint32_t attachParam = 0;
};

std::string BaseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The real images the options name, by the module names the loader binds.
std::vector<emu::Neighbour> Neighbours(const Options &o)
{
    std::vector<emu::Neighbour> out;
    auto load = [&](const std::string &module, const std::string &path) {
        try {
            out.push_back(emu::Neighbour{module, pe::Load(path)});
        } catch (const std::exception &e) {
            throw std::runtime_error(path + ": " + e.what());
        }
    };
    if (!o.services.empty())
        load("kelv.sys", o.services);
    if (!o.tv.empty())
        load("rmx.sys", o.tv);
    if (!o.display.empty())
        load(BaseName(o.display), o.display);
    return out;
}

[[noreturn]] void Die(const std::string &message)
{
    std::cerr << "zerval-sim: error: " << message << "\n";
    std::exit(1);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        Die("cannot read " + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ModeSpec {
    uint32_t width, height, bpp, rate;
};

ModeSpec ParseMode(const std::string &text)
{
    ModeSpec m{};
    char x1 = 0, x2 = 0, at = 0, extra = 0;
    std::istringstream in(text);
    if (!(in >> m.width >> x1 >> m.height >> x2 >> m.bpp >> at >> m.rate) || (x1 != 'x' && x1 != 'X') ||
        (x2 != 'x' && x2 != 'X') || at != '@' || (in >> extra))
        Die("mode '" + text + "' is not WIDTHxHEIGHTxBPP@HZ (for example 800x600x16@75)");
    return m;
}

// Prints the calls the module made since the last look.
class Tracer {
public:
    Tracer(ModuleUnderTest &m, bool on) : m_(m), on_(on) {}
    template <typename F> auto call(const std::string &what, F &&f)
    {
        if (on_)
            std::cout << "> " << what << "\n";
        auto result = f();
        if (on_) {
            const auto &calls = m_.log.calls();
            for (; seen_ < calls.size(); ++seen_)
                std::cout << "    " << sim::Describe(calls[seen_]) << "\n";
            std::cout << "< " << what << " = " << static_cast<uint64_t>(result) << "\n";
        }
        seen_ = m_.log.calls().size();
        return result;
    }

private:
    ModuleUnderTest &m_;
    bool on_;
    size_t seen_ = 0;
};

std::string Hex32(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", v);
    return buf;
}

void PrintTable(const std::vector<VIDEO_MODE_INFORMATION> &records, uint32_t count)
{
    std::printf("%5s  %-11s %5s %5s  %-6s  %s\n", "index", "resolution", "depth", "Hz", "usable", "attributes");
    for (uint32_t i = 3; i < records.size(); ++i) {
        const auto &r = records[i];
        char res[24];
        std::snprintf(res, sizeof res, "%ux%u", r.VisScreenWidth, r.VisScreenHeight);
        std::printf("%5u  %-11s %5u %5u  %-6s  %s\n", i, res, r.BitsPerPlane, r.Frequency,
                    r.Length == 80 ? "yes" : "no", Hex32(r.DriverSpecificAttributeFlags).c_str());
    }
    std::printf("%u modes published (ORVX_NUM_MODES %zu, records 0-2 left to the display driver)\n", count,
                records.size());
}

void PrintJson(const std::vector<VIDEO_MODE_INFORMATION> &records, uint32_t count, const sim::Profile &p)
{
    nlohmann::json modes = nlohmann::json::array();
    for (uint32_t i = 3; i < records.size(); ++i) {
        const auto &r = records[i];
        modes.push_back({{"index", i},
                         {"width", r.VisScreenWidth},
                         {"height", r.VisScreenHeight},
                         {"bitsPerPixel", r.BitsPerPlane},
                         {"frequency", r.Frequency},
                         {"usable", r.Length == 80},
                         {"attributes", r.DriverSpecificAttributeFlags}});
    }
    nlohmann::json out = {{"profile", p.name},
                          {"NumModesFromBIOSDLL", count},
                          {"ORVX_NUM_MODES", records.size()},
                          {"modes", modes}};
    std::cout << out.dump(2) << "\n";
}

// Per depth: resolutions down, rates across.  '#' usable, 'o' published but
// unusable, '.' not published.
void PrintMatrix(ModuleUnderTest &m, const std::vector<VIDEO_MODE_INFORMATION> &records)
{
    std::map<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>, bool> published;
    for (uint32_t i = 3; i < records.size(); ++i) {
        const auto &r = records[i];
        published[{r.BitsPerPlane, r.VisScreenWidth, r.VisScreenHeight, r.Frequency}] = r.Length == 80;
    }
    const uint32_t rateCount = std::min<uint32_t>(m.u32("freqTableSize"), 16);
    const uint32_t rowCount = std::min<uint32_t>(m.u32("modeTableSize"), 62);
    std::vector<uint32_t> rates;
    for (uint32_t i = 0; i < rateCount; ++i)
        rates.push_back(m.rate(i));
    for (uint32_t depth : {8u, 16u, 24u, 32u}) {
        std::printf("\n%u bits per pixel%*s", depth, depth < 10 ? 3 : 2, "");
        for (uint32_t rate : rates)
            std::printf("%4u", rate);
        std::printf("\n");
        for (uint32_t i = 0; i < rowCount; ++i) {
            const ModeTableEntry row = m.row(i);
            if (row.BitsPerPixel != depth)
                continue;
            char res[24];
            std::snprintf(res, sizeof res, "%ux%u", row.Width, row.Height);
            std::printf("  %-17s", res);
            for (uint32_t rate : rates) {
                const auto it = published.find({depth, row.Width, row.Height, rate});
                std::printf("%4s", it == published.end() ? "." : it->second ? "#" : "o");
            }
            std::printf("\n");
        }
    }
    std::printf("\n# usable   o published, not usable   . not published\n");
}

const VIDEO_MODE_INFORMATION &FindMode(const std::vector<VIDEO_MODE_INFORMATION> &records, const ModeSpec &s,
                                       const std::string &text)
{
    for (uint32_t i = 3; i < records.size(); ++i) {
        const auto &r = records[i];
        if (r.VisScreenWidth == s.width && r.VisScreenHeight == s.height && r.BitsPerPlane == s.bpp &&
            r.Frequency == s.rate)
            return r;
    }
    Die("mode " + text + " is not in the published list (see the list for what the adapter offers)");
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    CLI::App app{"Runs zerval.sys against a simulated adapter and shows what a display driver sees."};
    app.fallthrough();
    app.add_option("--image", o.image, "driver image to load (default: the one the build made)");
    app.add_option("--profile", o.profile, "adapter profile, JSON (default: the built-in default profile)");
    app.add_option("--backend", o.backend, "image: the emulated zerval.sys; host: the host build")
        ->check(CLI::IsMember({"image", "host"}));
    app.add_flag("--trace", o.trace, "print every call across the module's boundary, in order");
    app.add_option("--services", o.services, "a kelv.sys image to run as the services driver (instead of the simulated one)");
    app.add_option("--tv", o.tv, "an rmx.sys image to run as the TV driver (instead of the simulated one)");
    app.add_option("--display", o.display, "a display-driver image: its DriverEntry attaches the module (instead of lDllAttach(0, 0, 0, 0))");
    app.add_option("--attach-param", o.attachParam, "AttachParam handed through lDllAttach to the services driver");
    auto *list = app.add_subcommand("list", "the published mode list (the default)");
    list->add_flag("--json", o.json, "as JSON");
    list->add_flag("--matrix", o.matrix, "per depth: resolutions down, rates across");
    auto *validate = app.add_subcommand("validate", "vValidateMode on a published mode");
    validate->add_option("mode", o.mode, "WIDTHxHEIGHTxBPP@HZ")->required();
    validate->add_option("--flags", o.flags, "Flags handed to the services driver");
    auto *set = app.add_subcommand("set", "SetMode on a published mode");
    set->add_option("mode", o.mode, "WIDTHxHEIGHTxBPP@HZ")->required();
    set->add_option("--option", o.option, "the option byte");
    auto *function = app.add_subcommand("function", "Orvalen_Function VALUE");
    function->add_option("value", o.values, "32-bit value")->expected(1)->required();
    auto *melto = app.add_subcommand("passthrough", "MeltoBiosDll A B C");
    melto->add_option("values", o.values, "three 32-bit values")->expected(3)->required();
    auto *freeFb = app.add_subcommand("free-framebuffer", "GetFreeFramebufferSize");
    auto *initial = app.add_subcommand("initial-value", "BiosDllSetInitialValue");
    auto *profileCmd = app.add_subcommand("profile", "print the adapter profile in use, as JSON");
    app.require_subcommand(0, 1);
    CLI11_PARSE(app, argc, argv);

    try {
        sim::Profile profile = o.profile.empty() ? sim::DefaultProfile() : sim::ProfileFromJson(ReadFile(o.profile));
        if (*profileCmd) {
            std::cout << sim::ProfileToJson(profile) << "\n";
            return 0;
        }

        // The machine keeps a reference to the image: it must outlive the module.
        const pe::Image image = o.backend == "host" ? pe::Image{} : o.image.empty() ? DefaultImage() : pe::Load(o.image);
        std::vector<emu::Neighbour> neighbours = Neighbours(o);
        if (o.backend == "host" && !neighbours.empty())
            Die("--services, --tv and --display run images: they need --backend image");
        std::unique_ptr<ModuleUnderTest> m =
            o.backend == "host" ? MakeModule(Backend::Host) : MakeImageModule(image, std::move(neighbours));
        m->adapter.profile = profile;
        Tracer t(*m, o.trace);

        t.call("DriverEntry(NULL, NULL)", [&] { return m->DriverEntry(); });
        uint8_t resultByte = 0xFF;
        if (!o.display.empty()) {
            const uint32_t status = t.call(BaseName(o.display) + " DriverEntry(NULL, NULL)", [&] {
                return MachineOf(*m)->call(BaseName(o.display), "DriverEntry", {0, 0});
            });
            if (status != 0)
                Die("the display driver's DriverEntry returned " + Hex32(status));
        } else {
            const uint8_t attached =
                t.call("lDllAttach(0, 0, 0, " + std::to_string(o.attachParam) + ", &result)",
                       [&] { return m->lDllAttach(0, 0, 0, o.attachParam, &resultByte); });
            if (!attached)
                Die(o.services.empty()
                        ? "lDllAttach returned FALSE: the services driver's init failed (profile " + profile.name + ")"
                        : "lDllAttach returned FALSE: the services driver " + o.services +
                              " left a required hook empty or its init failed");
        }
        emu::CallStats attachStats;
        if (emu::Machine *machine = MachineOf(*m))
            attachStats = machine->lastCall();
        const auto records = m->published();
        const uint32_t count = m->u32("NumModesFromBIOSDLL");

        if (*validate || *set) {
            const ModeSpec spec = ParseMode(o.mode);
            VIDEO_MODE_INFORMATION record = FindMode(records, spec, o.mode);
            const size_t from = m->log.calls().size();
            if (*validate) {
                t.call("vValidateMode(&record, " + Hex32(o.flags) + ")", [&] {
                    m->vValidateMode(&record, o.flags);
                    return record.Length;
                });
                std::printf("%s: Length %u (%s)\n", o.mode.c_str(), record.Length,
                            record.Length == 80 ? "usable" : "not usable");
            } else {
                const uint32_t r = t.call("SetMode(&record, " + std::to_string(o.option) + ")",
                                          [&] { return m->SetMode(&record, o.option); });
                std::printf("%s: SetMode returned %u%s\n", o.mode.c_str(), r, r == 0 ? "" : " (ERROR_INVALID_PARAMETER)");
                const auto &calls = m->log.calls();
                for (size_t i = from; i < calls.size(); ++i)
                    if (const auto &c = calls[i]; c.callee == sim::Callee::QueryMode || c.callee == sim::Callee::SetMode)
                        std::printf("  services driver was asked: %s\n", sim::Describe(c).c_str());
            }
        } else if (*function) {
            const uint32_t r = t.call("Orvalen_Function", [&] { return m->Orvalen_Function(o.values[0]); });
            std::printf("Orvalen_Function(%s) = %u\n", Hex32(o.values[0]).c_str(), r);
        } else if (*melto) {
            const uint32_t r = t.call("MeltoBiosDll", [&] { return m->MeltoBiosDll(o.values[0], o.values[1], o.values[2]); });
            std::printf("MeltoBiosDll(%s, %s, %s) = %u\n", Hex32(o.values[0]).c_str(), Hex32(o.values[1]).c_str(),
                        Hex32(o.values[2]).c_str(), r);
        } else if (*freeFb) {
            std::printf("GetFreeFramebufferSize() = %u\n",
                        t.call("GetFreeFramebufferSize", [&] { return m->GetFreeFramebufferSize(); }));
        } else if (*initial) {
            std::printf("BiosDllSetInitialValue() = %u\n",
                        t.call("BiosDllSetInitialValue", [&] { return m->BiosDllSetInitialValue(); }));
        } else if (o.json) {
            PrintJson(records, count, profile);
        } else {
            if (o.services.empty())
                std::printf("profile: %s - %s\n", profile.name.c_str(), profile.description.c_str());
            else
                std::printf("services driver: %s\n", o.services.c_str());
            if (!o.tv.empty())
                std::printf("TV driver: %s\n", o.tv.c_str());
            if (!o.display.empty())
                std::printf("display driver: %s (DriverEntry returned 0)\n", o.display.c_str());
            if (MachineOf(*m) != nullptr)
                std::printf("image: %s\n%s: %llu instructions in the image, %u calls out, deepest stack %u bytes\n",
                            o.image.empty() ? ZERVAL_IMAGE_PATH : o.image.c_str(),
                            o.display.empty() ? "lDllAttach" : "the display driver's DriverEntry",
                            static_cast<unsigned long long>(attachStats.instructions), attachStats.hookCalls,
                            attachStats.stackBytes);
            if (o.matrix)
                PrintMatrix(*m, records);
            else
                PrintTable(records, count);
        }
    } catch (const std::exception &e) {
        Die(e.what());
    }
    return 0;
}
