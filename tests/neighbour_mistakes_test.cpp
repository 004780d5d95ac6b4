// zerval-sim with a neighbour team's own image that gets one thing wrong
// (tests/neighbours/, built from the SDK): each mistake is one line that names
// the image, the role and what it did, with exit status 1, or - where the
// module refuses the attach, which is the module's answer - the attach line.
// The same services driver without a mistake runs through.
#include <gtest/gtest.h>

#include <regex>

#include "accept_all.h"
#include "build_products.h"
#include "run_tool.h"

namespace {

const std::string kSim = products::Existing(products::kSim);
const std::string kImage = products::Existing(products::kImageGnu);
const std::string kMistakes = ZERVAL_TEST_NEIGHBOURS_DIR;
const std::string kExamples = ZERVAL_EXAMPLES_DIR;

std::string Image(const std::string &name) { return kMistakes + "/" + name + ".sys"; }

// A regular expression for a literal text.
std::string Literal(const std::string &text) { return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"); }

// The run ends with exactly one line on stderr, `line` (a regular
// expression, after "zerval-sim: error: "), nothing on stdout, status 1.
void ExpectError(const std::vector<std::string> &args, const std::string &line)
{
    std::string shown;
    for (const std::string &a : args)
        shown += " " + a;
    SCOPED_TRACE("zerval-sim" + shown);
    const ToolRun run = RunTool(kSim, args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(std::regex_match(run.err, std::regex("zerval-sim: error: " + line + "\n"))) << run.err;
}

const std::string kAt = R"( \.text\+0x[0-9a-f]+ \(RVA 0x[0-9a-f]+\))";  // where in the image

TEST(NeighbourMistakes, AFaultInTheServicesDriverIsItsOwn)
{
    const std::string attach = "_lDllAttach@20: ";
    ExpectError({"--services", Image("kelv_cdecl_attach")},
                Literal(Image("kelv_cdecl_attach") + ", the services driver, broke the rules, not zerval.sys: " + attach +
                        "kelv.sys!_Attach@16: stack unbalanced: the callee popped 0 bytes of arguments, stdcall wants "
                        "16 (is it __cdecl?); it returned at kelv.sys") + kAt + Literal(": ret"));
    ExpectError({"--services", Image("kelv_query_clobbers_ebx")},
                Literal(Image("kelv_query_clobbers_ebx") + ", the services driver, broke the rules, not zerval.sys: " +
                        attach + "kelv.sys!pfnQueryMode: EBX not preserved (0xbadf00d on return, ") +
                    "0x[0-9a-f]+" + Literal(" at the call); it returned at kelv.sys") + kAt + Literal(": ret 0x8"));
}

// The module reaches some hooks by a jump (a tail call), others by a call:
// either way a hook compiled __cdecl is the services driver's mistake, named
// with its hook and the entry it came in, on both images.  A hook without
// arguments is the same in both conventions and runs through.
TEST(NeighbourMistakes, ACdeclHookIsItsDriversOwnHoweverTheModuleReachesIt)
{
    struct Case {
        const char *variant;
        std::vector<std::string> command;
        const char *entry;
        const char *hook;
        int argBytes;
    };
    const Case cases[] = {
        {"init", {"list"}, "_lDllAttach@20", "pfnInit", 4},
        {"query_mode", {"list"}, "_lDllAttach@20", "pfnQueryMode", 8},
        {"set_mode", {"set", "640x480x8@60"}, "_SetMode@8", "pfnSetMode", 12},
        {"pass_through", {"passthrough", "1", "2", "3"}, "_MeltoBiosDll@12", "pfnPassThrough", 12},
        {"function", {"function", "7"}, "_Orvalen_Function@4", "pfnFunction", 4},
    };
    for (const std::string &image : {products::Existing(products::kImageGnu), products::Existing(products::kImageMsvc)}) {
        for (const Case &c : cases) {
            const std::string kelv = Image(std::string("kelv_cdecl_") + c.variant);
            std::vector<std::string> args = {"--image", image, "--services", kelv};
            args.insert(args.end(), c.command.begin(), c.command.end());
            ExpectError(args, Literal(kelv + ", the services driver, broke the rules, not zerval.sys: " + c.entry + ": kelv.sys!" +
                                      c.hook + ": stack unbalanced: the callee popped 0 bytes of arguments, stdcall wants " +
                                      std::to_string(c.argBytes) + " (is it __cdecl?); it returned at kelv.sys") +
                                  kAt + Literal(": ret"));
        }
        ExpectError({"--image", image, "--services", kExamples + "/kelv.sys", "--tv", Image("rmx_cdecl_control"), "passthrough",
                     "0", "1", "2"},
                    Literal(Image("rmx_cdecl_control") + ", the TV driver, broke the rules, not zerval.sys: _MeltoBiosDll@12: "
                            "rmx.sys!_S_RMX_Control@12: stack unbalanced: the callee popped 0 bytes of arguments, stdcall "
                            "wants 12 (is it __cdecl?); it returned at rmx.sys") +
                        kAt + Literal(": ret"));
        ToolRun run = RunTool(kSim, {"--image", image, "--services", Image("kelv_cdecl_free_framebuffer"), "free-framebuffer"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("GetFreeFramebufferSize() = 4194304\n"), std::string::npos) << run.out;
        run = RunTool(kSim, {"--image", image, "--services", Image("kelv_cdecl_initial_value"), "initial-value"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("BiosDllSetInitialValue() = 1\n"), std::string::npos) << run.out;
    }
}

// A hook the module jumps to returns straight to the display driver: a
// callee-saved register it changes, or the display driver's frame it writes,
// is still its own driver's mistake, named with the hook.
TEST(NeighbourMistakes, ABreachInAHookTheModuleJumpsToIsItsDriversOwn)
{
    for (const std::string &image : {products::Existing(products::kImageGnu), products::Existing(products::kImageMsvc)}) {
        ExpectError({"--image", image, "--services", Image("kelv_function_clobbers_ebx"), "function", "5"},
                    Literal(Image("kelv_function_clobbers_ebx") + ", the services driver, broke the rules, not zerval.sys: "
                            "_Orvalen_Function@4: kelv.sys!pfnFunction: EBX not preserved (0xbadf00d on return, ") +
                        "0x[0-9a-f]+" + Literal(" at the call); it returned at kelv.sys") + kAt + Literal(": ret 0x4"));
        ExpectError({"--image", image, "--services", Image("kelv_function_writes_callers"), "function", "5"},
                    Literal(Image("kelv_function_writes_callers") + ", the services driver, broke the rules, not zerval.sys: "
                            "_Orvalen_Function@4: kelv.sys wrote 4 bytes outside what zerval.sys handed to "
                            "kelv.sys!pfnFunction: at ") +
                        "0x[0-9a-f]+" + Literal(" in its caller's stack frame, 0 bytes above its arguments; the write at kelv.sys") +
                        kAt + Literal(", in pfnFunction: mov dword ptr [") + "e[a-z]{2}" + Literal("+0x4], 0xdeadbeef"));
    }
}

// What a sound driver does with the stack is not taken for a kept pointer:
// an overrun whose address was computed into a register first (unoptimised
// code) is named as the overrun it is, although records handed earlier lay
// there; a buffer of the services driver's own frame, which it lends the TV
// driver to fill, is theirs.
TEST(NeighbourMistakes, NoSoundUseOfTheStackIsTakenForAKeptPointer)
{
    for (const std::string &image : {products::Existing(products::kImageGnu), products::Existing(products::kImageMsvc)}) {
        ExpectError({"--image", image, "--services", Image("kelv_query_past_16_o0")},
                    Literal(Image("kelv_query_past_16_o0") + ", the services driver, broke the rules, not zerval.sys: "
                            "_lDllAttach@20: kelv.sys wrote 4 bytes outside what zerval.sys handed to kelv.sys!pfnQueryMode: "
                            "at offset +16 of the 16-byte ModeQuery (right after its end); the write at kelv.sys") +
                        kAt + Literal(", in pfnQueryMode: mov dword ptr [") + "e[a-z]{2}" + Literal("], 0xdeadbeef"));
        const ToolRun run = RunTool(kSim, {"--image", image, "--services", Image("kelv_lends_buffer"), "--tv",
                                           Image("rmx_fills"), "function", "5"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Orvalen_Function(0x00000005) = 1\n");
    }
}

// What the module hands a hook is the hook's until it returns.  A services
// driver that keeps the address and writes there later - handed another
// record, or from another hook - is named for the pointer it kept, with the
// call that handed the record over.
TEST(NeighbourMistakes, AWriteThroughAKeptPointerNamesTheCallThatHandedTheRecord)
{
    const std::string earlier = R"(kelv\.sys!pfnQueryMode\(\{[0-9]+x[0-9]+x[0-9]+ @[0-9]+ attr=0x[0-9a-f]{8} flags=0x[0-9a-f]{8}\}, 0x0\))";
    for (const std::string &image : {products::Existing(products::kImageGnu), products::Existing(products::kImageMsvc)}) {
        ExpectError({"--image", image, "--services", Image("kelv_keeps_query"), "validate", "640x480x8@60"},
                    Literal(Image("kelv_keeps_query") + ", the services driver, broke the rules, not zerval.sys: ") +
                        "_(lDllAttach@20|vValidateMode@8)" +
                        Literal(": kelv.sys wrote 4 bytes through a pointer kept from an earlier call: at offset +0 of the "
                                "16-byte ModeQuery zerval.sys handed to ") +
                        earlier +
                        Literal(" in _lDllAttach@20, which was the hook's only until that call returned; the write at kelv.sys") +
                        kAt + Literal(", in pfnQueryMode: mov dword ptr [") + "e[a-z]{2}" + Literal("], 0xdeadbeef"));
        ExpectError({"--image", image, "--services", Image("kelv_keeps_query_for_function"), "function", "7"},
                    Literal(Image("kelv_keeps_query_for_function") + ", the services driver, broke the rules, not zerval.sys: "
                            "_Orvalen_Function@4: kelv.sys wrote 4 bytes through a pointer kept from an earlier call: at "
                            "offset +4 of the 16-byte ModeQuery zerval.sys handed to ") +
                        earlier +
                        Literal(" in _lDllAttach@20, which was the hook's only until that call returned; the write at kelv.sys") +
                        kAt + Literal(", in pfnFunction: mov dword ptr [") + "e[a-z]{2}" + Literal("+0x4], 0xdeadbeef"));
    }
}

TEST(NeighbourMistakes, AWriteOutsideWhatAHookWasHandedIsCaughtAtTheWrite)
{
    struct Case {
        const char *image;
        const char *hook;
        const char *where;  // in the record's terms
        const char *offset;  // the same, as the write's displacement from the record's start
    };
    const Case cases[] = {
        {"kelv_query_past_16", "pfnQueryMode", "at offset +16 of the 16-byte ModeQuery (right after its end)", "+0x10"},
        {"kelv_query_past_144", "pfnQueryMode", "at offset +144 of the 16-byte ModeQuery (128 bytes past its end)",
         "+0x90"},
        {"kelv_query_before", "pfnQueryMode", "at offset -4 of the 16-byte ModeQuery (4 bytes before its start)", "-0x4"},
        {"kelv_init_past_76", "pfnInit", "at offset +76 of the 76-byte buffer (right after its end)", "+0x4c"},
    };
    // The write's instruction follows: the services driver stores 0xDEADBEEF
    // through the record's pointer.
    for (const Case &c : cases)
        ExpectError({"--services", Image(c.image)},
                    Literal(Image(c.image) + ", the services driver, broke the rules, not zerval.sys: _lDllAttach@20: " +
                            "kelv.sys wrote 4 bytes outside what zerval.sys handed to kelv.sys!" + c.hook + ": " +
                            c.where + "; the write at kelv.sys") +
                        kAt + Literal(std::string(", in ") + c.hook + ": mov dword ptr [") + "e[a-z]{2}" +
                        Literal(std::string(c.offset) + "], 0xdeadbeef"));

    // The same driver without the mistake writes all it was handed and runs through.
    const ToolRun run = RunTool(kSim, {"--services", Image("kelv_sound")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find(std::to_string(accept_all::Modes()) + " modes published"), std::string::npos) << run.out;
}

TEST(NeighbourMistakes, AnEmptyRequiredHookIsNamedOnTheAttachLine)
{
    // The module refuses the attach: its answer, shown, with the hook named.
    ToolRun run = RunTool(kSim, {"--services", Image("kelv_no_set_mode")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nlDllAttach: FALSE, [^\n]*\\(kelv_no_set_mode\\.sys left pfnSetMode "
                                                      "empty after Attach; hook table wiped[^\n]*\n")))
        << run.out;
    // The example's behaviour 4 fills nothing; behaviour 3 fails pfnInit.
    run = RunTool(kSim, {"--services", kExamples + "/kelv.sys", "--attach-param", "4"});
    EXPECT_NE(run.out.find("(kelv.sys left pfnInit, pfnQueryMode, pfnSetMode empty after Attach; "), std::string::npos)
        << run.out;
    run = RunTool(kSim, {"--services", kExamples + "/kelv.sys", "--attach-param", "3"});
    EXPECT_NE(run.out.find("(kelv.sys's pfnInit answered FALSE; "), std::string::npos) << run.out;
}

TEST(NeighbourMistakes, AnImageInTheWrongRoleSaysWhatItExportsAndWhereItFits)
{
    ExpectError({"--services", Image("kelv_misspelt_export")},
                Literal(Image("kelv_misspelt_export") + ": not a services driver for zerval.sys: it does not export "
                        "_Attach@16, which zerval.sys imports from kelv.sys (it exports _Atach@16)"));
    ExpectError({"--services", kImage},
                Literal(kImage + ": not a services driver for zerval.sys: it does not export _Attach@16, which "
                                 "zerval.sys imports from kelv.sys (it exports ") +
                    "[^)]*_lDllAttach@20[^)]*" + Literal("); it is zerval.sys itself, which --image names"));
    ExpectError({"--services", kExamples + "/rmx.sys"},
                Literal(kExamples + "/rmx.sys: not a services driver for zerval.sys: it does not export _Attach@16, "
                                    "which zerval.sys imports from kelv.sys (it exports _AttachRMX@8, "
                                    "_S_RMX_Control@12); it fits --tv, as a TV driver"));
    ExpectError({"--tv", Image("rmx_misspelt_export")},
                Literal(Image("rmx_misspelt_export") + ": not a TV driver for zerval.sys: it does not export "
                        "_S_RMX_Control@12, which zerval.sys imports from rmx.sys (it exports _AttachRMX@8, "
                        "_S_RMX_Ctrl@12)"));
    ExpectError({"--tv", kExamples + "/kelv.sys"},
                Literal(kExamples + "/kelv.sys: not a TV driver for zerval.sys: it does not export ") +
                    "(_S_RMX_Control@12, _AttachRMX@8|_AttachRMX@8, _S_RMX_Control@12)" +
                    Literal(", which zerval.sys imports from rmx.sys (it exports _Attach@16); it fits --services, as a "
                            "services driver"));
    ExpectError({"--display", kExamples + "/kelv.sys"},
                Literal(kExamples + "/kelv.sys: not a display driver for zerval.sys: it imports nothing from "
                                    "zerval.sys, so it cannot attach it; it fits --services, as a services driver"));
}

TEST(NeighbourMistakes, ADisplayDriverThatNeverAttachesIsAnError)
{
    ExpectError({"--display", Image("display_never_attaches")},
                Literal(Image("display_never_attaches") + ": its DriverEntry returned 0 without calling lDllAttach, "
                        "so zerval.sys was never attached and there is no mode list to show"));
}

// --trace shows the calls into real images as it shows the simulated ones:
// caller, callee, arguments, the record before and after, the answer.
TEST(NeighbourMistakes, TheTraceShowsEveryCallBetweenImages)
{
    const std::string kelv = kExamples + "/kelv.sys", rmx = kExamples + "/rmx.sys";
    ToolRun run = RunTool(kSim, {"--services", kelv, "--tv", rmx, "--trace", "set", "1024x768x16@75"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string &line :
         {Literal("    zerval.sys -> rmx.sys!_AttachRMX@8(0x0, 0x0) = 0x1\n"),
          Literal("    zerval.sys -> kelv.sys!_Attach@16(0x0, 0x0, ") + "0x[0-9a-f]+" +
              Literal(", 0x0) = 0x1 -> table{Size=36, pfnInit, pfnQueryMode, pfnSetMode, pfnPassThrough, pfnFunction, "
                      "pfnGetFreeFramebufferSize, pfnSetInitialValue, pfnTvControl}\n"),
          Literal("    zerval.sys -> kelv.sys!pfnInit(buffer[76] at ") + "0x[0-9a-f]+" + Literal(") = 0x1\n"),
          Literal("    zerval.sys -> kelv.sys!pfnQueryMode({640x480x8 @44 attr=0x") + "[0-9a-f]{8}" +
              Literal(" flags=0x00000002}, 0x0) = 0x1 -> {640x480x8 @44 attr=0x00050001 flags=0x00000002}\n"),
          Literal("    zerval.sys -> ExAllocatePoolWithTag(type 1, "),
          Literal("> SetMode(&record, 0x0)\n    zerval.sys -> kelv.sys!pfnQueryMode({1024x768x16 @75 attr=0x") +
              "[0-9a-f]{8}" +
              Literal(" flags=0x00000005}, 0x0) = 0x1 -> {1024x768x16 @75 attr=0x00050001 flags=0x00000005}\n"
                      "    zerval.sys -> kelv.sys!pfnSetMode({1024x768x16 @75 attr=0x00050001 flags=0x00000005}, 0x0, "
                      "0x0) = 0x1 -> {1024x768x16 @75 attr=0x00050001 flags=0x00000005}\n< SetMode = 0x0\n")})
        EXPECT_TRUE(std::regex_search(run.err, std::regex(line))) << line;

    run = RunTool(kSim, {"--services", kelv, "--tv", rmx, "--trace-entry", "MeltoBiosDll", "passthrough", "0", "2", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "> MeltoBiosDll(0x00000000, 0x00000002, 0x00000003)\n"
                       "    zerval.sys -> kelv.sys!pfnPassThrough(0x0, 0x2, 0x3) = 0xffffffff\n"
                       "    zerval.sys -> rmx.sys!_S_RMX_Control@12(0x0, 0x2, 0x3) = 0x45\n"
                       "< MeltoBiosDll = 0x45\n");

    // A display driver's calls into the module, and the module's calls nested in them.
    run = RunTool(kSim, {"--services", kelv, "--tv", rmx, "--display",
                         products::Existing(products::kExampleDisplay), "--trace"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::regex_search(
        run.err, std::regex(Literal("> DriverEntry of example_display.sys (NULL, NULL)\n    example_display.sys -> "
                                    "zerval.sys!_lDllAttach@20(0x0, 0x0, 0x0, 0x0, ") +
                            "0x[0-9a-f]+" + Literal(") = 0x1\n      zerval.sys -> VideoPortZeroMemory("))))
        << run.err.substr(0, 2000);
    EXPECT_TRUE(std::regex_search(run.err, std::regex("\n    example_display\\.sys -> zerval\\.sys!_SetMode@8\\(0x[0-9a-f]+, "
                                                      "0x0\\) = 0x0\n      zerval\\.sys -> kelv\\.sys!pfnQueryMode\\(")));
    // The module's entries as the display driver calls them, and the hooks
    // they reach by a jump, each with its answer.
    EXPECT_EQ(run.err.find("did not return"), std::string::npos);
    for (const std::string &line :
         {Literal("    example_display.sys -> zerval.sys!_BiosDllSetInitialValue@0() = 0x1\n"
                  "      zerval.sys -> kelv.sys!pfnSetInitialValue()\n"),
          Literal("    example_display.sys -> zerval.sys!_GetFreeFramebufferSize@0() = 0x400000\n"
                  "      zerval.sys -> kelv.sys!pfnGetFreeFramebufferSize() = 0x400000\n"),
          Literal("    example_display.sys -> zerval.sys!_Orvalen_Function@4(0x1) = 0x1\n"
                  "      zerval.sys -> kelv.sys!pfnFunction(0x1) = 0x1\n"),
          Literal("    example_display.sys -> zerval.sys!_vValidateMode@8(") + "0x[0-9a-f]+" + Literal(", 0x0)\n")})
        EXPECT_TRUE(std::regex_search(run.err, std::regex(line))) << line;

    // Every hook and entry, on both images, whether the module calls the
    // hook or jumps to it: a hook that returned shows its answer (none for a
    // VOID one, AL for a BOOLEAN one), and nothing says it did not return.
    for (const std::string &image : {products::Existing(products::kImageGnu), products::Existing(products::kImageMsvc)}) {
        std::string all;
        for (const std::vector<std::string> &command :
             std::vector<std::vector<std::string>>{{"validate", "640x480x8@60"},
                                                   {"set", "640x480x8@60"},
                                                   {"function", "7"},
                                                   {"function", "0"},
                                                   {"passthrough", "1", "2", "3"},
                                                   {"passthrough", "0", "2", "3"},
                                                   {"free-framebuffer"},
                                                   {"initial-value"}}) {
            std::vector<std::string> args = {"--image", image, "--services", kelv, "--tv", rmx, "--trace"};
            args.insert(args.end(), command.begin(), command.end());
            run = RunTool(kSim, args);
            ASSERT_EQ(run.status, 0) << run.err;
            all += run.err;
        }
        SCOPED_TRACE(image);
        EXPECT_EQ(all.find("did not return"), std::string::npos) << all.substr(0, 3000);
        for (const std::string &line :
             {Literal("    zerval.sys -> kelv.sys!pfnFunction(0x7) = 0x1\n"),
              Literal("    zerval.sys -> kelv.sys!pfnFunction(0x0) = 0x0\n"),
              Literal("    zerval.sys -> kelv.sys!pfnPassThrough(0x1, 0x2, 0x3) = 0x6\n"),
              Literal("    zerval.sys -> kelv.sys!pfnGetFreeFramebufferSize() = 0x400000\n"),
              Literal("    zerval.sys -> kelv.sys!pfnSetInitialValue()\n< BiosDllSetInitialValue = 0x1\n"),
              Literal("< vValidateMode returned\n"),
              Literal("    zerval.sys -> kelv.sys!pfnSetMode({640x480x8 @60 attr=0x00050001 flags=0x") + "[0-9a-f]{8}" +
                  Literal("}, 0x0, 0x0) = 0x1 -> ")})
            EXPECT_TRUE(std::regex_search(all, std::regex(line))) << line;
    }

    // A call that faults shows what happened up to the fault.
    run = RunTool(kSim, {"--services", Image("kelv_query_past_16"), "--trace"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::regex_search(run.err, std::regex(Literal("    zerval.sys -> kelv.sys!pfnQueryMode({640x480x8 @44 attr=0x") +
                                                      "[0-9a-f]{8}" + Literal(" flags=0x00000002}, 0x0) did not return\n"
                                                                              "< lDllAttach stopped\nzerval-sim: error: "))))
        << run.err;
}

} // namespace
