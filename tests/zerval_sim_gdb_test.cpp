// zerval-sim --gdb with Debian's gdb in batch mode: the example services
// driver built with DWARF (kelv_debug.sys) stopped in its pfnQueryMode by
// function name, its ModeQuery read, a step into a function and a finish
// out of it, then the run to its end with the output it has without gdb; a
// neighbour's fault stopped with a signal and its reason; and the one-line
// errors of --gdb.  Each run listens on a port the system picks, which
// zerval-sim prints, so runs at once never share one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "build_products.h"
#include "run_tool.h"
#include "scratch_folder.h"

extern char **environ;

namespace {

const std::string kSim = products::Existing(products::kSim);
const std::string kNeighbours = ZERVAL_TEST_NEIGHBOURS_DIR;
const std::string kDebugServices = kNeighbours + "/kelv_debug.sys";

bool OnPath(const std::string &program)
{
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// zerval-sim started with --gdb 0, its output into the scratch folder, up to
// the moment it waits for gdb: the commands it printed for gdb.
class WaitingSim {
public:
    WaitingSim(const ScratchFolder &scratch, std::vector<std::string> args)
    {
        outPath_ = (std::filesystem::path(scratch.dir()) / "sim.out").string();
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        args.insert(args.begin(), {kSim, "--gdb", "0"});
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, kSim.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot run " + kSim);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
        err_ = fdopen(pipeEnds[0], "r");
        // Its stderr up to the line that connects gdb.
        const std::regex target(R"(    (target remote 127\.0\.0\.1:([0-9]+)))"), symbols(R"(    (add-symbol-file .*))");
        for (std::string line; readLine(line);) {
            errText_ += line + "\n";
            std::smatch m;
            if (std::regex_match(line, m, target)) {
                port_ = std::stoi(m[2]);
                commands_.push_back(m[1]);
                break;
            }
            if (std::regex_match(line, m, symbols))
                commands_.push_back(m[1]);
        }
    }
    ~WaitingSim()
    {
        if (err_ != nullptr)
            std::fclose(err_);
    }

    int port() const { return port_; }
    const std::vector<std::string> &commands() const { return commands_; }
    const std::string &errSoFar() const { return errText_; }

    // Once gdb is done: a zerval-sim still waiting for a connection gets one
    // that closes at once (so that a gdb that never connected cannot leave
    // it waiting); then its exit status, output and the rest of its stderr.
    ToolRun finish()
    {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
        close(s);
        ToolRun run;
        for (std::string line; readLine(line);)
            errText_ += line + "\n";
        int status = 0;
        waitpid(pid_, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Slurp(outPath_);
        run.err = errText_;
        return run;
    }

private:
    bool readLine(std::string &line)
    {
        char *text = nullptr;
        size_t size = 0;
        const ssize_t n = getline(&text, &size, err_);
        if (n >= 0)
            line.assign(text, static_cast<size_t>(n > 0 && text[n - 1] == '\n' ? n - 1 : n));
        std::free(text);
        return n >= 0;
    }

    pid_t pid_ = -1;
    std::FILE *err_ = nullptr;
    std::string outPath_, errText_;
    std::vector<std::string> commands_;
    int port_ = -1;
};

// gdb in batch mode: the commands zerval-sim printed, then `script`.
ToolRun RunGdb(const ScratchFolder &scratch, const WaitingSim &sim, const std::string &script)
{
    std::string text;
    for (const std::string &c : sim.commands())
        text += c + "\n";
    const std::string file = scratch.file("session.gdb", text + script);
    return RunTool("gdb", {"-nx", "-batch", "-x", file});
}

class ZervalSimGdb : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!OnPath("gdb"))
            GTEST_SKIP() << "gdb is not installed (scripts/deps.sh installs it)";
    }
    ScratchFolder scratch_;
};

