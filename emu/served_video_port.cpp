// What the simulated video port (videoprt.sys) serves a miniport, each
// routine beside its handler: its registration (VideoPortInitialize), the
// debug print, memory and pool, the registry under the adapter's key, the
// adapter's access ranges and their mapping, and the device's registers and
// I/O ports.  The port's calls into the miniport are miniport_calls.cpp's;
// its books are video_port.h's.
#include "machine.h"

#include <unicorn/unicorn.h>

#include <algorithm>

#include "guest_format.h"
#include "video_port_layout.h"

namespace emu {

namespace {

constexpr size_t kLongestName = 256;  // of a registry value's name, in characters
constexpr uint32_t kLongestRegistryValue = 64u << 10;  // what VideoPortSetRegistryParameters stores

// A zero-terminated UTF-16 string of the guest, as ASCII ('?' for the rest).
std::string WideString(const Machine &m, uint32_t address)
{
    std::string s;
    for (size_t i = 0; address != 0 && i < kLongestName; ++i) {
        uint16_t c = 0;
        m.read(address + static_cast<uint32_t>(2 * i), &c, 2);
        if (c == 0)
            break;
        s += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return s;
}

// A value's bytes as VideoPortGetRegistryParameters hands them over: a
// REG_SZ as UTF-16 with its terminating zero.
std::vector<uint8_t> RegistryBytes(const sim::RegistryValue &v)
{
    std::vector<uint8_t> bytes;
    if (v.number) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(*v.number >> (8 * i)));
        return bytes;
    }
    for (const char c : v.text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

uint64_t Physical(uint32_t low, uint32_t high) { return uint64_t{high} << 32 | low; }

// The bytes of `count` units, refused when they pass what any range holds
// rather than wrapped to a small number.
uint32_t Units(uint32_t count, uint32_t unit)
{
    const uint64_t bytes = uint64_t{count} * unit;
    if (bytes > UINT32_MAX)
        throw Fault(std::to_string(count) + " units of " + std::to_string(unit) + " bytes, more than any mapped range");
    return static_cast<uint32_t>(bytes);
}

} // namespace

uint32_t Machine::videoPortInitialize(const ServedCall &c)
{
    const uint32_t data = c.args[2];
    VideoPort &port = videoPort_;
    auto refuse = [&](uint32_t status, const std::string &why) {
        port.refusal = "VideoPortInitialize refused its VIDEO_HW_INITIALIZATION_DATA: " + why;
        describeServed("VideoPortInitialize(" + pe::Hex(c.args[0]) + ", " + pe::Hex(c.args[1]) + ", " + pe::Hex(data) +
                       ", " + pe::Hex(c.args[3]) + ") = " + pe::Hex(status) + " (" + why + ")");
        return status;
    };
    if (data == 0)
        return refuse(vp::kStatusInvalidParameter, "HwInitializationData is NULL");
    const uint32_t size = readU32(data + vp::init::HwInitDataSize);
    if (size > vp::init::kSize)
        return refuse(vp::kStatusRevisionMismatch, "HwInitDataSize " + std::to_string(size) + " is larger than the " +
                                                       std::to_string(vp::init::kSize) + " bytes of the newest layout");
    if (size < vp::init::kSizeNt4)
        return refuse(vp::kStatusRevisionMismatch, "HwInitDataSize " + std::to_string(size) + " is below the " +
                                                       std::to_string(vp::init::kSizeNt4) + " bytes of the oldest layout");
    Miniport mp;
    mp.image = c.caller != SIZE_MAX ? moduleName(c.caller) : std::string();
    mp.initDataSize = size;
    mp.findAdapter = readU32(data + vp::init::HwFindAdapter);
    mp.initialize = readU32(data + vp::init::HwInitialize);
    mp.startIo = readU32(data + vp::init::HwStartIO);
    mp.deviceExtensionSize = readU32(data + vp::init::HwDeviceExtensionSize);
    mp.hwContext = c.args[3];
    std::string missing;
    for (const auto &[name, address] : {std::pair{"HwFindAdapter", mp.findAdapter}, std::pair{"HwInitialize", mp.initialize},
                                        std::pair{"HwStartIO", mp.startIo}})
        if (address == 0)
            missing += (missing.empty() ? "" : ", ") + std::string(name);
    if (!missing.empty())
        return refuse(vp::kStatusInvalidParameter, "every miniport has HwFindAdapter, HwInitialize and HwStartIO; " +
                                                       missing + (missing.find(',') == std::string::npos ? " is" : " are") +
                                                       " NULL");
    // Each is code of the miniport's own.
    for (const auto &[name, address] : {std::pair{"HwFindAdapter", mp.findAdapter}, std::pair{"HwInitialize", mp.initialize},
                                        std::pair{"HwStartIO", mp.startIo}})
        if (imageAt(address) != c.caller)
            return refuse(vp::kStatusInvalidParameter, std::string(name) + " " + pe::Hex(address) + " is not code of " +
                                                           (mp.image.empty() ? "the caller" : mp.image) + " (" +
                                                           locate(address) + ")");
    if (!port.miniport)
        port.miniport = mp;
    port.refusal.clear();
    describeServed("VideoPortInitialize(" + pe::Hex(c.args[0]) + ", " + pe::Hex(c.args[1]) + ", {HwInitDataSize " +
                   std::to_string(size) + ", HwDeviceExtensionSize " + std::to_string(mp.deviceExtensionSize) +
                   "}, " + pe::Hex(c.args[3]) + ") = 0x0");
    return 0;  // STATUS_SUCCESS
}

// The guest address of an adapter range, mapped on first use: the frame
// buffer or the registers (memory, readable and writable), or for I/O space
// the port itself, as on the i386.  0 for anything outside the adapter.
uint32_t Machine::deviceBase(uint64_t physical, uint32_t bytes, bool ioSpace)
{
    VideoPort &port = videoPort_;
    const sim::Profile &adapter = adapter_.profile;
    if (ioSpace)
        return physical <= UINT32_MAX && VideoPort::IoPorts(adapter, static_cast<uint32_t>(physical), bytes)
                   ? static_cast<uint32_t>(physical)
                   : 0;
    const VideoPort::Range range = VideoPort::RangeOf(adapter, physical, bytes);
    if (range == VideoPort::Range::None)
        return 0;
    if (!port.mapped(range)) {
        const bool fb = range == VideoPort::Range::Framebuffer;
        const uint32_t size = RoundUp(fb ? sim::FramebufferBytes(adapter) : adapter.registersBytes, kPage);
        CheckEngine(uc_mem_map(uc(), fb ? VideoPort::kFramebufferVa : VideoPort::kRegistersVa, size,
                               UC_PROT_READ | UC_PROT_WRITE),
                    "map the adapter");
        port.setMapped(range);
    }
    return VideoPort::VirtualAddress(adapter, range, physical);
}

const Machine::Served Machine::kVideoPortServed[] = {
    {"videoprt.sys", "VideoPortInitialize", 16,
     [](Machine &m, const ServedCall &c) { return m.videoPortInitialize(c); }},
    // VideoPortDebugPrint(DebugPrintLevel, DebugMessage, ...), cdecl.
    Cdecl("videoprt.sys", "VideoPortDebugPrint",
          [](Machine &m, const ServedCall &c) {
              const GuestReader read = [&m](uint32_t a, void *out, uint32_t n) { m.read(a, out, n); };
              m.debugPrint(c, FormatGuest(read, m.argAt(c.esp, 1), c.esp + 12));
              return 0u;
          }),
    {"videoprt.sys", "VideoPortMoveMemory", 12,
     [](Machine &m, const ServedCall &c) {
         m.copyMemory(c.args[0], c.args[1], c.args[2]);
         return 0u;
     }},
    // VideoPortAllocatePool(HwDeviceExtension, PoolType, NumberOfBytes, Tag):
    // VP_POOL_TYPE has the kernel's values.
    {"videoprt.sys", "VideoPortAllocatePool", 16,
     [](Machine &m, const ServedCall &c) { return m.allocateFor(c, c.args[1], c.args[2], c.args[3]); }},
    {"videoprt.sys", "VideoPortFreePool", 8,
     [](Machine &m, const ServedCall &c) {
         m.freeFor(c.args[1], std::nullopt);
         return 0u;
     }},
    {"videoprt.sys", "VideoPortGetCurrentIrql", 0,
     [](Machine &m, const ServedCall &) { return static_cast<uint32_t>(m.irql_); }},
    {"videoprt.sys", "VideoPortStallExecution", 4, [](Machine &, const ServedCall &) { return 0u; }},

    // VideoPortGetRegistryParameters(HwDeviceExtension, ParameterName,
    // IsParameterFileName, GetRegistryRoutine, Context): the value is handed
    // to the miniport's callback, GetRegistryRoutine(HwDeviceExtension,
    // Context, ValueName, ValueData, ValueLength), and what the callback
    // answers is the answer.  The call goes on in the guest: the callback
    // is entered as if the miniport's call had made it, and returns to a
    // stub that finishes this one.
    {"videoprt.sys", "VideoPortGetRegistryParameters", 20,
     [](Machine &m, const ServedCall &c) {
         const std::string name = WideString(m, c.args[1]);
         const sim::RegistryValue *value = m.videoPort_.registry(m.adapter_.profile, name);
         if (value == nullptr || c.args[3] == 0) {
             m.describeServed("VideoPortGetRegistryParameters(\"" + name + "\") = " + VpStatusName(vp::kErrorInvalidParameter) +
                              (value == nullptr ? ", no such value under the adapter's key" : ", no callback"));
             return vp::kErrorInvalidParameter;
         }
         const std::vector<uint8_t> bytes = RegistryBytes(*value);
         const uint32_t size = static_cast<uint32_t>(bytes.size());
         const uint32_t data = m.allocateForImage(size, true);
         m.write(data, bytes.data(), size);
         m.videoPort_.handed.push_back({data, size, "value of \"" + name + "\" handed to the registry callback"});
         m.describeServed("VideoPortGetRegistryParameters(\"" + name + "\") hands " + std::to_string(size) +
                          " bytes to the callback at " + m.locate(c.args[3]));
         m.callGuestThen(c, c.args[3], {c.args[0], c.args[4], c.args[1], data, size}, data);
         return 0u;
     }},
    // Where the callback returns to: it pops its 20 bytes and keeps EBX, ESI,
    // EDI and EBP, and this stub's `ret 20` pops the first call's.  The
    // answer is NO_ERROR, or ERROR_INVALID_PARAMETER for any failure the
    // callback answered.
    {nullptr, "VideoPortGetRegistryParameters, after the callback", 20,
     [](Machine &m, const ServedCall &) {
         return m.returnFromGuest() == vp::kNoError ? vp::kNoError : vp::kErrorInvalidParameter;
     }},
    // VideoPortSetRegistryParameters(HwDeviceExtension, ValueName, ValueData,
    // ValueLength): 4 bytes are a REG_DWORD, anything else a UTF-16 string of
    // at most ValueLength bytes.
    {"videoprt.sys", "VideoPortSetRegistryParameters", 16,
     [](Machine &m, const ServedCall &c) {
         const std::string name = WideString(m, c.args[1]);
         sim::RegistryValue v{name, std::nullopt, {}};
         const uint32_t bytes = c.args[3];
         if (bytes > kLongestRegistryValue)
             return vp::kErrorInvalidParameter;
         m.requireAccess(c.args[2], bytes, false);
         std::vector<uint8_t> data(bytes);
         if (bytes != 0)
             m.read(c.args[2], data.data(), bytes);
         if (bytes == 4) {
             v.number = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24);
         } else {
             for (uint32_t i = 0; i + 1 < bytes && (data[i] | data[i + 1]) != 0; i += 2)
                 v.text += data[i + 1] == 0 && data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '?';
         }
         m.videoPort_.setRegistry(v);
         return vp::kNoError;
     }},

