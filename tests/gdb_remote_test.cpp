// gdb's remote protocol as the stub speaks it: framing, checksums and escapes
// as the protocol defines them, what a packet that cannot be read does, and
// the answers to gdb's requests against a target made here.  The frames
// expected are gdb's own ("$g#67" is what gdb 13 sends for the registers).
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "gdb_remote.h"

namespace {

using emu::gdb::Incoming;
using emu::gdb::PacketReader;
using emu::gdb::Resume;
using emu::gdb::Stop;
using emu::gdb::Stub;

// Eight registers' worth of distinct values, memory at 0x1000 and 0x1001,
// and the breakpoints gdb set.
class FakeTarget : public emu::gdb::Target {
public:
    FakeTarget()
    {
        for (int r = 0; r < emu::gdb::kRegisterCount; ++r)
            regs[r] = 0x11111111u * static_cast<uint32_t>(r % 15 + 1);
        memory[0x1000] = '\xAB';
        memory[0x1001] = '\xCD';
    }
    uint32_t reg(int number) override { return regs[number]; }
    void setReg(int number, uint32_t value) override { regs[number] = value; }
    std::string readMemory(uint32_t address, uint32_t length) override
    {
        std::string out;
        for (uint32_t i = 0; i < length && memory.count(address + i) != 0; ++i)
            out += memory[address + i];
        return out;
    }
    bool writeMemory(uint32_t address, const std::string &bytes) override
    {
        for (size_t i = 0; i < bytes.size(); ++i)
            if (memory.count(address + static_cast<uint32_t>(i)) == 0)
                return false;
        for (size_t i = 0; i < bytes.size(); ++i)
            memory[address + static_cast<uint32_t>(i)] = bytes[i];
        return true;
    }
    void setBreakpoint(uint32_t address, bool set) override
    {
        if (set)
            breakpoints.insert(address);
        else
            breakpoints.erase(address);
    }

    uint32_t regs[emu::gdb::kRegisterCount];
    std::map<uint32_t, char> memory;
    std::set<uint32_t> breakpoints;
};

// A stub on one end of a socket pair; the test plays gdb on the other.
struct Connection {
    Connection()
    {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
            throw std::runtime_error("socketpair");
        gdb = ends[0];
        stub = std::make_unique<Stub>(ends[1], [this](const std::string &line) { warnings.push_back(line); });
    }
    ~Connection()
    {
        stub.reset();
        close(gdb);
    }
    void say(const std::string &bytes) { ASSERT_EQ(write(gdb, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    // gdb says nothing more: a stub that still waits sees the connection close.
    void done() { shutdown(gdb, SHUT_WR); }
    // What the stub wrote so far (after the call that wrote it returned).
    std::string heard()
    {
        std::string out;
        char buffer[4096];
        for (;;) {
            const ssize_t n = recv(gdb, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return out;
            out.append(buffer, static_cast<size_t>(n));
        }
    }

    int gdb = -1;
    std::unique_ptr<Stub> stub;
    std::vector<std::string> warnings;
};

std::string Answer(FakeTarget &t, const std::string &request, std::optional<Resume> *resume = nullptr)
{
    Connection c;
    std::optional<Resume> r;
    const std::string a = c.stub->answer(t, Stop{}, request, r);
    if (resume != nullptr)
        *resume = r;
    return a;
}

TEST(GdbFraming, ChecksumIsTheSumOfThePayloadModulo256)
{
    EXPECT_EQ(emu::gdb::Framed("g"), "$g#67");
    EXPECT_EQ(emu::gdb::Framed("vCont?"), "$vCont?#49");
    EXPECT_EQ(emu::gdb::Framed("OK"), "$OK#9a");
    EXPECT_EQ(emu::gdb::Framed(""), "$#00");
    // 0xff + 0x02 wraps to 0x01.
    EXPECT_EQ(emu::gdb::Checksum(std::string("\xff\x02", 2)), 0x01);
}

TEST(GdbFraming, TheFourSpecialBytesAreEscapedWithTheirXor0x20)
{
    // '#' 0x23, '$' 0x24, '}' 0x7d, '*' 0x2a.
    EXPECT_EQ(emu::gdb::Escaped("a#b$c}d*e"), "a}\x03" "b}\x04" "c}]d}\x0a" "e");
    const std::string framed = emu::gdb::Framed("#");
    EXPECT_EQ(framed, "$}\x03#80");  // the checksum is over the escaped bytes: 0x7d + 0x03
    EXPECT_EQ(emu::gdb::Unescaped("a}\x03" "b}\x04" "c}]d}\x0a" "e"), std::optional<std::string>("a#b$c}d*e"));
    EXPECT_EQ(emu::gdb::Unescaped("abc}"), std::nullopt);
}

TEST(GdbReader, ReadsPacketsAcksAndNaksAcrossChunks)
{
    PacketReader r;
    r.feed("junk+$qSupp");
    auto in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Ack);
    EXPECT_FALSE(r.next());  // the packet is not whole yet
    r.feed("orted#");
    EXPECT_FALSE(r.next());  // nor its checksum
    r.feed("37-");
    in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Packet);
    EXPECT_EQ(in->payload, "qSupported");
    in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Nak);
}

TEST(GdbReader, AWholePacketIsItsUnescapedPayload)
{
    PacketReader r;
    const std::string framed = emu::gdb::Framed("X1000,1:#");
    r.feed(framed.substr(0, 5));
    EXPECT_FALSE(r.next());
    r.feed(framed.substr(5) + "\x03-");
    auto in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Packet);
    EXPECT_EQ(in->payload, "X1000,1:#");
    in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Interrupt);
    in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Nak);
    EXPECT_FALSE(r.next());
}

