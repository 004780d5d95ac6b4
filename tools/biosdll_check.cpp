// biosdll-check IMAGE: the last step of each image's build.  A compiler may
// accept a section placement and then drop it without a word (mingw-w64's
// headers define __attribute__(x) away for compilers that are not GNU), and a
// linker asked to mark a section that does not exist says nothing either.
// This fails the build unless .biosdll holds exactly its five objects, in
// order: BIOS_Attach, modetable, modeTableSize, frequencytable, freqTableSize.
#include <cstdio>
#include <string>
#include <vector>

#include "image_tool.h"
#include "pe_image.h"
#include "zerval.h"

namespace {

// One object of the section: its exported name (none for BIOS_Attach, which
// is not exported) and its size.
struct Slot {
    const char *name;
    const char *exportName;
    uint32_t size;
};

const Slot kSlots[] = {
    {"BIOS_Attach", nullptr, 4},
    {"modetable", "modetable", sizeof(ModeTableEntry) * ZERVAL_MODE_TABLE_ROWS},
    {"modeTableSize", "modeTableSize", 4},
    {"frequencytable", "frequencytable", 4 * ZERVAL_FREQUENCY_TABLE_ENTRIES},
    {"freqTableSize", "freqTableSize", 4},
};

// Every fault found, one line each.
std::vector<std::string> Check(const pe::Image &img)
{
    std::vector<std::string> faults;
    const pe::Section *s = img.section(".biosdll");
    if (s == nullptr)
        return {"no .biosdll section (was the section placement dropped by the compiler?)"};

    uint32_t offset = 0;
    for (const Slot &slot : kSlots) {
        if (slot.exportName != nullptr) {
            const pe::Export *e = img.exported(slot.exportName);
            if (e == nullptr)
                faults.push_back(std::string(slot.name) + " is not exported");
            else if (e->rva != s->virtualAddress + offset)
                faults.push_back(std::string(slot.name) + " at RVA " + pe::Hex(e->rva) + ", expected .biosdll+" +
                                 pe::Hex(offset) + " (RVA " + pe::Hex(s->virtualAddress + offset) + ")");
        }
        offset += slot.size;
    }
    if (s->virtualSize != offset)
        faults.push_back(".biosdll holds " + std::to_string(s->virtualSize) + " bytes, expected " +
                         std::to_string(offset) + " (its five objects and nothing else)");

    // BIOS_Attach is not exported: the section's first slot must be empty at
    // load and be what the code refers to there.
    if (img.u32At(s->virtualAddress) != 0)
        faults.push_back("BIOS_Attach (.biosdll+0x0) is not empty at load");
    bool referenced = false;
    for (uint32_t rva : img.relocations)
        referenced = referenced || img.u32At(rva) == img.imageBase + s->virtualAddress;
    if (!referenced)
        faults.push_back("nothing in the image refers to BIOS_Attach (.biosdll+0x0)");

    const uint32_t want = pe::kScnRead | pe::kScnWrite | pe::kScnNotPaged;
    if ((s->characteristics & want) != want)
        faults.push_back(".biosdll is not readable, writable and non-paged (flags " + pe::Hex(s->characteristics) + ")");
    if (s->characteristics & (pe::kScnExecute | pe::kScnDiscardable))
        faults.push_back(".biosdll is executable or discardable (flags " + pe::Hex(s->characteristics) + ")");
    return faults;
}

} // namespace

int main(int argc, char **argv)
{
    return RunImageTool("biosdll-check", argc, argv, [](const char *path) {
        const std::vector<std::string> faults = Check(pe::Load(path));
        for (const std::string &fault : faults)
            std::fprintf(stderr, "biosdll-check: %s: %s\n", path, fault.c_str());
        return faults.empty() ? 0 : 1;
    });
}
