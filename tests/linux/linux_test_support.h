#pragma once

// Real directories, Wine-like prefixes and child processes for the Linux tests.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes. Others may enter it, so that a child
// running as an unprivileged user can reach what the test made.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "quellstorm-XXXXXX").string();
        path = mkdtemp(pattern.data());
        chmod(path.c_str(), 0755);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A Wine prefix in `root`: drive C: is the link dosdevices/c: -> ../drive_c.
// Returns the prefix's drive_c.
inline fs::path MakePrefix(const fs::path& root) {
    fs::create_directories(root / "drive_c");
    fs::create_directories(root / "dosdevices");
    fs::create_directory_symlink("../drive_c", root / "dosdevices" / "c:");
    return root / "drive_c";
}

// A user.reg whose "DataDir" is `data_dir`, escaped as Wine writes it.
inline std::string UserRegWithDataDir(const std::string& data_dir) {
    std::string escaped;
    for (const char c : data_dir) {
        if (c == '\\' || c == '"') escaped += '\\';
        escaped += c;
    }
    return "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n\n"
           "[Software\\\\Vantor\\\\Quellstorm] 1700000000\n#time=1d9c0a4b3e2f1a0\n\"DataDir\"=\"" +
           escaped + "\"\n";
}

struct FileTimes {
    int64_t access;
    int64_t write;
};

inline FileTimes TimesOf(const fs::path& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return {int64_t(status.st_atim.tv_sec), int64_t(status.st_mtim.tv_sec)};
}

struct ChildResult {
    int exit_code; // -1 when the child did not exit normally
    std::string output;
};

struct ChildOptions {
    std::string input;       // standard input; the child sees its end after these bytes
    bool unprivileged = false; // drop to uid/gid 65534 when running as root
    rlim_t file_size_limit = RLIM_INFINITY;
};

// Runs `body` in a forked child with standard input fed from `options.input`
// and standard output captured; the child's exit code is what `body` returns.
inline ChildResult RunInChild(const std::function<int()>& body, const ChildOptions& options = {}) {
    char input_pattern[] = "/tmp/quellstorm-in-XXXXXX";
    char output_pattern[] = "/tmp/quellstorm-out-XXXXXX";
    const int input = mkstemp(input_pattern);
    const int output = mkstemp(output_pattern);
    if (write(input, options.input.data(), options.input.size()) != ssize_t(options.input.size())) return {-1, ""};
    lseek(input, 0, SEEK_SET);
    const pid_t child = fork();
    if (child == 0) {
        dup2(input, STDIN_FILENO);
        dup2(output, STDOUT_FILENO);
        if (options.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        if (options.file_size_limit != RLIM_INFINITY) {
            signal(SIGXFSZ, SIG_IGN); // a write past the limit then stores what fits and says so
            const rlimit limit{options.file_size_limit, options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(input);
    close(output);
    ChildResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(output_pattern)};
    unlink(input_pattern);
    unlink(output_pattern);
    return result;
}
