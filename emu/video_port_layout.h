// The records the video port and a video miniport hand each other, as the
// i386 platform lays them out (video.h, ntddvdeo.h): offsets and sizes in
// the guest.  The image build compiles the same numbers against the DDK's
// own headers (platform/ddk/video_port_layout_check.cpp).
#ifndef ZERVAL_EMU_VIDEO_PORT_LAYOUT_H
#define ZERVAL_EMU_VIDEO_PORT_LAYOUT_H

#include <stdint.h>

namespace vp {

// VIDEO_HW_INITIALIZATION_DATA
namespace init {
constexpr uint32_t HwInitDataSize = 0x00;
constexpr uint32_t AdapterInterfaceType = 0x04;
constexpr uint32_t HwFindAdapter = 0x08;
constexpr uint32_t HwInitialize = 0x0C;
constexpr uint32_t HwInterrupt = 0x10;
constexpr uint32_t HwStartIO = 0x14;
constexpr uint32_t HwDeviceExtensionSize = 0x18;
constexpr uint32_t StartingDeviceNumber = 0x1C;
constexpr uint32_t HwResetHw = 0x20;
constexpr uint32_t HwTimer = 0x24;
constexpr uint32_t HwStartDma = 0x28;
constexpr uint32_t HwSetPowerState = 0x2C;
constexpr uint32_t HwGetPowerState = 0x30;
constexpr uint32_t Reserved = 0x50;
constexpr uint32_t kSize = 0x54;
// The sizes earlier releases of the record had: up to HwStartDma (NT 4.0),
// up to Reserved (Windows 2000), the whole record (Windows XP and later).
constexpr uint32_t kSizeNt4 = HwStartDma;
constexpr uint32_t kSizeW2k = Reserved;
constexpr uint32_t kSizeWxp = kSize;
} // namespace init

// VIDEO_PORT_CONFIG_INFO
namespace config {
constexpr uint32_t Length = 0x00;
constexpr uint32_t SystemIoBusNumber = 0x04;
constexpr uint32_t AdapterInterfaceType = 0x08;
constexpr uint32_t BusInterruptLevel = 0x0C;
constexpr uint32_t BusInterruptVector = 0x10;
constexpr uint32_t InterruptMode = 0x14;
constexpr uint32_t VdmPhysicalVideoMemoryAddress = 0x28;  // PHYSICAL_ADDRESS, 8-byte aligned
constexpr uint32_t VdmPhysicalVideoMemoryLength = 0x30;
constexpr uint32_t Master = 0x42;
constexpr uint32_t VideoPortGetProcAddress = 0x60;
constexpr uint32_t DriverRegistryPath = 0x64;
constexpr uint32_t SystemMemorySize = 0x68;  // ULONGLONG
constexpr uint32_t kSize = 0x70;
} // namespace config

// VIDEO_ACCESS_RANGE
namespace range {
constexpr uint32_t RangeStart = 0x00;  // PHYSICAL_ADDRESS
constexpr uint32_t RangeLength = 0x08;
constexpr uint32_t RangeInIoSpace = 0x0C;
constexpr uint32_t RangeVisible = 0x0D;
constexpr uint32_t RangeShareable = 0x0E;
constexpr uint32_t RangePassive = 0x0F;
constexpr uint32_t kSize = 0x10;
} // namespace range

// VIDEO_REQUEST_PACKET and its STATUS_BLOCK
namespace request {
constexpr uint32_t IoControlCode = 0x00;
constexpr uint32_t StatusBlock = 0x04;
constexpr uint32_t InputBuffer = 0x08;
constexpr uint32_t InputBufferLength = 0x0C;
constexpr uint32_t OutputBuffer = 0x10;
constexpr uint32_t OutputBufferLength = 0x14;
constexpr uint32_t kSize = 0x18;
constexpr uint32_t Status = 0x00;
constexpr uint32_t Information = 0x04;
constexpr uint32_t kStatusBlockSize = 0x08;
} // namespace request

// The request records of ntddvdeo.h
constexpr uint32_t kNumModesSize = 8;       // VIDEO_NUM_MODES: NumModes, ModeInformationLength
constexpr uint32_t kModeSize = 4;           // VIDEO_MODE: RequestedMode
constexpr uint32_t kMemorySize = 4;         // VIDEO_MEMORY: RequestedVirtualAddress
constexpr uint32_t kMemoryInformationSize = 16;  // VideoRamBase, VideoRamLength, FrameBufferBase, FrameBufferLength
constexpr uint32_t kModeInformationSize = 80;    // VIDEO_MODE_INFORMATION

// The requests a display driver sends as it starts: CTL_CODE(FILE_DEVICE_VIDEO,
// function, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr uint32_t VideoIoctl(uint32_t function) { return (0x23u << 16) | (function << 2); }
constexpr uint32_t kQueryAvailModes = VideoIoctl(0x100);
constexpr uint32_t kQueryNumAvailModes = VideoIoctl(0x101);
constexpr uint32_t kQueryCurrentMode = VideoIoctl(0x102);
constexpr uint32_t kSetCurrentMode = VideoIoctl(0x103);
constexpr uint32_t kResetDevice = VideoIoctl(0x104);
constexpr uint32_t kMapVideoMemory = VideoIoctl(0x116);
constexpr uint32_t kUnmapVideoMemory = VideoIoctl(0x117);
static_assert(kQueryAvailModes == 0x230400 && kUnmapVideoMemory == 0x23045C, "FILE_DEVICE_VIDEO is 0x23");

// VP_STATUS values (Win32 error codes) and the interface types.
constexpr uint32_t kNoError = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorDevNotExist = 55;
constexpr uint32_t kPciBus = 5;
// What VideoPortInitialize answers a record it refuses (NTSTATUS).
constexpr uint32_t kStatusRevisionMismatch = 0xC0000059u;
constexpr uint32_t kStatusInvalidParameter = 0xC000000Du;

} // namespace vp

#endif
