// Compiled in the image build only: the emulator's layout of what the video
// port and a miniport hand each other (emu/video_port_layout.h, typed from
// the platform's documented records) must be the DDK's, field by field, and
// so must its request codes and status values.
#include <ntdef.h>
#include <dderror.h>
#include <devioctl.h>
#include <miniport.h>
#include <video.h>
#include <ntddvdeo.h>

#include <stddef.h>

#include "../../emu/video_port_layout.h"

#define ZERVAL_AT(rec, field, offset) static_assert(offsetof(rec, field) == (offset), #rec "." #field)

ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwInitDataSize, vp::init::HwInitDataSize);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, AdapterInterfaceType, vp::init::AdapterInterfaceType);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwFindAdapter, vp::init::HwFindAdapter);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwInitialize, vp::init::HwInitialize);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwInterrupt, vp::init::HwInterrupt);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwStartIO, vp::init::HwStartIO);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwDeviceExtensionSize, vp::init::HwDeviceExtensionSize);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, StartingDeviceNumber, vp::init::StartingDeviceNumber);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwResetHw, vp::init::HwResetHw);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwTimer, vp::init::HwTimer);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwStartDma, vp::init::HwStartDma);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwSetPowerState, vp::init::HwSetPowerState);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, HwGetPowerState, vp::init::HwGetPowerState);
ZERVAL_AT(VIDEO_HW_INITIALIZATION_DATA, Reserved, vp::init::Reserved);
static_assert(sizeof(VIDEO_HW_INITIALIZATION_DATA) == vp::init::kSize, "VIDEO_HW_INITIALIZATION_DATA size");
static_assert(SIZE_OF_NT4_VIDEO_HW_INITIALIZATION_DATA == vp::init::kSizeNt4, "the NT 4.0 layout's size");
static_assert(SIZE_OF_W2K_VIDEO_HW_INITIALIZATION_DATA == vp::init::kSizeW2k, "the Windows 2000 layout's size");
static_assert(SIZE_OF_WXP_VIDEO_HW_INITIALIZATION_DATA == vp::init::kSizeWxp, "the Windows XP layout's size");

ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, Length, vp::config::Length);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, SystemIoBusNumber, vp::config::SystemIoBusNumber);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, AdapterInterfaceType, vp::config::AdapterInterfaceType);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, BusInterruptLevel, vp::config::BusInterruptLevel);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, BusInterruptVector, vp::config::BusInterruptVector);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, InterruptMode, vp::config::InterruptMode);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, VdmPhysicalVideoMemoryAddress, vp::config::VdmPhysicalVideoMemoryAddress);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, VdmPhysicalVideoMemoryLength, vp::config::VdmPhysicalVideoMemoryLength);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, Master, vp::config::Master);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, VideoPortGetProcAddress, vp::config::VideoPortGetProcAddress);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, DriverRegistryPath, vp::config::DriverRegistryPath);
ZERVAL_AT(VIDEO_PORT_CONFIG_INFO, SystemMemorySize, vp::config::SystemMemorySize);
static_assert(sizeof(VIDEO_PORT_CONFIG_INFO) == vp::config::kSize, "VIDEO_PORT_CONFIG_INFO size");

ZERVAL_AT(VIDEO_ACCESS_RANGE, RangeStart, vp::range::RangeStart);
ZERVAL_AT(VIDEO_ACCESS_RANGE, RangeLength, vp::range::RangeLength);
ZERVAL_AT(VIDEO_ACCESS_RANGE, RangeInIoSpace, vp::range::RangeInIoSpace);
ZERVAL_AT(VIDEO_ACCESS_RANGE, RangeVisible, vp::range::RangeVisible);
ZERVAL_AT(VIDEO_ACCESS_RANGE, RangeShareable, vp::range::RangeShareable);
ZERVAL_AT(VIDEO_ACCESS_RANGE, RangePassive, vp::range::RangePassive);
static_assert(sizeof(VIDEO_ACCESS_RANGE) == vp::range::kSize, "VIDEO_ACCESS_RANGE size");

