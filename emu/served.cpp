// What the simulated kernel and sibling drivers serve an image, and the hooks
// the simulated services driver installs in the module's table: the kernel's
// pool and files, the siblings' entries and the hooks here, each entry with
// its handler; the kernel's run-time routines and the video port in tables
// of their own (served_runtime.cpp, served_video_port.cpp).  A routine an
// image imports is found by module and name; a new one is one more entry.
// Each handler gets the arguments read once at the call, and returns EAX.
#include "machine.h"

#include <algorithm>

namespace emu {

const Machine::Served Machine::kServed[] = {
    // The kernel's pool and the video port's one routine the module calls.
    {"ntoskrnl.exe", "ExAllocatePoolWithTag", 12,
     [](Machine &m, const ServedCall &c) {
         return c.fromNeighbour() ? m.allocateFor(c, c.args[0], c.args[1], c.args[2])
                                        : m.allocate(c.args[0], c.args[1], c.args[2]);
     }},
    {"ntoskrnl.exe", "ExFreePool", 4,
     [](Machine &m, const ServedCall &c) {
         m.freeAny(c, c.args[0], std::nullopt);
         return 0u;
     }},
    // The file routines, from the machine's KernelFiles (machine_files.cpp).
    {"ntoskrnl.exe", "ZwCreateFile", 44, [](Machine &m, const ServedCall &c) { return m.createFile(c); }},
    {"ntoskrnl.exe", "ZwWriteFile", 36, [](Machine &m, const ServedCall &c) { return m.writeFile(c); }},
    {"ntoskrnl.exe", "ZwClose", 4, [](Machine &m, const ServedCall &c) { return m.files_.close(c.args[0]); }},
    // The module's calls go into its call log; a neighbour's do not.
    {"videoprt.sys", "VideoPortZeroMemory", 8,
     [](Machine &m, const ServedCall &c) {
         if (!c.fromNeighbour()) {
             sim::CallRecord r{sim::Callee::ZeroMemory};
             r.args = {c.args[0], c.args[1]};
             m.log_.add(r);
         }
         m.fillMemory(c.args[0], c.args[1], 0);
         return 0u;
     }},

    // The sibling drivers' entries.
    {"kelv.sys", kServicesAttach, *StdcallArgBytes(kServicesAttach),
     [](Machine &m, const ServedCall &c) {
         return m.adapter_.attach(c.args[0], c.args[1], m.handTable(c.args[2]), c.args[3]);
     }},
    {"rmx.sys", decorated::AttachRMX, *StdcallArgBytes(decorated::AttachRMX),
     [](Machine &m, const ServedCall &c) { return m.adapter_.attachRmx(c.args[0], c.args[1]); }},
    // Also the hook in pfnTvControl, where the module puts it.
    {"rmx.sys", kTvControl, *StdcallArgBytes(kTvControl),
     [](Machine &m, const ServedCall &c) { return m.adapter_.tvControl(c.args[0], c.args[1], c.args[2]); }},

    // The services driver's hooks, each an original function and a
    // replacement (ServedCall::via).  A record handed to one must lie in the
    // frames of the module code calling it.
    Hooked(sim::Hook::Init, 4,
     [](Machine &m, const ServedCall &c) {
         sim::InitBuffer buffer;
         m.readHanded(c, buffer);
         const uint32_t eax = m.adapter_.init(buffer, c.via);
         m.write(c.args[0], buffer.data(), static_cast<uint32_t>(buffer.size()));  // every byte it wrote
         return eax;
     }),
    Hooked(sim::Hook::QueryMode, 8,
     [](Machine &m, const ServedCall &c) {
         sim::RawQuery raw;
         m.readHanded(c, raw);
         sim::Query q = sim::FromRaw(raw);
         const uint32_t eax = m.adapter_.queryMode(q, c.args[1], &raw, c.via);
         raw = sim::ToRaw(q);
         m.write(c.args[0], raw.data(), static_cast<uint32_t>(raw.size()));
         return eax;
     }),
    Hooked(sim::Hook::SetMode, 12,
     [](Machine &m, const ServedCall &c) {
         sim::RawQuery raw;
         m.readHanded(c, raw);
         return m.adapter_.setMode(sim::FromRaw(raw), c.args[1], c.args[2], c.via);
     }),
    Hooked(sim::Hook::PassThrough, 12,
     [](Machine &m, const ServedCall &c) {
         return static_cast<uint32_t>(m.adapter_.passThrough(c.args[0], c.args[1], c.args[2], c.via));
     }),
    Hooked(sim::Hook::Function, 4, [](Machine &m, const ServedCall &c) { return m.adapter_.function(c.args[0], c.via); }),
    Hooked(sim::Hook::GetFreeFramebufferSize, 0,
     [](Machine &m, const ServedCall &c) { return m.adapter_.getFreeFramebufferSize(c.via); }),
    Hooked(sim::Hook::SetInitialValue, 0,
     [](Machine &m, const ServedCall &c) {
         m.adapter_.setInitialValue(c.via);
         return 0u;
     }),
};

const size_t Machine::kServedCount = std::size(kServed);

const std::vector<const Machine::Served *> &Machine::AllServed()
{
    static const std::vector<const Served *> all = [] {
        std::vector<const Served *> v;
        const std::pair<const Served *, size_t> tables[] = {
            {kServed, kServedCount}, {kRuntimeServed, kRuntimeServedCount}, {kVideoPortServed, kVideoPortServedCount}};
        for (const auto &[table, count] : tables)
            for (size_t i = 0; i < count; ++i)
                v.push_back(&table[i]);
        return v;
    }();
    return all;
}

std::vector<ServedRoutine> Machine::ServedRoutines()
{
    std::vector<ServedRoutine> out;
    for (const Served *s : AllServed())
        if (s->module != nullptr) {
            out.push_back(ServedRoutine{s->module, s->name, s->argBytes, s->cdecl});
        }
    std::stable_sort(out.begin(), out.end(), [](const ServedRoutine &a, const ServedRoutine &b) { return a.module < b.module; });
    return out;
}

const Machine::Served *Machine::provided(const std::string &module, const std::string &name)
{
    for (const Served *s : AllServed())
        if (s->module != nullptr && SameModule(module, s->module) && name == s->name)
            return s;
    return nullptr;
}

// The hook's entry; pfnTvControl's is the TV driver's S_RMX_Control.
const Machine::Served &Machine::servedHook(sim::Hook hook)
{
    if (hook == sim::Hook::TvControl)
        return *provided("rmx.sys", kTvControl);
    for (const Served *s : AllServed())
        if (s->hook == static_cast<int>(hook))
            return *s;
    throw Error(std::string("emulator: nothing serves ") + sim::kHookNames[static_cast<int>(hook)]);
}

} // namespace emu
