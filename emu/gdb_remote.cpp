#include "gdb_remote.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "number_text.h"

namespace emu::gdb {

namespace {

constexpr char kEscape = '}';
// The largest packet the stub takes (its PacketSize, in hex in qSupported);
// a longer one is cut off as unreadable.
constexpr size_t kPacketSize = 0x4000;

std::string Hex(uint8_t byte)
{
    static const char digits[] = "0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 15]};
}

std::string HexBytes(const std::string &bytes)
{
    std::string out;
    for (const char c : bytes)
        out += Hex(static_cast<uint8_t>(c));
    return out;
}

// A register's value as gdb reads it: the target's byte order (little-endian).
std::string HexLe32(uint32_t value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += Hex(static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

std::string HexNumber(size_t value)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value & 15]);
        value >>= 4;
    } while (value != 0);
    return out;
}

std::optional<std::string> BytesOfHex(std::string_view hex)
{
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = text::HexDigit(hex[i]), lo = text::HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

std::optional<uint32_t> Le32OfHex(std::string_view hex)
{
    const auto bytes = BytesOfHex(hex);
    if (!bytes || bytes->size() != 4)
        return std::nullopt;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>((*bytes)[static_cast<size_t>(i)]);
    return v;
}

// A number in hex (an address, a length, a register number), at most 32 bits.
std::optional<uint32_t> Number(std::string_view hex)
{
    if (hex.empty() || hex.size() > 8)
        return std::nullopt;
    uint32_t v = 0;
    for (const char c : hex) {
        const int d = text::HexDigit(c);
        if (d < 0)
            return std::nullopt;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    return v;
}

// "ADDR,LENGTH" (then ':' and data for M and X): the address, the length and
// what follows the colon.
struct Range {
    uint32_t address, length;
    std::string_view data;
};
std::optional<Range> RangeOf(std::string_view text, bool withData)
{
    const size_t comma = text.find(',');
    const size_t colon = withData ? text.find(':') : text.size();
    if (comma == std::string_view::npos || colon == std::string_view::npos || colon < comma)
        return std::nullopt;
    const auto address = Number(text.substr(0, comma));
    const auto length = Number(text.substr(comma + 1, colon - comma - 1));
    if (!address || !length)
        return std::nullopt;
    return Range{*address, *length, withData ? text.substr(colon + 1) : std::string_view()};
}

std::string StopReply(const Stop &stop)
{
    return "T" + Hex(static_cast<uint8_t>(stop.signal)) + "thread:1;" + (stop.breakpoint ? "swbreak:;" : "");
}

bool StartsWith(const std::string &s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

} // namespace

uint8_t Checksum(std::string_view payload)
{
    uint8_t sum = 0;
    for (const char c : payload)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    return sum;
}

std::string Escaped(std::string_view payload)
{
    std::string out;
    for (const char c : payload) {
        if (c == '$' || c == '#' || c == kEscape || c == '*') {
            out += kEscape;
            out += static_cast<char>(c ^ 0x20);
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view escaped)
{
    std::string out;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != kEscape) {
            out += escaped[i];
            continue;
        }
        if (++i == escaped.size())
            return std::nullopt;
        out += static_cast<char>(escaped[i] ^ 0x20);
    }
    return out;
}

std::string Framed(std::string_view payload)
{
    const std::string body = Escaped(payload);
    return "$" + body + "#" + Hex(Checksum(body));
}

std::optional<Incoming> PacketReader::next()
{
    for (;;) {
        const size_t start = buffer_.find_first_of("$+-\x03");
        if (start == std::string::npos) {
            buffer_.clear();
            return std::nullopt;
        }
        buffer_.erase(0, start);
        switch (buffer_[0]) {
        case '+': buffer_.erase(0, 1); return Incoming{Incoming::Kind::Ack, {}, {}};
        case '-': buffer_.erase(0, 1); return Incoming{Incoming::Kind::Nak, {}, {}};
        case '\x03': buffer_.erase(0, 1); return Incoming{Incoming::Kind::Interrupt, {}, {}};
        default: break;
        }
        const size_t end = buffer_.find_first_of("$#", 1);
        if (end == std::string::npos) {
            if (buffer_.size() <= 2 * kPacketSize)
                return std::nullopt;  // more to come
            buffer_.clear();
            return Incoming{Incoming::Kind::Bad, {}, "a packet longer than " + std::to_string(2 * kPacketSize) +
                                                         " bytes without its '#'"};
        }
        if (buffer_[end] == '$') {
            const std::string cut = buffer_.substr(1, end - 1);
            buffer_.erase(0, end);
            return Incoming{Incoming::Kind::Bad, cut, "a packet cut short by the next '$' before its '#'"};
        }
        if (buffer_.size() < end + 3)
            return std::nullopt;  // the checksum is still to come
        const std::string body = buffer_.substr(1, end - 1);
        const std::string sum = buffer_.substr(end + 1, 2);
        buffer_.erase(0, end + 3);
        const int hi = text::HexDigit(sum[0]), lo = text::HexDigit(sum[1]);
        if (hi < 0 || lo < 0)
            return Incoming{Incoming::Kind::Bad, body, "checksum '" + sum + "' is not two hex digits"};
        if (hi * 16 + lo != Checksum(body))
            return Incoming{Incoming::Kind::Bad, body,
                            "checksum " + sum + ", but the payload sums to " + Hex(Checksum(body))};
        const auto payload = Unescaped(body);
        if (!payload)
            return Incoming{Incoming::Kind::Bad, body, "the payload ends in a lone escape '}'"};
        return Incoming{Incoming::Kind::Packet, *payload, {}};
    }
}

Stub::Stub(int socket, std::function<void(const std::string &)> warn) : socket_(socket), warn_(std::move(warn)) {}

Stub::~Stub()
{
    if (socket_ >= 0)
        close(socket_);
}

void Stub::lose(const std::string &why)
{
    if (socket_ < 0)
        return;
    close(socket_);
    socket_ = -1;
    if (warn_ && !why.empty())
        warn_(why);
}

void Stub::send(const std::string &payload)
{
    if (socket_ < 0)
        return;
    lastSent_ = Framed(payload);
    for (size_t at = 0; at < lastSent_.size();) {
        const ssize_t n = ::send(socket_, lastSent_.data() + at, lastSent_.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lose(std::string("gdb: cannot write to the connection (") + std::strerror(errno) +
                 "); the run goes on without gdb");
            return;
        }
        at += static_cast<size_t>(n);
    }
}

std::optional<Incoming> Stub::receive()
{
    for (;;) {
        if (auto in = reader_.next())
            return in;
        if (socket_ < 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            lose(n == 0 ? "gdb: the connection closed without a detach; the run goes on without gdb"
                        : std::string("gdb: cannot read the connection (") + std::strerror(errno) +
                              "); the run goes on without gdb");
            return std::nullopt;
        }
        reader_.feed(std::string_view(buffer, static_cast<size_t>(n)));
    }
}

bool Stub::interruptRequested()
{
    if (socket_ < 0)
        return false;
    pollfd p{socket_, POLLIN, 0};
    while (poll(&p, 1, 0) == 1) {
        char buffer[256];
        const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            lose(n == 0 ? "gdb: the connection closed without a detach; the run goes on without gdb"
                        : std::string("gdb: cannot read the connection (") + std::strerror(errno) +
                              "); the run goes on without gdb");
            return false;
        }
        reader_.feed(std::string_view(buffer, static_cast<size_t>(n)));
    }
    bool interrupt = false;
    while (auto in = reader_.next())
        interrupt = interrupt || in->kind == Incoming::Kind::Interrupt;
    return interrupt;
}

Resume Stub::stopped(Target &target, const Stop &stop)
{
    if (socket_ < 0)
        return Resume::Detach;
    // A stop answers the request that resumed the target; the first one is
    // answered when gdb asks ('?').
    if (resumed_) {
        if (!stop.console.empty())
            send("O" + HexBytes(stop.console + "\n"));
        send(StopReply(stop));
    }
    while (auto in = receive()) {
        switch (in->kind) {
        case Incoming::Kind::Ack:
        case Incoming::Kind::Interrupt: continue;  // already stopped
        case Incoming::Kind::Nak:
            if (!noAck_ && !lastSent_.empty()) {
                const std::string again = lastSent_;
                lastSent_.clear();
                ::send(socket_, again.data(), again.size(), MSG_NOSIGNAL);
                lastSent_ = again;
            }
            continue;
        case Incoming::Kind::Bad:
            if (warn_)
                warn_("gdb: a packet dropped: " + in->why);
            if (!noAck_)
                ::send(socket_, "-", 1, MSG_NOSIGNAL);
            continue;
        case Incoming::Kind::Packet: break;
        }
        if (!noAck_)
            ::send(socket_, "+", 1, MSG_NOSIGNAL);
        std::optional<Resume> resume;
        const std::string reply = answer(target, stop, in->payload, resume);
        // A resume is answered by the next stop; a kill by nothing.
        const bool resumes = resume && *resume != Resume::Detach && reply.empty();
        if (in->payload != "k" && !resumes)
            send(reply);
        if (in->payload == "QStartNoAckMode")
            noAck_ = true;
        if (!resume)
            continue;
        if (*resume == Resume::Detach)
            lose("");
        resumed_ = true;
        return *resume;
    }
    return Resume::Detach;
}

std::string Stub::answer(Target &target, const Stop &stop, const std::string &request, std::optional<Resume> &resume)
{
    const char kind = request.empty() ? '\0' : request[0];
    const std::string_view rest = request.size() > 1 ? std::string_view(request).substr(1) : std::string_view();
    // c and s may name where to go on from; C and S a signal first.
    auto resumeAt = [&](Resume how, std::string_view address) {
        if (!address.empty()) {
            const auto at = Number(address);
            if (!at)
                return std::string("E01");
            target.setReg(kEip, *at);
        }
        resume = how;
        return std::string();
    };
    switch (kind) {
    case '?': return StopReply(stop);
    case 'g': {
        std::string out;
        for (int r = 0; r < kRegisterCount; ++r)
            out += HexLe32(target.reg(r));
        return out;
    }
    case 'G': {
        if (rest.size() % 8 != 0 || rest.size() / 8 > kRegisterCount)
            return "E01";
        std::vector<uint32_t> values;
        for (size_t i = 0; i < rest.size(); i += 8) {
            const auto v = Le32OfHex(rest.substr(i, 8));
            if (!v)
                return "E01";
            values.push_back(*v);
        }
        for (size_t r = 0; r < values.size(); ++r)
            target.setReg(static_cast<int>(r), values[r]);
        return "OK";
    }
    case 'p': {
        const auto number = Number(rest);
        if (!number)
            return "E01";
        return *number < kRegisterCount ? HexLe32(target.reg(static_cast<int>(*number))) : "xxxxxxxx";
    }
    case 'P': {
        const size_t eq = rest.find('=');
        const auto number = Number(rest.substr(0, eq));
        const auto value = eq == std::string_view::npos ? std::nullopt : Le32OfHex(rest.substr(eq + 1));
        if (!number || !value || *number >= kRegisterCount)
            return "E01";
        target.setReg(static_cast<int>(*number), *value);
        return "OK";
    }
    case 'm': {
        const auto range = RangeOf(rest, false);
        if (!range || range->length > kPacketSize / 2)
            return "E01";
        const std::string bytes = target.readMemory(range->address, range->length);
        return bytes.empty() && range->length != 0 ? "E14" : HexBytes(bytes);
    }
    case 'M':
    case 'X': {
        const auto range = RangeOf(rest, true);
        if (!range)
            return "E01";
        const auto bytes = kind == 'M' ? BytesOfHex(range->data) : std::optional<std::string>(std::string(range->data));
        if (!bytes || bytes->size() != range->length)
            return "E01";
        return target.writeMemory(range->address, *bytes) ? "OK" : "E14";
    }
    case 'c': return resumeAt(Resume::Continue, rest);
    case 's': return resumeAt(Resume::Step, rest);
    case 'C':
    case 'S': {
        const size_t semicolon = rest.find(';');
        return resumeAt(kind == 'C' ? Resume::Continue : Resume::Step,
                        semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1));
    }
    case 'Z':
    case 'z': {
        // Z0 (software) and Z1 (hardware) are both kept by the target; no
        // watchpoints (gdb then watches by single steps).
        if (rest.size() < 2 || (rest[0] != '0' && rest[0] != '1') || rest[1] != ',')
            return "";
        const auto range = RangeOf(rest.substr(2), false);
        if (!range)
            return "E01";
        target.setBreakpoint(range->address, kind == 'Z');
        return "OK";
    }
    case 'D': resume = Resume::Detach; return "OK";
    case 'k': resume = Resume::Detach; return "";
    case 'H':
    case 'T': return "OK";  // the one thread
    default: break;
    }
    if (StartsWith(request, "qSupported"))
        return "PacketSize=" + HexNumber(kPacketSize) + ";QStartNoAckMode+;swbreak+;hwbreak+;vContSupported+";
    if (request == "QStartNoAckMode" || StartsWith(request, "qSymbol"))
        return "OK";
    if (request == "qAttached")
        return "1";  // gdb detaches at its end instead of killing the run
    if (request == "qC")
        return "QC1";
    if (request == "qfThreadInfo")
        return "m1";
    if (request == "qsThreadInfo")
        return "l";
    if (request == "vCont?")
        return "vCont;c;C;s;S";
    if (StartsWith(request, "vCont;")) {
        // The first action is the one thread's.
        const char action = request.size() > 6 ? request[6] : '\0';
        if (action == 'c' || action == 'C')
            resume = Resume::Continue;
        else if (action == 's' || action == 'S')
            resume = Resume::Step;
        else
            return "E01";
        return "";
    }
    if (StartsWith(request, "vKill")) {
        resume = Resume::Detach;
        return "OK";
    }
    return "";
}

void Stub::exited(int status)
{
    if (socket_ < 0)
        return;
    if (resumed_)
        send("W" + Hex(static_cast<uint8_t>(status)));
    lose("");
}

Listener::Listener(uint16_t port)
{
    const std::string where = "127.0.0.1:" + std::to_string(port);
    socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        throw std::runtime_error("cannot open a socket (" + std::string(std::strerror(errno)) + ")");
    const int on = 1;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(socket_, 1) != 0) {
        const int error = errno;
        close(socket_);
        throw std::runtime_error("cannot listen on " + where + " (" + std::strerror(error) + ")");
    }
    socklen_t length = sizeof address;
    getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
}

Listener::~Listener()
{
    if (socket_ >= 0)
        close(socket_);
}

int Listener::accept()
{
    for (;;) {
        const int s = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
        if (s >= 0) {
            const int on = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            return s;
        }
        if (errno != EINTR && errno != ECONNABORTED)
            throw std::runtime_error("cannot accept gdb's connection (" + std::string(std::strerror(errno)) + ")");
    }
}

} // namespace emu::gdb
