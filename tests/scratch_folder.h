// A folder of the test's own: made with mkdtemp in the temp folder (TMPDIR,
// else /tmp), so that tests running at once, in one build tree or in two,
// never write to the same name; removed with everything in it at the end.
#ifndef ZERVAL_TESTS_SCRATCH_FOLDER_H
#define ZERVAL_TESTS_SCRATCH_FOLDER_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string dir = (std::filesystem::temp_directory_path() / "zerval-test-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr)
            throw std::runtime_error("mkdtemp " + dir);
        dir_ = dir;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::string &dir() const { return dir_; }

    // A file of the folder with these contents; its path.
    std::string file(const std::string &name, const std::string &contents) const
    {
        const std::string path = (std::filesystem::path(dir_) / name).string();
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

private:
    std::string dir_;
};

#endif