    // VideoPortGetAccessRanges(HwDeviceExtension, NumRequestedResources,
    // RequestedResources, NumAccessRanges, AccessRanges, VendorId, DeviceId,
    // Slot): the adapter's frame buffer, registers and I/O ports, as many as
    // the array holds.
    {"videoprt.sys", "VideoPortGetAccessRanges", 32,
     [](Machine &m, const ServedCall &c) {
         const sim::Profile &r = m.adapter_.profile;
         struct Range {
             uint64_t start;
             uint32_t length;
             uint8_t io;
         };
         const Range ranges[] = {{r.framebufferBase, sim::FramebufferBytes(r), 0},
                                 {r.registersBase, r.registersBytes, 0},
                                 {r.ioPortBase, r.ioPortCount, 1}};
         const uint32_t wanted = c.args[3], array = c.args[4];
         const uint32_t filled = std::min<uint32_t>(wanted, static_cast<uint32_t>(std::size(ranges)));
         if (array != 0)
             m.requireAccess(array, filled * vp::range::kSize, true);
         for (uint32_t i = 0; i < filled && array != 0; ++i) {
             uint8_t entry[vp::range::kSize] = {};
             const uint32_t at = array + i * vp::range::kSize;
             for (int b = 0; b < 8; ++b)
                 entry[vp::range::RangeStart + b] = static_cast<uint8_t>(ranges[i].start >> (8 * b));
             for (int b = 0; b < 4; ++b)
                 entry[vp::range::RangeLength + b] = static_cast<uint8_t>(ranges[i].length >> (8 * b));
             entry[vp::range::RangeInIoSpace] = ranges[i].io;
             entry[vp::range::RangeVisible] = 1;
             entry[vp::range::RangeShareable] = 0;
             m.write(at, entry, sizeof entry);
         }
         if (c.args[7] != 0) {
             const uint32_t slot = 0;
             m.requireAccess(c.args[7], 4, true);
             m.write(c.args[7], &slot, 4);
         }
         return vp::kNoError;
     }},
    // VideoPortGetDeviceBase(HwDeviceExtension, IoAddress, NumberOfUchars, InIoSpace).
    {"videoprt.sys", "VideoPortGetDeviceBase", 20,
     [](Machine &m, const ServedCall &c) {
         return m.deviceBase(Physical(c.args[1], c.args[2]), c.args[3], (c.args[4] & 1) != 0);
     }},
    {"videoprt.sys", "VideoPortFreeDeviceBase", 8, [](Machine &, const ServedCall &) { return vp::kNoError; }},
    // VideoPortMapMemory(HwDeviceExtension, PhysicalAddress, &Length,
    // &InIoSpace, &VirtualAddress).
    {"videoprt.sys", "VideoPortMapMemory", 24,
     [](Machine &m, const ServedCall &c) {
         m.requireAccess(c.args[3], 4, false);
         m.requireAccess(c.args[4], 4, false);
         m.requireAccess(c.args[5], 4, true);
         const uint32_t length = m.readU32(c.args[3]);
         const bool io = (m.readU32(c.args[4]) & 1) != 0;
         const uint32_t va = m.deviceBase(Physical(c.args[1], c.args[2]), length, io);
         if (va == 0)
             return vp::kErrorInvalidParameter;
         m.write(c.args[5], &va, 4);
         return vp::kNoError;
     }},
    {"videoprt.sys", "VideoPortUnmapMemory", 12, [](Machine &, const ServedCall &) { return vp::kNoError; }},

