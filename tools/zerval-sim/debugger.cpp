#include "debugger.h"

#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "images.h"
#include "number_text.h"
#include "tool_error.h"

namespace {

// A file name as gdb reads a command's argument: quoted when it holds a
// space or a quote.
std::string GdbArgument(const std::string &path)
{
    if (path.find_first_of(" \t\"'\\") == std::string::npos)
        return path;
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// gdb's line that reads an image's symbols where the machine put it: every
// section moved by the distance from the image's own base.
std::string SymbolLine(const emu::Machine::ImagePlace &place, const std::string &file)
{
    if (file == "-")
        return "# " + place.module + " came from standard input: no file to read its symbols from";
    const int64_t offset = int64_t{place.base} - int64_t{place.preferredBase};
    const std::string path = std::filesystem::absolute(file).lexically_normal().string();
    return "add-symbol-file " + GdbArgument(path) + " -o " + (offset < 0 ? "-" : "") +
           text::Hex(static_cast<uint64_t>(offset < 0 ? -offset : offset));
}

} // namespace

Debugger::Debugger(uint16_t port) : requested_(port)
{
    try {
        listener_ = std::make_unique<emu::gdb::Listener>(port);
    } catch (const std::runtime_error &e) {
        throw ToolError("--gdb " + std::to_string(port) + ": " + e.what());
    }
}

Debugger::~Debugger() { finish(1); }

void Debugger::attach(emu::Machine &machine, const Inputs &inputs)
{
    const std::string where = "127.0.0.1:" + std::to_string(listener_->port());
    std::cerr << "zerval-sim: waiting for gdb on " << where << "; in gdb:\n";
    for (const emu::Machine::ImagePlace &place : machine.imagePlaces())
        std::cerr << "    " << SymbolLine(place, FileOfModule(inputs, place.module)) << "\n";
    std::cerr << "    target remote " << where << std::endl;
    int socket = -1;
    try {
        socket = listener_->accept();
    } catch (const std::runtime_error &e) {
        throw ToolError("--gdb " + std::to_string(requested_) + ": " + e.what());
    }
    listener_.reset();  // one gdb at a time
    stub_ = std::make_unique<emu::gdb::Stub>(socket, [](const std::string &line) { Warn(line); });
    machine.attachDebugger(*stub_);
}

void Debugger::finish(int status)
{
    if (stub_)
        stub_->exited(status);
}
