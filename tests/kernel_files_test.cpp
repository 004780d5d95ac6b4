// The simulated kernel's files, as a driver reaches them through ZwCreateFile,
// ZwWriteFile and ZwClose: what each CreateDisposition does to a file that is
// there or not, where a write lands, and the NTSTATUS of every refusal.
#include <gtest/gtest.h>

#include "kernel_files.h"

namespace {

// CreateDisposition and IO_STATUS_BLOCK.Information values, and NTSTATUS
// codes, as the kernel's interface defines them.
constexpr uint32_t kSupersede = 0, kOpen = 1, kCreate = 2, kOpenIf = 3, kOverwrite = 4, kOverwriteIf = 5;
constexpr uint32_t kSuperseded = 0, kOpened = 1, kCreated = 2, kOverwritten = 3;
constexpr uint32_t kSuccess = 0, kInvalidHandle = 0xC0000008u, kInvalidParameter = 0xC000000Du,
                   kNameNotFound = 0xC0000034u, kNameCollision = 0xC0000035u, kDiskFull = 0xC000007Fu,
                   kTooManyOpenFiles = 0xC000011Fu;

std::vector<uint8_t> Bytes(const std::string &s) { return {s.begin(), s.end()}; }
std::string Text(const emu::KernelFile &f) { return {f.bytes.begin(), f.bytes.end()}; }

const char kPath[] = "\\DosDevices\\C:\\zerval-probe.txt";

TEST(KernelFiles, EachDispositionOnAFileThatIsThereOrNot)
{
    struct Case {
        uint32_t disposition;
        uint32_t absent;   // with no file: kCreated (made) or the refusal
        uint32_t present;  // with a file: the Information answered, or the refusal
        bool keeps;       // whether an existing file keeps its bytes
    };
    const Case cases[] = {
        {kSupersede, kCreated, kSuperseded, false}, {kOpen, kNameNotFound, kOpened, true},
        {kCreate, kCreated, kNameCollision, true},  {kOpenIf, kCreated, kOpened, true},
        {kOverwrite, kNameNotFound, kOverwritten, false}, {kOverwriteIf, kCreated, kOverwritten, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("disposition " + std::to_string(c.disposition));
        emu::KernelFiles files;
        const auto fresh = files.create(kPath, c.disposition);
        if (c.absent == kNameNotFound) {
            EXPECT_EQ(fresh.status, kNameNotFound);
            EXPECT_TRUE(files.files().empty());
        } else {
            EXPECT_EQ(fresh.status, kSuccess);
            EXPECT_EQ(fresh.information, kCreated);
        }

        emu::KernelFiles other;
        const auto first = other.create(kPath, kCreate);
        ASSERT_EQ(other.write(first.handle, Bytes("before"), std::nullopt), kSuccess);
        // Paths compare without regard to case.
        const auto again = other.create("\\DOSDEVICES\\c:\\ZERVAL-PROBE.TXT", c.disposition);
        if (c.present == kNameCollision) {
            EXPECT_EQ(again.status, kNameCollision);
        } else {
            EXPECT_EQ(again.status, kSuccess);
            EXPECT_EQ(again.information, c.present);
            EXPECT_NE(again.handle, first.handle);
        }
        ASSERT_EQ(other.files().size(), 1u);
        EXPECT_EQ(Text(other.files()[0]), c.keeps ? "before" : "");
    }
    emu::KernelFiles files;
    EXPECT_EQ(files.create(kPath, 6).status, kInvalidParameter);
}

TEST(KernelFiles, WritesFollowThePositionOrTheOffsetGiven)
{
    emu::KernelFiles files;
    const uint32_t h = files.create(kPath, kOverwriteIf).handle;
    EXPECT_EQ(files.write(h, Bytes("zprobe "), std::nullopt), kSuccess);
    EXPECT_EQ(files.write(h, Bytes("report\n"), std::nullopt), kSuccess);
    EXPECT_EQ(files.write(h, Bytes("Z"), 0), kSuccess);  // then the position is 1
    EXPECT_EQ(files.write(h, Bytes("P"), std::nullopt), kSuccess);
    EXPECT_EQ(files.write(h, Bytes("end\n"), emu::KernelFiles::kEndOfFile), kSuccess);
    EXPECT_EQ(files.write(h, Bytes("!"), 20), kSuccess);  // beyond the end: the gap is zeros
    ASSERT_EQ(files.files().size(), 1u);
    EXPECT_EQ(files.files()[0].path, kPath);
    EXPECT_EQ(Text(files.files()[0]), std::string("ZProbe report\nend\n\0\0!", 21));

    // A second handle starts at 0.
    const uint32_t h2 = files.create(kPath, kOpen).handle;
    EXPECT_EQ(files.write(h2, Bytes("z"), std::nullopt), kSuccess);
    EXPECT_EQ(Text(files.files()[0]).substr(0, 2), "zP");
}

TEST(KernelFiles, RefusalsAreStatusesAndChangeNothing)
{
    emu::KernelFiles files;
    const uint32_t h = files.create(kPath, kCreate).handle;
    EXPECT_EQ(files.write(h + 1, Bytes("x"), std::nullopt), kInvalidHandle);
    EXPECT_EQ(files.write(h, Bytes("x"), emu::KernelFiles::kLargestFile), kDiskFull);
    EXPECT_EQ(files.write(h, std::vector<uint8_t>(emu::KernelFiles::kLargestFile + 1), std::nullopt), kDiskFull);
    EXPECT_EQ(files.write(h, std::vector<uint8_t>(emu::KernelFiles::kLargestFile), std::nullopt), kSuccess);
    EXPECT_EQ(files.write(h, Bytes("x"), std::nullopt), kDiskFull);
    EXPECT_EQ(files.files()[0].bytes.size(), emu::KernelFiles::kLargestFile);
    EXPECT_EQ(files.close(h), kSuccess);
    EXPECT_EQ(files.close(h), kInvalidHandle);
    EXPECT_EQ(files.write(h, Bytes("x"), std::nullopt), kInvalidHandle);
    EXPECT_EQ(files.create("", kCreate).status, 0xC0000033u);  // STATUS_OBJECT_NAME_INVALID

    emu::KernelFiles many;
    for (uint32_t i = 0; i < emu::KernelFiles::kMostHandles; ++i)
        ASSERT_EQ(many.create(kPath, kOpenIf).status, kSuccess);
    EXPECT_EQ(many.create(kPath, kOpenIf).status, kTooManyOpenFiles);

    // Every file together: the total is bounded, and overwriting gives room back.
    emu::KernelFiles big;
    const std::vector<uint8_t> full(emu::KernelFiles::kLargestFile);
    const uint32_t fill = static_cast<uint32_t>(emu::KernelFiles::kLargestTotal / emu::KernelFiles::kLargestFile);
    for (uint32_t i = 0; i < fill; ++i) {
        const auto c = big.create(kPath + std::to_string(i), kCreate);
        ASSERT_EQ(big.write(c.handle, full, std::nullopt), kSuccess);
        ASSERT_EQ(big.close(c.handle), kSuccess);
    }
    const uint32_t last = big.create("\\last", kCreate).handle;
    EXPECT_EQ(big.write(last, Bytes("x"), std::nullopt), kDiskFull);
    EXPECT_EQ(big.create(kPath + std::string("0"), kOverwrite).status, kSuccess);
    EXPECT_EQ(big.write(last, Bytes("x"), std::nullopt), kSuccess);

    // And the number of files.
    emu::KernelFiles named;
    for (uint32_t i = 0; i < emu::KernelFiles::kMostFiles; ++i)
        ASSERT_EQ(named.close(named.create(kPath + std::to_string(i), kCreate).handle), kSuccess);
    EXPECT_EQ(named.create("\\one more", kCreate).status, 0xC000009Au);  // STATUS_INSUFFICIENT_RESOURCES
    EXPECT_EQ(named.create(kPath + std::string("0"), kOpen).status, kSuccess);
}

} // namespace