ZERVAL_AT(VIDEO_REQUEST_PACKET, IoControlCode, vp::request::IoControlCode);
ZERVAL_AT(VIDEO_REQUEST_PACKET, StatusBlock, vp::request::StatusBlock);
ZERVAL_AT(VIDEO_REQUEST_PACKET, InputBuffer, vp::request::InputBuffer);
ZERVAL_AT(VIDEO_REQUEST_PACKET, InputBufferLength, vp::request::InputBufferLength);
ZERVAL_AT(VIDEO_REQUEST_PACKET, OutputBuffer, vp::request::OutputBuffer);
ZERVAL_AT(VIDEO_REQUEST_PACKET, OutputBufferLength, vp::request::OutputBufferLength);
static_assert(sizeof(VIDEO_REQUEST_PACKET) == vp::request::kSize, "VIDEO_REQUEST_PACKET size");
ZERVAL_AT(STATUS_BLOCK, Status, vp::request::Status);
ZERVAL_AT(STATUS_BLOCK, Information, vp::request::Information);
static_assert(sizeof(STATUS_BLOCK) == vp::request::kStatusBlockSize, "STATUS_BLOCK size");

static_assert(sizeof(VIDEO_NUM_MODES) == vp::kNumModesSize, "VIDEO_NUM_MODES size");
static_assert(sizeof(VIDEO_MODE) == vp::kModeSize, "VIDEO_MODE size");
static_assert(sizeof(VIDEO_MEMORY) == vp::kMemorySize, "VIDEO_MEMORY size");
static_assert(sizeof(VIDEO_MEMORY_INFORMATION) == vp::kMemoryInformationSize, "VIDEO_MEMORY_INFORMATION size");
static_assert(sizeof(VIDEO_MODE_INFORMATION) == vp::kModeInformationSize, "VIDEO_MODE_INFORMATION size");

static_assert(IOCTL_VIDEO_QUERY_AVAIL_MODES == vp::kQueryAvailModes, "IOCTL_VIDEO_QUERY_AVAIL_MODES");
static_assert(IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES == vp::kQueryNumAvailModes, "IOCTL_VIDEO_QUERY_NUM_AVAIL_MODES");
static_assert(IOCTL_VIDEO_QUERY_CURRENT_MODE == vp::kQueryCurrentMode, "IOCTL_VIDEO_QUERY_CURRENT_MODE");
static_assert(IOCTL_VIDEO_SET_CURRENT_MODE == vp::kSetCurrentMode, "IOCTL_VIDEO_SET_CURRENT_MODE");
static_assert(IOCTL_VIDEO_RESET_DEVICE == vp::kResetDevice, "IOCTL_VIDEO_RESET_DEVICE");
static_assert(IOCTL_VIDEO_MAP_VIDEO_MEMORY == vp::kMapVideoMemory, "IOCTL_VIDEO_MAP_VIDEO_MEMORY");
static_assert(IOCTL_VIDEO_UNMAP_VIDEO_MEMORY == vp::kUnmapVideoMemory, "IOCTL_VIDEO_UNMAP_VIDEO_MEMORY");

static_assert(NO_ERROR == vp::kNoError && ERROR_INVALID_FUNCTION == vp::kErrorInvalidFunction &&
                  ERROR_NOT_ENOUGH_MEMORY == vp::kErrorNotEnoughMemory &&
                  ERROR_INVALID_PARAMETER == vp::kErrorInvalidParameter &&
                  ERROR_INSUFFICIENT_BUFFER == vp::kErrorInsufficientBuffer && ERROR_MORE_DATA == vp::kErrorMoreData &&
                  ERROR_DEV_NOT_EXIST == vp::kErrorDevNotExist,
              "the VP_STATUS values");
static_assert(PCIBus == vp::kPciBus, "PCIBus");
