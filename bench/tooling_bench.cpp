// zerval-tooling-bench: what the test tooling spends on the emulated image, in
// CPU time of this process: one accept-all attach on a machine that is
// already loaded and has run it before (warm, as the behaviour suite and the
// differential fuzzer's image side do), and one on a machine made for it
// (fresh: load, bind, attach).  The median of several rounds is printed, with
// host CPU time per guest instruction.  Then the reading of the image's code
// into blocks (emu/x86_block.h, on Zydis), the first time and as the
// emulator finds it kept when it reads the same bytes again, beside the
// hand-written reader it replaced (legacy_block_reader.h), on the same blocks.  The differential
// fuzzer's rate is measured by bench/tooling-bench.sh, which runs this first.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <Zydis/Decoder.h>

#include "image_backend.h"
#include "legacy_block_reader.h"
#include "x86_block.h"
#include "x86_decoder.h"

namespace {

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU milliseconds per attach, `rounds` rounds of `perRound` attaches each.
struct Figure {
    double ms = 0;
    uint64_t guestInstructions = 0;
};

Figure Warm(const pe::Image &image, int rounds, int perRound)
{
    std::unique_ptr<ModuleUnderTest> m = MakeImageModule(image);
    emu::Machine &machine = *MachineOf(*m);
    std::vector<double> samples;
    uint64_t instructions = 0;
    for (int r = -1; r < rounds; ++r) {  // round -1 warms the machine up
        double spent = 0;
        for (int i = 0; i < perRound; ++i) {
            machine.reset();
            m->log.clear();
            m->pool.clear();
            const double start = CpuSeconds();
            if (m->attach() != TRUE)
                throw std::runtime_error("the attach failed");
            spent += CpuSeconds() - start;
            instructions = machine.lastCall().instructions;
        }
        if (r >= 0)
            samples.push_back(spent * 1e3 / perRound);
    }
    return Figure{Median(samples), instructions};
}

Figure Fresh(const pe::Image &image, int rounds, int perRound)
{
    std::vector<double> samples;
    uint64_t instructions = 0;
    for (int r = 0; r < rounds; ++r) {
        double spent = 0;
        for (int i = 0; i < perRound; ++i) {
            const double start = CpuSeconds();
            std::unique_ptr<ModuleUnderTest> m = MakeImageModule(image);
            if (m->attach() != TRUE)
                throw std::runtime_error("the attach failed");
            spent += CpuSeconds() - start;
            instructions = MachineOf(*m)->lastCall().instructions;
        }
        samples.push_back(spent * 1e3 / perRound);
    }
    return Figure{Median(samples), instructions};
}

void Print(const char *what, const Figure &f)
{
    std::printf("%-38s %8.3f ms CPU  (%llu guest instructions, %.0f ns per guest instruction)\n", what, f.ms,
                static_cast<unsigned long long>(f.guestInstructions), f.ms * 1e6 / static_cast<double>(f.guestInstructions));
}

// The image's code sections cut where the engine ends a block it
// translates: after each jump, call, return or interrupt, and around bytes
// that are no instruction (skipped).
std::vector<std::vector<uint8_t>> CodeBlocks(const pe::Image &image)
{
    std::vector<std::vector<uint8_t>> blocks;
    for (const pe::Section &section : image.sections) {
        if ((section.characteristics & pe::kScnExecute) == 0)
            continue;
        const std::vector<uint8_t> code = image.read(section.virtualAddress, std::min(section.virtualSize, section.rawSize));
        size_t begin = 0, at = 0;
        const auto cut = [&](size_t end) {
            if (end > begin)
                blocks.emplace_back(code.begin() + static_cast<std::ptrdiff_t>(begin),
                                    code.begin() + static_cast<std::ptrdiff_t>(end));
        };
        while (at < code.size()) {
            ZydisDecodedInstruction in;
            if (!ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&emu::I386Decoder(), nullptr, code.data() + at,
                                                            code.size() - at, &in))) {
                cut(at);
                begin = ++at;
                continue;
            }
            at += in.length;
            switch (in.meta.category) {
            case ZYDIS_CATEGORY_COND_BR:
            case ZYDIS_CATEGORY_UNCOND_BR:
            case ZYDIS_CATEGORY_CALL:
            case ZYDIS_CATEGORY_RET:
            case ZYDIS_CATEGORY_INTERRUPT:
                cut(at);
                begin = at;
                break;
            default: break;
            }
        }
        cut(code.size());
    }
    return blocks;
}