TEST(GdbReader, APacketThatCannotBeReadIsBadAndSaysWhy)
{
    PacketReader r;
    r.feed("$g#68$g#zz$g$g#67$ab}#");
    r.feed(std::string("xx"));
    auto in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Bad);
    EXPECT_NE(in->why.find("checksum 68"), std::string::npos) << in->why;
    in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Bad);
    EXPECT_NE(in->why.find("not two hex digits"), std::string::npos) << in->why;
    in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Bad);
    EXPECT_NE(in->why.find("cut short"), std::string::npos) << in->why;
    in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Packet);  // the packet after the broken one is read
    EXPECT_EQ(in->payload, "g");
}

TEST(GdbReader, APayloadEndingInALoneEscapeIsBad)
{
    PacketReader r;
    const std::string body = "ab}";
    char sum[3];
    std::snprintf(sum, sizeof sum, "%02x", emu::gdb::Checksum(body));
    r.feed("$" + body + "#" + sum);
    const auto in = r.next();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->kind, Incoming::Kind::Bad);
    EXPECT_NE(in->why.find("lone escape"), std::string::npos) << in->why;
}

TEST(GdbRequests, RegistersInGdbsI386OrderLittleEndian)
{
    FakeTarget t;
    t.regs[0] = 0x04030201u;  // eax
    t.regs[8] = 0x01001073u;  // eip
    const std::string g = Answer(t, "g");
    ASSERT_EQ(g.size(), 16u * 8u);
    EXPECT_EQ(g.substr(0, 8), "01020304");
    EXPECT_EQ(g.substr(8 * 8, 8), "73100001");
    EXPECT_EQ(Answer(t, "p8"), "73100001");
    EXPECT_EQ(Answer(t, "p10"), "xxxxxxxx");  // st0 on: unavailable
    EXPECT_EQ(Answer(t, "pzz"), "E01");
    EXPECT_EQ(Answer(t, "P8=78563412"), "OK");
    EXPECT_EQ(t.regs[8], 0x12345678u);
    EXPECT_EQ(Answer(t, "P10=00000000"), "E01");
    EXPECT_EQ(Answer(t, "G" + std::string(8, '0') + "efbeadde"), "OK");
    EXPECT_EQ(t.regs[0], 0u);
    EXPECT_EQ(t.regs[1], 0xDEADBEEFu);
    EXPECT_EQ(Answer(t, "G123"), "E01");
}