    // The device's registers, through their mapped addresses.
    {"videoprt.sys", "VideoPortReadRegisterUchar", 4, [](Machine &m, const ServedCall &c) { return m.readDevice(c.args[0], 1); }},
    {"videoprt.sys", "VideoPortReadRegisterUshort", 4, [](Machine &m, const ServedCall &c) { return m.readDevice(c.args[0], 2); }},
    {"videoprt.sys", "VideoPortReadRegisterUlong", 4, [](Machine &m, const ServedCall &c) { return m.readDevice(c.args[0], 4); }},
    {"videoprt.sys", "VideoPortWriteRegisterUchar", 8,
     [](Machine &m, const ServedCall &c) { return m.writeDevice(c.args[0], 1, c.args[1]); }},
    {"videoprt.sys", "VideoPortWriteRegisterUshort", 8,
     [](Machine &m, const ServedCall &c) { return m.writeDevice(c.args[0], 2, c.args[1]); }},
    {"videoprt.sys", "VideoPortWriteRegisterUlong", 8,
     [](Machine &m, const ServedCall &c) { return m.writeDevice(c.args[0], 4, c.args[1]); }},
    // (Register, Buffer, Count): Count units from consecutive addresses.
    {"videoprt.sys", "VideoPortReadRegisterBufferUchar", 12,
     [](Machine &m, const ServedCall &c) { m.copyMemory(c.args[1], c.args[0], Units(c.args[2], 1)); return 0u; }},
    {"videoprt.sys", "VideoPortReadRegisterBufferUshort", 12,
     [](Machine &m, const ServedCall &c) { m.copyMemory(c.args[1], c.args[0], Units(c.args[2], 2)); return 0u; }},
    {"videoprt.sys", "VideoPortReadRegisterBufferUlong", 12,
     [](Machine &m, const ServedCall &c) { m.copyMemory(c.args[1], c.args[0], Units(c.args[2], 4)); return 0u; }},
    {"videoprt.sys", "VideoPortWriteRegisterBufferUchar", 12,
     [](Machine &m, const ServedCall &c) { m.copyMemory(c.args[0], c.args[1], Units(c.args[2], 1)); return 0u; }},
    {"videoprt.sys", "VideoPortWriteRegisterBufferUshort", 12,
     [](Machine &m, const ServedCall &c) { m.copyMemory(c.args[0], c.args[1], Units(c.args[2], 2)); return 0u; }},
    {"videoprt.sys", "VideoPortWriteRegisterBufferUlong", 12,
     [](Machine &m, const ServedCall &c) { m.copyMemory(c.args[0], c.args[1], Units(c.args[2], 4)); return 0u; }},

