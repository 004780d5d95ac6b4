// The bytes the display driver hands the module by address (the result byte of
// lDllAttach, the record of vValidateMode and SetMode) are guarded on every
// backend: a write beside them, or into SetMode's record, is a fault naming
// the entry.  Shown with stand-ins for a faulty module: entries of the test's
// own on the host, the image's exports overwritten with code of the test's
// own under the emulator.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_backend.h"
#include "image_backend.h"

namespace {

// --- The host build --------------------------------------------------------

BOOLEAN ZERVAL_CALL AttachWritingTwoBytes(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, UCHAR *pResult)
{
    const uint16_t zero = 0;
    std::memcpy(pResult, &zero, sizeof zero);
    return TRUE;
}

BOOLEAN ZERVAL_CALL AttachWritingTheByteBefore(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, UCHAR *pResult)
{
    pResult[-1] = 0;
    return TRUE;
}

BOOLEAN ZERVAL_CALL AttachWritingTheByte(ULONG_PTR, ULONG_PTR, ULONG_PTR, ULONG_PTR, UCHAR *pResult)
{
    *pResult = 0;
    return TRUE;
}

VOID ZERVAL_CALL ValidateWritingPastTheRecord(VIDEO_MODE_INFORMATION *Mode, ULONG)
{
    const ULONG zero = 0;
    std::memcpy(reinterpret_cast<UCHAR *>(Mode) + sizeof *Mode, &zero, sizeof zero);
}

ULONG ZERVAL_CALL SetModeWritingTheRecord(const VIDEO_MODE_INFORMATION *Mode, ULONG)
{
    const_cast<VIDEO_MODE_INFORMATION *>(Mode)->Length = 0;
    return 0;
}

VIDEO_MODE_INFORMATION Record()
{
    VIDEO_MODE_INFORMATION r{};
    r.Length = sizeof r;
    r.VisScreenWidth = 640;
    r.VisScreenHeight = 480;
    r.BitsPerPlane = 8;
    r.Frequency = 60;
    return r;
}

std::vector<std::string> BreachesOf(HostEntries entries, void (*call)(ModuleUnderTest &))
{
    auto m = MakeHostModule(entries);
    call(*m);
    return m->log.breaches();
}

void AttachWithAResultByte(ModuleUnderTest &m)
{
    uint8_t result = 0x5A;
    m.lDllAttach(1, 2, 3, 4, &result);
}

TEST(CallerBytes, HostBuildReportsAWriteBesideTheResultByte)
{
    HostEntries entries = ModuleEntries();
    EXPECT_TRUE(BreachesOf(entries, AttachWithAResultByte).empty()) << "the module itself";
    entries.lDllAttach = AttachWritingTheByte;
    EXPECT_TRUE(BreachesOf(entries, AttachWithAResultByte).empty()) << "a stand-in that writes the byte only";

    entries.lDllAttach = AttachWritingTwoBytes;
    EXPECT_EQ(BreachesOf(entries, AttachWithAResultByte),
              std::vector<std::string>{
                  "lDllAttach: wrote outside the 1-byte result byte it was handed: byte +1 (0xa5 -> 0x00)"});
    entries.lDllAttach = AttachWritingTheByteBefore;
    EXPECT_EQ(BreachesOf(entries, AttachWithAResultByte),
              std::vector<std::string>{
                  "lDllAttach: wrote outside the 1-byte result byte it was handed: byte -1 (0xa5 -> 0x00)"});
}

TEST(CallerBytes, HostBuildReportsAWriteBesideARecordAndIntoSetModesRecord)
{
    HostEntries entries = ModuleEntries();
    entries.vValidateMode = ValidateWritingPastTheRecord;
    EXPECT_EQ(BreachesOf(entries,
                         [](ModuleUnderTest &m) {
                             VIDEO_MODE_INFORMATION r = Record();
                             m.vValidateMode(&r, 0);
                         }),
              std::vector<std::string>{
                  "vValidateMode: wrote outside the 80-byte mode record it was handed: byte +80 (0xa5 -> 0x00)"});
    entries.SetMode = SetModeWritingTheRecord;
    EXPECT_EQ(BreachesOf(entries,
                         [](ModuleUnderTest &m) {
                             const VIDEO_MODE_INFORMATION r = Record();
                             m.SetMode(&r, 0);
                         }),
              std::vector<std::string>{
                  "SetMode: wrote into the 80-byte mode record it was handed to read only: byte +0 (0x50 -> 0x00)"});
}

// --- Either image under the emulator ---------------------------------------

class CallerBytesOnImage : public ::testing::TestWithParam<ImageDialect> {
protected:
    void SetUp() override { m = MakeImageModule(GetParam()); }

    // The export's code replaced with `code`; then what calling it through
    // the backend reports, or "" when nothing.
    std::string FaultOf(const std::string &exportName, const std::vector<uint8_t> &code,
                        void (*call)(ModuleUnderTest &))
    {
        emu::Machine &machine = *MachineOf(*m);
        machine.write(machine.exportAddress(exportName), code.data(), static_cast<uint32_t>(code.size()));
        try {
            call(*m);
        } catch (const emu::Fault &f) {
            return f.what();
        }
        return "";
    }

