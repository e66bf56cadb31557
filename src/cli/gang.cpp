#include "gang.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <iomanip>
#include <ostream>
#include <poll.h>
#include <sys/prctl.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "json.h"
#include "store/serialpool.h"

namespace {

// The last stop signal the gang received and how many it received. Each goes on to every box: the
// boxes run in process groups of their own, so a terminal's Ctrl+C reaches them only this way, and
// a signal sent to the gang's PID alone reaches them the same.
volatile std::sig_atomic_t gTerminate = 0;
volatile std::sig_atomic_t gSignalCount = 0;

void OnGangSignal(int signal)
{
    gTerminate = signal;
    gSignalCount = gSignalCount + 1;
}

int Rank(int code)
{
    switch (code) {
    case kExitOk: return 0;
    case kExitVerifyFailed: return 1;
    case kExitFailed: return 2;
    case kExitUsage: return 3;
    default: return 4;  // interrupted, or killed
    }
}

const char* ResultText(int code)
{
    switch (code) {
    case kExitOk: return "ok";
    case kExitVerifyFailed: return "verify failed";
    case kExitFailed: return "failed";
    case kExitUsage: return "usage error";
    default: return "interrupted";
    }
}

struct TSlot {
    std::string port;
    pid_t pid = -1;
    int outFd = -1, errFd = -1, statusFd = -1;
    std::string outPartial, errPartial, statusPartial;
    std::string stdoutText;  // kept whole for --json
    std::string lastLine;    // the last status line, from the box's status descriptor
    std::string lastErrLine; // the last text line on its stderr, for a box that never reached its view
    int exitCode = kExitFailed;
};

}  // namespace

int GangStatusFd()
{
    const char* text = std::getenv(kGangStatusVariable);
    if (!text || !*text) return -1;
    char* end = nullptr;
    const long fd = std::strtol(text, &end, 10);
    if (*end != '\0' || fd < 3 || fd > 1 << 20 || fcntl(static_cast<int>(fd), F_GETFD) < 0) return -1;
    return static_cast<int>(fd);
}

void ReportToGang(const std::string& line)
{
    const int fd = GangStatusFd();
    if (fd < 0) return;
    // One write per line: the gang reads whole lines.
    const std::string text = PrintableText(line) + '\n';
    const ssize_t written = write(fd, text.data(), text.size());
    (void)written;
}

int WorseExitCode(int a, int b) { return Rank(b) > Rank(a) ? b : a; }

std::vector<std::string> SlotArguments(const std::vector<std::string>& arguments, const std::string& port)
{
    std::vector<std::string> result;
    bool ended = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (!ended && a == "--") ended = true;
        if (!ended && a == "--port") {
            ++i;
            continue;
        }
        if (!ended && a.rfind("--port=", 0) == 0) continue;
        result.push_back(a);
    }
    result.insert(result.begin(), {"--port", port});
    return result;
}