using BlockReader = emu::BlockReading (*)(const uint8_t *, uint32_t, const std::function<bool(uint32_t)> &);

// CPU nanoseconds per instruction read, the median of `rounds` rounds of
// `perRound` passes over every block.
struct Reading {
    double ns = 0;
    uint64_t instructions = 0;  // read in one pass
};

Reading TimeReader(BlockReader read, const std::vector<std::vector<uint8_t>> &blocks, int rounds, int perRound)
{
    const std::function<bool(uint32_t)> never = [](uint32_t) { return false; };
    std::vector<double> samples;
    uint64_t instructions = 0;
    for (int r = -1; r < rounds; ++r) {  // round -1 warms the caches up
        instructions = 0;
        const double start = CpuSeconds();
        for (int i = 0; i < perRound; ++i)
            for (const std::vector<uint8_t> &b : blocks)
                instructions += read(b.data(), static_cast<uint32_t>(b.size()), never).instructions;
        if (r >= 0)
            samples.push_back((CpuSeconds() - start) * 1e9 / static_cast<double>(instructions));
        instructions /= static_cast<uint64_t>(perRound);
    }
    return Reading{Median(samples), instructions};
}

// Blocks on which the two readers' readings differ in any figure.
size_t Disagreements(const std::vector<std::vector<uint8_t>> &blocks)
{
    const std::function<bool(uint32_t)> never = [](uint32_t) { return false; };
    size_t n = 0;
    for (const std::vector<uint8_t> &b : blocks) {
        const auto size = static_cast<uint32_t>(b.size());
        const emu::BlockReading before = legacy::ReadBlock(b.data(), size, never);
        for (const BlockReader read : {emu::ReadBlockAfresh, emu::ReadBlock}) {
            const emu::BlockReading now = read(b.data(), size, never);
            if (now.instructions != before.instructions || now.read != before.read ||
                now.lastOffset != before.lastOffset || now.lowestEsp != before.lowestEsp) {
                ++n;
                break;
            }
        }
    }
    return n;
}

void BlockReading(const pe::Image &image)
{
    const std::vector<std::vector<uint8_t>> blocks = CodeBlocks(image);
    const Reading zydis = TimeReader(emu::ReadBlockAfresh, blocks, 7, 200);
    const Reading kept = TimeReader(emu::ReadBlock, blocks, 7, 200);
    const Reading hand = TimeReader(legacy::ReadBlock, blocks, 7, 200);
    std::printf("  block reading, %zu blocks of its code:\n", blocks.size());
    std::printf("    %-34s %8.1f ns CPU per instruction read  (%llu read)\n", "Zydis, first reading", zydis.ns,
                static_cast<unsigned long long>(zydis.instructions));
    std::printf("    %-34s %8.1f ns CPU per instruction read  (%llu read)\n", "read before (the emulator's)", kept.ns,
                static_cast<unsigned long long>(kept.instructions));
    std::printf("    %-34s %8.1f ns CPU per instruction read  (%llu read)\n", "hand tables (before Zydis)", hand.ns,
                static_cast<unsigned long long>(hand.instructions));
    std::printf("    the readings differ on %zu of the blocks\n", Disagreements(blocks));
}

} // namespace

// With `warm`, `fresh` or `blocks` only that figure is measured, for a
// profiler.
int main(int argc, char **argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    if (argc > 2 || (only != "" && only != "warm" && only != "fresh" && only != "blocks")) {
        std::fprintf(stderr, "usage: zerval-tooling-bench [warm|fresh|blocks]\n");
        return 2;
    }
    try {
        for (const ImageDialect dialect : kImageDialects) {
            const pe::Image &image = BuiltImage(dialect);
            std::printf("%s image:\n", DialectName(dialect).c_str());
            if (only == "" || only == "warm")
                Print("  warm accept-all attach", Warm(image, 7, 40));
            if (only == "" || only == "fresh")
                Print("  fresh machine + accept-all attach", Fresh(image, 7, 20));
            if (only == "" || only == "blocks")
                BlockReading(image);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zerval-tooling-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