TEST(GdbRequests, MemoryReadAndWrittenAsFarAsItIsMapped)
{
    FakeTarget t;
    EXPECT_EQ(Answer(t, "m1000,2"), "abcd");
    EXPECT_EQ(Answer(t, "m1001,8"), "cd");  // up to the first byte that is not mapped
    EXPECT_EQ(Answer(t, "m2000,4"), "E14");
    EXPECT_EQ(Answer(t, "m1000"), "E01");
    EXPECT_EQ(Answer(t, "M1000,2:1234"), "OK");
    EXPECT_EQ(t.memory[0x1000], '\x12');
    EXPECT_EQ(t.memory[0x1001], '\x34');
    EXPECT_EQ(Answer(t, "M1000,2:12"), "E01");  // fewer bytes than it says
    EXPECT_EQ(Answer(t, "M2000,1:00"), "E14");
    EXPECT_EQ(Answer(t, "X1000,1:#"), "OK");  // binary, unescaped by the reader
    EXPECT_EQ(t.memory[0x1000], '#');
}

TEST(GdbRequests, BreakpointsAreTheTargetsAndResumesSayHow)
{
    FakeTarget t;
    EXPECT_EQ(Answer(t, "Z0,1001073,1"), "OK");
    EXPECT_EQ(Answer(t, "Z1,8011ed,1"), "OK");
    EXPECT_EQ(t.breakpoints, (std::set<uint32_t>{0x1001073u, 0x8011EDu}));
    EXPECT_EQ(Answer(t, "z0,1001073,1"), "OK");
    EXPECT_EQ(t.breakpoints, (std::set<uint32_t>{0x8011EDu}));
    EXPECT_EQ(Answer(t, "Z2,1000,4"), "");  // no watchpoints: gdb steps instead

    std::optional<Resume> r;
    EXPECT_EQ(Answer(t, "c", &r), "");
    EXPECT_EQ(r, Resume::Continue);
    EXPECT_EQ(Answer(t, "vCont;s:1;c", &r), "");
    EXPECT_EQ(r, Resume::Step);
    EXPECT_EQ(Answer(t, "s801000", &r), "");
    EXPECT_EQ(r, Resume::Step);
    EXPECT_EQ(t.regs[8], 0x801000u);
    EXPECT_EQ(Answer(t, "D", &r), "OK");
    EXPECT_EQ(r, Resume::Detach);
    EXPECT_EQ(Answer(t, "qfThreadInfo", &r), "m1");
    EXPECT_EQ(r, std::nullopt);
    EXPECT_EQ(Answer(t, "vMustReplyEmpty"), "");
    EXPECT_NE(Answer(t, "qSupported:xmlRegisters=i386").find("PacketSize=4000;"), std::string::npos);
}

TEST(GdbStub, TheFirstStopWaitsForGdbsQuestionAndAFaultIsPrintedFirst)
{
    FakeTarget t;
    Connection c;
    c.say("+$?#3f+$c#63+$k#6b");
    c.done();
    EXPECT_EQ(c.stub->stopped(t, Stop{}), Resume::Continue);
    EXPECT_EQ(c.heard(), "+" + emu::gdb::Framed("T05thread:1;") + "+");  // no stop reply before '?'

    EXPECT_EQ(c.stub->stopped(t, Stop{emu::gdb::kSigSegv, false, "hi"}), Resume::Detach);
    // "hi\n" as hex in an 'O' packet, then the stop with SIGSEGV; nothing
    // answers the kill.
    EXPECT_EQ(c.heard(), emu::gdb::Framed("O68690a") + emu::gdb::Framed("T0bthread:1;") + "+");
    EXPECT_FALSE(c.stub->connected());
    EXPECT_TRUE(c.warnings.empty());
}

TEST(GdbStub, ABadPacketIsRefusedAndWarnedOnceTheRunsEndIsAnExit)
{
    FakeTarget t;
    Connection c;
    c.say("$g#00$c#63");
    c.done();
    EXPECT_EQ(c.stub->stopped(t, Stop{}), Resume::Continue);
    EXPECT_EQ(c.heard(), "-+");
    ASSERT_EQ(c.warnings.size(), 1u);
    EXPECT_EQ(c.warnings[0], "gdb: a packet dropped: checksum 00, but the payload sums to 67");
    c.stub->exited(1);
    EXPECT_EQ(c.heard(), "$W01#b8");
    EXPECT_FALSE(c.stub->connected());
}

TEST(GdbStub, GdbGoneWithoutADetachIsOneWarning)
{
    FakeTarget t;
    Connection c;
    c.done();
    EXPECT_EQ(c.stub->stopped(t, Stop{}), Resume::Detach);
    EXPECT_EQ(c.warnings, (std::vector<std::string>{
                              "gdb: the connection closed without a detach; the run goes on without gdb"}));
}

} // namespace