namespace {

// Starts one box's process with its own --port; its output comes back through pipes: stdout,
// stderr and its status lines for the table.
TSlot StartSlot(const std::string& self, const std::vector<std::string>& arguments, const std::string& port,
                const std::string& poolPath, bool colour)
{
    int outPipe[2], errPipe[2], statusPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(statusPipe, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("Cannot start a box's process: ") + std::strerror(errno));
    const std::vector<std::string> args = SlotArguments(arguments, port);
    const pid_t pid = fork();
    if (pid == 0) {
        // Signals reach the box through the gang only, once each (see OnGangSignal); a gang that
        // dies without passing one on still stops its boxes the way SIGTERM does.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        fcntl(statusPipe[1], F_SETFD, 0);
        setenv(kGangStatusVariable, std::to_string(statusPipe[1]).c_str(), 1);
        if (colour) setenv(kGangColourVariable, "1", 1);
        else unsetenv(kGangColourVariable);
        if (!poolPath.empty()) setenv(kGangSerialPoolVariable, poolPath.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(self.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self.c_str(), argv.data());
        std::fprintf(stderr, "zemprix-cli: cannot run %s: %s\n", self.c_str(), std::strerror(errno));
        _exit(kExitFailed);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    close(statusPipe[1]);
    TSlot slot;
    slot.port = port;
    slot.pid = pid;
    slot.outFd = outPipe[0];
    slot.errFd = errPipe[0];
    slot.statusFd = statusPipe[0];
    return slot;
}

// Passes every box's lines on until all have closed their output: each line whole, prefixed with
// its port; JSON progress lines carry the port already and pass unchanged. Each stop signal the
// gang receives goes on to every box.
void ForwardOutput(std::vector<TSlot>& slots, const TCliOptions& options, std::ostream& out, std::ostream& err)
{
    enum TStream { kOut, kErr, kStatus };
    auto emit = [&](TSlot& slot, TStream stream, const std::string& line) {
        if (stream == kStatus) {
            if (!line.empty()) slot.lastLine = line;
        } else if (stream == kErr) {
            if (!line.empty() && line[0] != '{') slot.lastErrLine = line;
            if (options.progressJson && !line.empty() && line[0] == '{') err << line << "\n";
            else err << "[" << PrintableText(slot.port) << "] " << line << "\n";
            err.flush();
        } else if (options.json) {
            slot.stdoutText += line + "\n";
        } else {
            out << "[" << PrintableText(slot.port) << "] " << line << "\n";
            out.flush();
        }
    };
    int forwarded = 0;
    for (;;) {
        while (forwarded != gSignalCount) {
            ++forwarded;
            for (const TSlot& s : slots) kill(s.pid, gTerminate);
        }
        std::vector<pollfd> fds;
        std::vector<std::pair<TSlot*, TStream>> owners;
        for (TSlot& s : slots) {
            if (s.outFd >= 0) fds.push_back({s.outFd, POLLIN, 0}), owners.emplace_back(&s, kOut);
            if (s.errFd >= 0) fds.push_back({s.errFd, POLLIN, 0}), owners.emplace_back(&s, kErr);
            if (s.statusFd >= 0) fds.push_back({s.statusFd, POLLIN, 0}), owners.emplace_back(&s, kStatus);
        }
        if (fds.empty()) break;
        if (poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            auto [slot, stream] = owners[i];
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            std::string& partial = stream == kErr ? slot->errPartial : stream == kOut ? slot->outPartial : slot->statusPartial;
            if (n > 0) {
                partial.append(buffer, static_cast<size_t>(n));
                size_t nl;
                while ((nl = partial.find('\n')) != std::string::npos) {
                    emit(*slot, stream, partial.substr(0, nl));
                    partial.erase(0, nl + 1);
                }
            } else if (n == 0 || errno != EINTR) {
                if (!partial.empty()) emit(*slot, stream, partial);
                partial.clear();
                close(fds[i].fd);
                (stream == kErr ? slot->errFd : stream == kOut ? slot->outFd : slot->statusFd) = -1;
            }
        }
    }
}

// The serial numbers' line of the summary: the next number and any given back and not used.
std::string PoolSummary(const std::string& poolPath)
{
    const TSerialPool::TState pool = TSerialPool(poolPath, 0).Read();
    std::string serials = "Next serial number: " + std::to_string(pool.Next);
    if (!pool.Free.empty()) {
        serials += "; given back and not used: ";
        for (size_t i = 0; i < pool.Free.size(); ++i) serials += (i ? ", " : "") + std::to_string(pool.Free[i]);
    }
    return serials;
}

void PrintJsonSummary(const std::vector<TSlot>& slots, const TCliOptions& options, int worst,
                      const std::string& serials, std::ostream& out)
{
    std::string boxes = "[";
    for (const TSlot& s : slots) {
        TJsonObject box;
        box.Set("port", s.port);
        box.Set("exitCode", s.exitCode);
        box.Set("result", ResultText(s.exitCode));
        std::string raw = s.stdoutText;
        while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.pop_back();
        if (!raw.empty() && raw.front() == '{' && raw.find('\n') == std::string::npos) box.SetRaw("output", raw);
        else box.Set("output", raw);
        boxes += (boxes.size() > 1 ? "," : "") + box.Text();
    }
    boxes += "]";
    TJsonObject result;
    result.Set("command", options.command);
    result.Set("ok", worst == kExitOk);
    result.Set("exitCode", worst);
    result.SetRaw("boxes", boxes);
    if (!serials.empty()) result.Set("serials", serials);
    out << result.Text() << std::endl;
}

void PrintTableSummary(const std::vector<TSlot>& slots, const std::string& serials, bool colour, std::ostream& out)
{
    size_t width = 4;
    for (const TSlot& s : slots) width = std::max(width, PrintableText(s.port).size());
    out << std::left << std::setw(static_cast<int>(width)) << "Port" << "  " << std::setw(13) << "Result"
        << "  Exit  Last line\n";
    for (const TSlot& s : slots) {
        std::ostringstream result;
        result << std::left << std::setw(13) << ResultText(s.exitCode);
        // Colour around the padded cell, so that the columns stay aligned.
        const char* on = !colour ? "" : s.exitCode == kExitOk ? "\x1b[32m" : "\x1b[31m";
        out << std::left << std::setw(static_cast<int>(width)) << PrintableText(s.port) << "  " << on << result.str()
            << (colour ? "\x1b[0m" : "") << "  " << std::setw(4) << s.exitCode << "  "
            << (s.lastLine.empty() ? s.lastErrLine : s.lastLine) << "\n";
    }
    if (!serials.empty()) out << serials << "\n";
    out.flush();
}

}  // namespace

int RunGang(const std::string& self, const std::vector<std::string>& arguments, const TCliOptions& options,
            std::ostream& out, std::ostream& err)
{
    struct sigaction action {};
    action.sa_handler = OnGangSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);

    // One pool of serial numbers for all boxes, in a folder of its own for this run.
    std::string poolPath;
    char folder[] = "/tmp/zemprix-gang-XXXXXX";
    if (options.serialAt >= 0) {
        if (!mkdtemp(folder)) throw std::runtime_error(std::string("Cannot create the serial number pool: ") + std::strerror(errno));
        poolPath = std::string(folder) + "/serials";
        TSerialPool(poolPath, static_cast<uint32_t>(options.serialStart < 0 ? 0 : options.serialStart));
    }

    std::vector<TSlot> slots;
    const bool colour = !options.progressJson && TTextView::ColourWanted(2);
    for (const std::string& port : options.ports) slots.push_back(StartSlot(self, arguments, port, poolPath, colour));
    ForwardOutput(slots, options, out, err);
    int worst = kExitOk;
    for (TSlot& s : slots) {
        int status = 0;
        while (waitpid(s.pid, &status, 0) < 0 && errno == EINTR) {
        }
        s.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        worst = WorseExitCode(worst, s.exitCode);
    }

    std::string serials;
    if (!poolPath.empty()) {
        serials = PoolSummary(poolPath);
        std::remove(poolPath.c_str());
        rmdir(folder);
    }
    if (options.json) PrintJsonSummary(slots, options, worst, serials, out);
    else PrintTableSummary(slots, serials, TTextView::ColourWanted(1), out);
    if (options.progressJson) {
        TJsonObject line;
        line.Set("type", "gang");
        line.Set("ok", worst == kExitOk);
        line.Set("exitCode", worst);
        err << line.Text() << std::endl;
    }
    return worst;
}
