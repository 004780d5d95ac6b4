// gdb's remote serial protocol, as a stub serves it over one TCP connection:
// the packets' framing (checksums, escapes), the i386 registers in gdb's
// default numbering, memory, breakpoints, single steps, and the stop, fault
// and exit reports.  What it debugs is an abstract target, so that the
// protocol is tested without an emulator.
#ifndef ZERVAL_EMU_GDB_REMOTE_H
#define ZERVAL_EMU_GDB_REMOTE_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emu::gdb {

// The modulo-256 sum of a packet's payload, as it travels (escaped).
uint8_t Checksum(std::string_view payload);
// A payload escaped for the wire: '$', '#', '}' and '*' as '}' and the byte
// xor 0x20.
std::string Escaped(std::string_view payload);
// The payload back; nothing when it ends in a lone '}'.
std::optional<std::string> Unescaped(std::string_view escaped);
// "$payload#cs", escaped.
std::string Framed(std::string_view payload);

// What gdb sends, read from a stream of bytes.
struct Incoming {
    enum class Kind {
        Packet,     // a packet whose checksum holds: payload, unescaped
        Ack,        // '+'
        Nak,        // '-': resend the last packet
        Interrupt,  // 0x03: stop the target
        Bad,        // a packet that cannot be read: why says what is wrong with it
    };
    Kind kind;
    std::string payload;
    std::string why;
};

class PacketReader {
public:
    void feed(std::string_view bytes) { buffer_.append(bytes); }
    // The next whole thing read, or nothing until more bytes come.  Bytes
    // outside a packet that mean nothing are skipped.
    std::optional<Incoming> next();

private:
    std::string buffer_;
};

// i386 registers as gdb numbers them without a target description: eax,
// ecx, edx, ebx, esp, ebp, esi, edi, eip, eflags, cs, ss, ds, es, fs, gs;
// the 'g' packet carries these sixteen, the x87 and SSE registers after them
// are unavailable.
constexpr int kRegisterCount = 16;
constexpr int kEip = 8;

// Signal numbers as gdb's stop replies give them.
constexpr int kSigInt = 2;
constexpr int kSigIll = 4;
constexpr int kSigTrap = 5;
constexpr int kSigAbrt = 6;
constexpr int kSigSegv = 11;

// What the stub debugs.
class Target {
public:
    virtual ~Target() = default;
    virtual uint32_t reg(int number) = 0;
    virtual void setReg(int number, uint32_t value) = 0;
    // As many bytes from `address` on as can be read, up to `length`.
    virtual std::string readMemory(uint32_t address, uint32_t length) = 0;
    // False when any of the bytes lies outside the target's memory.
    virtual bool writeMemory(uint32_t address, const std::string &bytes) = 0;
    // A breakpoint at `address` set or cleared: the target stops before it
    // runs the instruction there.
    virtual void setBreakpoint(uint32_t address, bool set) = 0;
};

// How the target goes on after a stop.
enum class Resume {
    Continue,
    Step,    // one instruction, then stop again
    Detach,  // without the debugger: gdb detached, killed the target or went away
};

// Why the target stopped, as gdb is told.
struct Stop {
    int signal = kSigTrap;
    bool breakpoint = false;  // at one of gdb's breakpoints (swbreak)
    std::string console;      // a line gdb prints first ('O' packet), for a fault
};

// One gdb connection, on a socket already accepted.  Replies to what it does
// not know with an empty packet, as the protocol asks.
class Stub {
public:
    // `warn` gets one line for what goes wrong with the connection: gdb gone
    // without detaching, a packet that cannot be read.
    Stub(int socket, std::function<void(const std::string &)> warn);
    ~Stub();
    Stub(const Stub &) = delete;
    Stub &operator=(const Stub &) = delete;

    bool connected() const { return socket_ >= 0; }
    // Tells gdb that the target stopped and serves its requests until it
    // resumes the target.
    Resume stopped(Target &target, const Stop &stop);
    // Whether gdb asked to stop the running target (Ctrl-C), without waiting.
    bool interruptRequested();
    // The target's end ('W' with its exit status); the connection closes.
    void exited(int status);

    // One request's answer, with the target stopped; sets `resume` when the
    // request resumes it.  Exposed for the tests.
    std::string answer(Target &target, const Stop &stop, const std::string &request, std::optional<Resume> &resume);

private:
    void send(const std::string &payload);
    // Blocks until something comes; nothing when the connection is gone.
    std::optional<Incoming> receive();
    void lose(const std::string &why);

    int socket_;
    std::function<void(const std::string &)> warn_;
    PacketReader reader_;
    std::string lastSent_;
    bool noAck_ = false;
    bool resumed_ = false;  // gdb resumed the target at least once: a stop answers that
};

// A listening socket on 127.0.0.1.  Throws std::runtime_error with one line
// when the port cannot be had.
class Listener {
public:
    explicit Listener(uint16_t port);  // 0: a free port the system picks
    ~Listener();
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
    uint16_t port() const { return port_; }
    // Waits for gdb; the connected socket, which the caller owns.
    int accept();

private:
    int socket_ = -1;
    uint16_t port_ = 0;
};

} // namespace emu::gdb

#endif