    // The adapter's I/O ports (the address is the port): a read answers what
    // was last written, 0xFF where nothing was.
    {"videoprt.sys", "VideoPortReadPortUchar", 4, [](Machine &m, const ServedCall &c) { return m.videoPort_.readPort(c.args[0], 1); }},
    {"videoprt.sys", "VideoPortReadPortUshort", 4, [](Machine &m, const ServedCall &c) { return m.videoPort_.readPort(c.args[0], 2); }},
    {"videoprt.sys", "VideoPortReadPortUlong", 4, [](Machine &m, const ServedCall &c) { return m.videoPort_.readPort(c.args[0], 4); }},
    {"videoprt.sys", "VideoPortWritePortUchar", 8,
     [](Machine &m, const ServedCall &c) { m.videoPort_.writePort(c.args[0], 1, c.args[1]); return 0u; }},
    {"videoprt.sys", "VideoPortWritePortUshort", 8,
     [](Machine &m, const ServedCall &c) { m.videoPort_.writePort(c.args[0], 2, c.args[1]); return 0u; }},
    {"videoprt.sys", "VideoPortWritePortUlong", 8,
     [](Machine &m, const ServedCall &c) { m.videoPort_.writePort(c.args[0], 4, c.args[1]); return 0u; }},
    // (Port, Buffer, Count): Count units through the one port.
    {"videoprt.sys", "VideoPortReadPortBufferUchar", 12, [](Machine &m, const ServedCall &c) { return m.portBuffer(c, 1, false); }},
    {"videoprt.sys", "VideoPortReadPortBufferUshort", 12, [](Machine &m, const ServedCall &c) { return m.portBuffer(c, 2, false); }},
    {"videoprt.sys", "VideoPortReadPortBufferUlong", 12, [](Machine &m, const ServedCall &c) { return m.portBuffer(c, 4, false); }},
    {"videoprt.sys", "VideoPortWritePortBufferUchar", 12, [](Machine &m, const ServedCall &c) { return m.portBuffer(c, 1, true); }},
    {"videoprt.sys", "VideoPortWritePortBufferUshort", 12, [](Machine &m, const ServedCall &c) { return m.portBuffer(c, 2, true); }},
    {"videoprt.sys", "VideoPortWritePortBufferUlong", 12, [](Machine &m, const ServedCall &c) { return m.portBuffer(c, 4, true); }},
};

const size_t Machine::kVideoPortServedCount = std::size(kVideoPortServed);

uint32_t Machine::readDevice(uint32_t address, uint32_t bytes)
{
    requireAccess(address, bytes, false);
    uint32_t v = 0;
    read(address, &v, bytes);
    return v;
}

uint32_t Machine::writeDevice(uint32_t address, uint32_t bytes, uint32_t value)
{
    requireAccess(address, bytes, true);
    write(address, &value, bytes);
    return 0;
}

uint32_t Machine::portBuffer(const ServedCall &c, uint32_t unit, bool out)
{
    const uint32_t port = c.args[0], buffer = c.args[1], count = c.args[2];
    requireAccess(buffer, Units(count, unit), !out);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t at = buffer + i * unit;
        if (out) {
            uint32_t v = 0;
            read(at, &v, unit);
            videoPort_.writePort(port, unit, v);
        } else {
            const uint32_t v = videoPort_.readPort(port, unit);
            write(at, &v, unit);
        }
    }
    return 0;
}

