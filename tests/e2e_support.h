#pragma once
// Running zemprix-cli and zemprix-boxsim as separate processes for end-to-end tests.
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct CliResult {
    int exitCode = -1;
    std::string out;  // stdout
    std::string err;  // stderr
};

inline std::string ReadAll(const std::string& path)
{
    std::string s;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        std::fclose(f);
    }
    return s;
}

// Waits (bounded) until `file` holds `text`.
inline bool WaitForText(const std::string& file, const std::string& text, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ReadAll(file).find(text) != std::string::npos) return true;
        usleep(20'000);
    }
    return false;
}

inline std::string CliPath() { return std::string(ZEMPRIX_BIN_DIR) + "/cli/zemprix-cli"; }
// The simulator's build of the CLI, the only one that knows ZEMPRIX_PORTIO=sim.
inline std::string SimCliPath() { return std::string(ZEMPRIX_BIN_DIR) + "/cli/zemprix-cli-sim"; }
inline std::string BoxsimPath() { return std::string(ZEMPRIX_BIN_DIR) + "/zemprix-boxsim"; }

// Runs the CLI with `args`, extra environment `env` ("NAME=value"), settings kept in `settingsDir`.
inline CliResult RunCli(const std::vector<std::string>& args, const std::string& settingsDir,
                        const std::vector<std::string>& env = {})
{
    QTemporaryDir tmp;
    const std::string outPath = tmp.path().toStdString() + "/out", errPath = tmp.path().toStdString() + "/err";
    const pid_t child = fork();
    if (child == 0) {
        if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(errPath.c_str(), "w", stderr)) _exit(126);
        setenv("ZEMPRIX_SETTINGS_DIR", settingsDir.c_str(), 1);
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        const bool simulatedPort = std::find(env.begin(), env.end(), "ZEMPRIX_PORTIO=sim") != env.end();
        const std::string exe = simulatedPort ? SimCliPath() : CliPath();
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    CliResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll(outPath);
    r.err = ReadAll(errPath);
    return r;
}

// zemprix-boxsim on a pseudo-terminal for the life of this object.
class Boxsim {
public:
    explicit Boxsim(const std::vector<std::string>& args)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            std::vector<char*> argv;
            const std::string exe = BoxsimPath();
            argv.push_back(const_cast<char*>(exe.c_str()));
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') path_ += c;
        close(fds[0]);
    }
    ~Boxsim() { Stop(); }
    // Ends the simulator: its pseudo-terminal goes away as an unplugged adapter does.
    void Stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    Boxsim(const Boxsim&) = delete;
    Boxsim& operator=(const Boxsim&) = delete;
    const std::string& Path() const { return path_; }

private:
    pid_t pid_ = -1;
    std::string path_;
};