    std::unique_ptr<ModuleUnderTest> m;
};

// mov eax, [esp + 20]: pResult, lDllAttach's fifth argument.
const std::vector<uint8_t> kLoadResultAddress = {0x8B, 0x44, 0x24, 0x14};
// mov eax, 1; ret 20
const std::vector<uint8_t> kReturnTrueFromAttach = {0xB8, 0x01, 0x00, 0x00, 0x00, 0xC2, 0x14, 0x00};

std::vector<uint8_t> Join(std::vector<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> code;
    for (const std::vector<uint8_t> &p : parts)
        code.insert(code.end(), p.begin(), p.end());
    return code;
}

TEST_P(CallerBytesOnImage, AWriteBesideTheResultByteIsAFault)
{
    // mov byte ptr [eax], 0: the byte alone passes.
    EXPECT_EQ(FaultOf(kAttachExport, Join({kLoadResultAddress, {0xC6, 0x00, 0x00}, kReturnTrueFromAttach}),
                      AttachWithAResultByte),
              "");

    // mov word ptr [eax], 0: it ends against an unmapped page.
    const std::string twoBytes =
        FaultOf(kAttachExport, Join({kLoadResultAddress, {0x66, 0xC7, 0x00, 0x00, 0x00}, kReturnTrueFromAttach}),
                AttachWithAResultByte);
    EXPECT_EQ(twoBytes.rfind(std::string(kAttachExport) + ": write to unmapped memory at 0x", 0), 0u) << twoBytes;
    EXPECT_NE(twoBytes.find("in _lDllAttach@20 (past the end of the 1-byte result byte it was handed)"),
              std::string::npos)
        << twoBytes;

    // mov dword ptr [eax], 0
    const std::string fourBytes = FaultOf(
        kAttachExport, Join({kLoadResultAddress, {0xC7, 0x00, 0x00, 0x00, 0x00, 0x00}, kReturnTrueFromAttach}),
        AttachWithAResultByte);
    EXPECT_NE(fourBytes.find("in _lDllAttach@20 (past the end of the 1-byte result byte it was handed)"),
              std::string::npos)
        << fourBytes;

    // mov byte ptr [eax - 1], 0: found when the call returns.
    EXPECT_EQ(FaultOf(kAttachExport, Join({kLoadResultAddress, {0xC6, 0x40, 0xFF, 0x00}, kReturnTrueFromAttach}),
                      AttachWithAResultByte),
              std::string(kAttachExport) +
                  ": wrote outside the 1-byte result byte it was handed: byte -1 (0xa5 -> 0x00)");
}

TEST_P(CallerBytesOnImage, AWriteBesideARecordOrIntoSetModesRecordIsAFault)
{
    // mov eax, [esp + 4]; mov dword ptr [eax + 80], 0; ret 8
    const std::string past = FaultOf(decorated::vValidateMode,
                                     {0x8B, 0x44, 0x24, 0x04, 0xC7, 0x40, 0x50, 0x00, 0x00, 0x00, 0x00, 0xC2, 0x08, 0x00},
                                     [](ModuleUnderTest &module) {
                                         VIDEO_MODE_INFORMATION r = Record();
                                         module.vValidateMode(&r, 0);
                                     });
    EXPECT_EQ(past.rfind(std::string(decorated::vValidateMode) + ": write to unmapped memory at 0x", 0), 0u) << past;
    EXPECT_NE(past.find("(past the end of the 80-byte mode record it was handed)"), std::string::npos) << past;

    // mov eax, [esp + 4]; mov dword ptr [eax], 0; xor eax, eax; ret 8
    EXPECT_EQ(FaultOf(decorated::SetMode,
                      {0x8B, 0x44, 0x24, 0x04, 0xC7, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0xC0, 0xC2, 0x08, 0x00},
                      [](ModuleUnderTest &module) {
                          const VIDEO_MODE_INFORMATION r = Record();
                          module.SetMode(&r, 0);
                      }),
              std::string(decorated::SetMode) +
                  ": wrote into the 80-byte mode record it was handed to read only: byte +0 (0x50 -> 0x00)");
}

// The module itself writes the byte and the record's Length only.
TEST_P(CallerBytesOnImage, TheModuleWritesInsideItsBlocksOnly)
{
    uint8_t result = 0x5A;
    EXPECT_EQ(m->attach(&result), TRUE);
    EXPECT_EQ(result, 0);
    VIDEO_MODE_INFORMATION r = Record();
    m->vValidateMode(&r, 0);
    EXPECT_EQ(r.Length, sizeof r);
    const VIDEO_MODE_INFORMATION unchanged = Record();
    EXPECT_EQ(m->SetMode(&unchanged, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Dialects, CallerBytesOnImage, ::testing::ValuesIn(kImageDialects),
                         [](const ::testing::TestParamInfo<ImageDialect> &info) { return DialectName(info.param); });

} // namespace
