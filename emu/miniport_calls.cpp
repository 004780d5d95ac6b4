#include "miniport_calls.h"

#include "video_port_layout.h"

namespace emu {

namespace {

constexpr uint32_t kVgaMemory = 0xA0000, kVgaMemoryBytes = 0x20000;
constexpr uint64_t kSystemMemory = 512ull << 20;

const Miniport &Registered(const Machine &m)
{
    if (!m.videoPort().miniport)
        throw Error("emulator: no miniport registered with VideoPortInitialize");
    return *m.videoPort().miniport;
}

// Runs a call of the port's at PASSIVE_LEVEL, whatever the machine's level.
template <typename F> auto AtPassive(Machine &m, F &&f)
{
    const Irql was = m.irql();
    m.setIrql(Irql::Passive);
    try {
        auto result = f();
        m.setIrql(was);
        return result;
    } catch (...) {
        m.setIrql(was);
        throw;
    }
}

void Put32(std::vector<uint8_t> &record, uint32_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        record[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t U32At(const std::vector<uint8_t> &record, uint32_t at)
{
    return record[at] | record[at + 1] << 8 | record[at + 2] << 16 | uint32_t{record[at + 3]} << 24;
}

// A block for a record the port hands over, holding `bytes`.
uint32_t Handed(Machine &m, const std::vector<uint8_t> &bytes)
{
    const uint32_t address = m.allocateForImage(static_cast<uint32_t>(bytes.size()), true);
    m.write(address, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return address;
}

// The miniport's registry path, as the port names its service key.
std::vector<uint8_t> RegistryPath(const std::string &image)
{
    const std::string service = image.substr(0, image.find('.'));
    const std::string path = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + service + "\\Device0";
    std::vector<uint8_t> utf16;
    for (const char c : path) {
        utf16.push_back(static_cast<uint8_t>(c));
        utf16.push_back(0);
    }
    utf16.insert(utf16.end(), {0, 0});
    return utf16;
}

} // namespace

uint32_t FindAdapter(Machine &m)
{
    const Miniport &mp = Registered(m);
    VideoPort &port = m.videoPort();
    // A device extension of 0 bytes still has an address.
    port.deviceExtension = m.allocateForImage(std::max(mp.deviceExtensionSize, 1u), true, 0);
    std::vector<uint8_t> config(vp::config::kSize, 0);
    Put32(config, vp::config::Length, vp::config::kSize);
    Put32(config, vp::config::SystemIoBusNumber, m.adapterProfile().busNumber);
    Put32(config, vp::config::AdapterInterfaceType, vp::kPciBus);
    Put32(config, vp::config::VdmPhysicalVideoMemoryAddress, kVgaMemory);
    Put32(config, vp::config::VdmPhysicalVideoMemoryLength, kVgaMemoryBytes);
    Put32(config, vp::config::DriverRegistryPath, Handed(m, RegistryPath(mp.image)));
    Put32(config, vp::config::SystemMemorySize, static_cast<uint32_t>(kSystemMemory));
    Put32(config, vp::config::SystemMemorySize + 4, static_cast<uint32_t>(kSystemMemory >> 32));
    const uint32_t path = static_cast<uint32_t>(U32At(config, vp::config::DriverRegistryPath));
    const uint32_t info = Handed(m, config);
    const uint32_t again = Handed(m, {0});
    port.handed.push_back({info, vp::config::kSize, "VIDEO_PORT_CONFIG_INFO handed to HwVidFindAdapter"});
    port.handed.push_back({again, 1, "Again byte handed to HwVidFindAdapter"});
    const uint32_t status = AtPassive(m, [&] {
        return m.callAt(mp.findAdapter, "HwVidFindAdapter", {port.deviceExtension, mp.hwContext, 0, info, again});
    });
    // The records live as long as the call: a pointer kept past it faults.
    port.handed.clear();
    for (const uint32_t block : {info, again, path})
        m.freeForImage(block);
    return status;
}

bool InitializeAdapter(Machine &m)
{
    const Miniport &mp = Registered(m);
    return AtPassive(m, [&] {
        return (m.callAt(mp.initialize, "HwVidInitialize", {m.videoPort().deviceExtension}) & 0xFF) != 0;
    });
}

RequestAnswer SendRequest(Machine &m, uint32_t ioctl, const std::vector<uint8_t> &input, uint32_t outputBytes)
{
    const Miniport &mp = Registered(m);
    VideoPort &port = m.videoPort();
    const std::string name = IoctlName(ioctl);
    const uint32_t in = input.empty() ? 0 : Handed(m, input);
    const uint32_t out = outputBytes == 0 ? 0 : m.allocateForImage(outputBytes, true, 0);
    const uint32_t status = Handed(m, std::vector<uint8_t>(vp::request::kStatusBlockSize, 0));
    std::vector<uint8_t> packet(vp::request::kSize, 0);
    Put32(packet, vp::request::IoControlCode, ioctl);
    Put32(packet, vp::request::StatusBlock, status);
    Put32(packet, vp::request::InputBuffer, in);
    Put32(packet, vp::request::InputBufferLength, static_cast<uint32_t>(input.size()));
    Put32(packet, vp::request::OutputBuffer, out);
    Put32(packet, vp::request::OutputBufferLength, outputBytes);
    const uint32_t vrp = Handed(m, packet);
    if (in != 0)
        port.handed.push_back({in, static_cast<uint32_t>(input.size()), "input buffer of " + name});
    if (out != 0)
        port.handed.push_back({out, outputBytes, "output buffer of " + name});
    // Every block goes when the request ends, however it ends.
    struct Blocks {
        Machine &m;
        std::vector<uint32_t> list;
        ~Blocks()
        {
            m.videoPort().handed.clear();
            for (const uint32_t block : list)
                if (block != 0)
                    m.freeForImage(block);
        }
    } blocks{m, {in, out, status, vrp}};
    const uint32_t answered =
        AtPassive(m, [&] { return m.callAt(mp.startIo, "HwVidStartIO", {port.deviceExtension, vrp}); });
    RequestAnswer a;
    a.status = m.readU32(status + vp::request::Status);
    a.information = m.readU32(status + vp::request::Information);
    const std::string at = "HwVidStartIO at " + m.locate(mp.startIo) + ", " + name;
    if ((answered & 0xFF) == 0)
        throw Fault(at + ": it answered FALSE; HwVidStartIO answers TRUE and puts its result in the status block "
                         "(Status " + VpStatusName(a.status) + ")",
                    mp.image);
    if (a.information > outputBytes)
        throw Fault(at + ": Information " + std::to_string(a.information) + " is larger than the " +
                        std::to_string(outputBytes) + "-byte output buffer",
                    mp.image);
    a.output.resize(a.information);
    if (a.information != 0)
        m.read(out, a.output.data(), a.information);
    return a;
}

} // namespace emu
