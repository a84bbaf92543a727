// Running the built velmo-umlaute on real folders, as a user runs it: the
// helpers the program's tests share.
#pragma once

#include "convert/Umlaute.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace velmo::test {

namespace fs = std::filesystem;
using namespace std::string_literals;

inline const std::string kSingle = "-- Gr\xFC\xDF"
                                   "e\r\nprint(\"\xC4rger \xF6\xE4\xDC\xD6\")\r\n";
inline const std::string kPairs = UmlauteToTwoCharacterForm(kSingle);

// The user id of `nobody`, as whom the tests act as another user.
constexpr uid_t kNobody = 65534;

// The names of the temporary files below `dir`, sorted.
inline std::vector<std::string> Temporaries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.path().filename().string().find("velmo-tmp") != std::string::npos)
            names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
inline void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs `argv` (a shell command when `shell`) in `dir` with `input` on stdin.
inline Result Spawn(const std::vector<std::string>& argv, const fs::path& dir,
                    const std::string& input = {}) {
    // The standard streams go through files of this call's own: tests run in
    // parallel, and several run commands in the same folder.
    char ioName[] = "/tmp/velmo-io-XXXXXX";
    const fs::path io = mkdtemp(ioName);
    Write(io / "in", input);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (io / "in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (io / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = Read(io / "out");
    result.err = Read(io / "err");
    fs::remove_all(io);
    return result;
}

inline Result Umlaute(const std::vector<std::string>& arguments, const fs::path& dir,
                      const std::string& input = {}) {
    std::vector<std::string> argv = {VELMO_UMLAUTE_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return Spawn(argv, dir, input);
}

inline Result Shell(const std::string& command, const fs::path& dir) {
    return Spawn(
        {"/bin/sh", "-c",
         "PATH=" + fs::path(VELMO_UMLAUTE_PROGRAM).parent_path().string() + ":$PATH; " + command},
        dir);
}

inline std::vector<std::string> Backups(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".bak")
            names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

class Folder : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/velmo-umlaute-XXXXXX";
        root_ = mkdtemp(name);
    }
    void TearDown() override {
        Spawn({"chmod", "-R", "u+rwx", root_.string()}, "/");
        fs::remove_all(root_);
    }
    fs::path root_;
};

} // namespace velmo::test