// The served call goes on in the guest: `target` is entered with `args` as
// if the image had called it, and returns to the stub after this routine's
// own in the table, which ends the image's call (returnFromGuest).
void Machine::callGuestThen(const ServedCall &c, uint32_t target, const std::vector<uint32_t> &args, uint32_t buffer)
{
    const std::string after = std::string(c.served->name) + ", after the callback";
    const Served *back = nullptr;
    for (const Served *s : AllServed())
        if (s->module == nullptr && s->hook < 0 && after == s->name)
            back = s;
    if (back == nullptr || back->argBytes != c.argBytes)
        throw Error("emulator: nothing serves the return to " + std::string(c.served->name));
    const uint32_t argBytes = 4 * static_cast<uint32_t>(args.size());
    const uint32_t esp = c.esp - 4 - argBytes;
    const uint32_t returnTo = providedStub(*back);
    write(esp, &returnTo, 4);
    write(esp + 4, args.data(), argBytes);
    pendingCalls_.push_back(PendingCall{FrameOfCall(uc(), esp, argBytes), buffer, locate(target)});
    uc_reg_write(uc(), UC_X86_REG_ESP, &esp);
    uc_reg_write(uc(), UC_X86_REG_EIP, &target);
}

uint32_t Machine::returnFromGuest()
{
    if (pendingCalls_.empty())
        throw Error("emulator: a return from the guest with no call open");
    const PendingCall p = pendingCalls_.back();
    pendingCalls_.pop_back();
    uint32_t esp = 0, eax = 0;
    uc_reg_read(uc(), UC_X86_REG_ESP, &esp);
    uc_reg_read(uc(), UC_X86_REG_EAX, &eax);
    if (p.buffer != 0) {
        freeForImage(p.buffer);
        auto &handed = videoPort_.handed;
        handed.erase(std::remove_if(handed.begin(), handed.end(), [&](const VideoPort::Buffer &b) { return b.address == p.buffer; }),
                     handed.end());
    }
    // ESP is at this stub's return address: the callback's own call ended at esp - 4.
    if (const std::string breach = ReturnBreach(uc(), p.frame, esp); !breach.empty())
        throw Fault("the callback at " + p.target + ": " + breach);
    return eax;
}

} // namespace emu
