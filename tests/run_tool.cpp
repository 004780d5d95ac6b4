#include "run_tool.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace {

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

ToolRun RunTool(const std::string &program, const std::vector<std::string> &args, const ToolIo &io)
{
    char outPath[] = "/tmp/zerval-run-out-XXXXXX";
    char errPath[] = "/tmp/zerval-run-err-XXXXXX";
    const int out = mkstemp(outPath);
    const int err = mkstemp(errPath);
    if (out < 0 || err < 0)
        throw std::runtime_error("cannot make temporary files");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, io.in.c_str(), O_RDONLY, 0);
    if (io.out.empty())
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, io.out.c_str(), O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out);
    close(err);
    ToolRun run;
    if (rc == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    run.out = Slurp(outPath);
    run.err = Slurp(errPath);
    std::remove(outPath);
    std::remove(errPath);
    if (rc != 0)
        throw std::runtime_error("cannot run " + program);
    return run;
}