TEST_F(ZervalSimGdb, StopsInTheServicesDriversQueryModeByNameAndRunsToTheSameEnd)
{
    const ToolRun plain = RunTool(kSim, {"--services", kDebugServices});
    ASSERT_EQ(plain.status, 0) << plain.err;

    WaitingSim sim(scratch_, {"--services", kDebugServices});
    ASSERT_GT(sim.port(), 0) << sim.errSoFar();
    ASSERT_EQ(sim.commands().size(), 3u) << sim.errSoFar();  // zerval.sys, kelv_debug.sys, target remote
    EXPECT_NE(sim.commands()[1].find("kelv_debug.sys -o 0x"), std::string::npos) << sim.commands()[1];
    const ToolRun gdb = RunGdb(scratch_, sim,
                               "info functions KelvQuery\n"
                               "list KelvQueryMode\n"
                               "break KelvQueryMode\n"
                               "continue\n"
                               "print/x $eip\n"
                               "print *Query\n"
                               "next\n"
                               "step\n"
                               "finish\n"
                               "print answer\n"
                               "delete\n"
                               "continue\n");
    const ToolRun end = sim.finish();
    const std::string &g = gdb.out;
    // The symbols came at the load address: by name, with their source.
    EXPECT_NE(g.find("static BOOLEAN KelvQueryMode(ModeQuery *, ULONG);"), std::string::npos) << g << gdb.err;
    EXPECT_NE(g.find("static BOOLEAN ZERVAL_CALL KelvQueryMode(ModeQuery *Query, ULONG Zero)"), std::string::npos)
        << g;
    EXPECT_TRUE(std::regex_search(g, std::regex(R"(Breakpoint 1, KelvQueryMode \(Query=0x[0-9a-f]+, Zero=0\) at .*services_driver\.c:[0-9]+)")))
        << g;
    // The record zerval.sys handed over: a mode of the catalogue, which the
    // accept-all driver publishes.
    std::smatch q;
    ASSERT_TRUE(std::regex_search(
        g, q, std::regex(R"(\$2 = \{BitsPerPixel = ([0-9]+), Width = ([0-9]+), Height = ([0-9]+), Refresh = ([0-9]+), Attributes = ([0-9]+), Flags = ([0-9]+)\})")))
        << g;
    const std::string width = q[2], height = q[3], bpp = q[1];
    EXPECT_TRUE(std::regex_search(plain.out, std::regex(" " + width + "x" + height + " +" + bpp + " ")))
        << width << "x" << height << "x" << bpp << " is not in the published list:\n" << plain.out;
    // A step into KelvCopy and a finish back out to KelvQueryMode (gdb in
    // batch mode prints where it returned to, at the line of the call),
    // where `answer` now holds the record as copied.
    EXPECT_TRUE(std::regex_search(g, std::regex(R"(KelvCopy \(To=0x[0-9a-f]+ "[^\n]*, From=0x[0-9a-f]+ [^\n]*n=16\) at .*services_driver\.c:)")))
        << g;
    EXPECT_TRUE(std::regex_search(g, std::regex(R"(in KelvQueryMode \(Query=0x[0-9a-f]+, Zero=0\) at .*services_driver\.c:[0-9]+\n[0-9]+\t +KelvCopy\()")))
        << g;
    EXPECT_NE(g.find("$3 = {BitsPerPixel = " + bpp + ", Width = " + width + ", Height = " + height), std::string::npos)
        << g;
    EXPECT_NE(g.find("[Inferior 1 (Remote target) exited normally]"), std::string::npos) << g << gdb.err;
    // zerval-sim's output is the run's without gdb.
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.out, plain.out);
    EXPECT_EQ(end.err.find("warning"), std::string::npos) << end.err;
}

TEST_F(ZervalSimGdb, ANeighboursFaultStopsWithASignalAndItsReasonThenTheRunFails)
{
    const std::string services = kNeighbours + "/kelv_query_past_16.sys";
    const ToolRun plain = RunTool(kSim, {"--services", services});
    ASSERT_EQ(plain.status, 1);
    WaitingSim sim(scratch_, {"--services", services});
    ASSERT_GT(sim.port(), 0) << sim.errSoFar();
    const ToolRun gdb = RunGdb(scratch_, sim, "continue\nprint/x $eip\ncontinue\n");
    const ToolRun end = sim.finish();
    // The reason as gdb printed it (on its stderr, as a target's console
    // output), and the signal.
    EXPECT_NE(gdb.err.find("\n_lDllAttach@20: kelv.sys wrote 4 bytes outside what zerval.sys handed to "
                           "kelv.sys!pfnQueryMode: at offset +16 of the 16-byte ModeQuery"),
              std::string::npos)
        << gdb.out << gdb.err;
    EXPECT_NE(gdb.out.find("Program received signal SIGABRT"), std::string::npos) << gdb.out;
    // Stopped in kelv.sys's code (its base, kNeighbourBase, is 0x01000000).
    EXPECT_TRUE(std::regex_search(gdb.out, std::regex(R"(\$1 = 0x10[0-9a-f]{5}\n)"))) << gdb.out;
    EXPECT_NE(gdb.out.find("[Inferior 1 (Remote target) exited with code 01]"), std::string::npos) << gdb.out;
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.out, plain.out);
    // The same one-line error as without gdb, last.
    EXPECT_EQ(end.err.substr(end.err.rfind("zerval-sim: error:")), plain.err);
}

TEST_F(ZervalSimGdb, GdbGoneWithoutADetachIsOneWarningAndTheRunGoesOn)
{
    const ToolRun plain = RunTool(kSim, {});
    WaitingSim sim(scratch_, {});
    ASSERT_GT(sim.port(), 0) << sim.errSoFar();
    const ToolRun end = sim.finish();  // connects and closes at once
    EXPECT_EQ(end.status, 0);
    EXPECT_EQ(end.out, plain.out);
    EXPECT_NE(end.err.find("\nzerval-sim: warning: gdb: the connection closed without a detach; the run goes on "
                           "without gdb\n"),
              std::string::npos)
        << end.err;
}

TEST(ZervalSimGdbOption, ABadPortOrOneInUseIsOneLine)
{
    for (const char *bad : {"abc", "65536", "-1", ""}) {
        const ToolRun r = RunTool(kSim, {"--gdb", bad});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "zerval-sim: error: --gdb: '" + std::string(bad) +
                             "' is not a port number (0 to 65535; 0: a free one, which zerval-sim prints)\n");
    }
    // A port some other program listens on.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(s, 1), 0);
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
    const std::string port = std::to_string(ntohs(address.sin_port));
    const ToolRun r = RunTool(kSim, {"--gdb", port});
    close(s);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zerval-sim: error: --gdb " + port + ": cannot listen on 127.0.0.1:" + port +
                         " (Address already in use)\n");
    const ToolRun host = RunTool(kSim, {"--backend", "host", "--gdb", "0"});
    EXPECT_EQ(host.err, "zerval-sim: error: --gdb: the host build runs no image to debug (drop --backend host)\n");
}

} // namespace
