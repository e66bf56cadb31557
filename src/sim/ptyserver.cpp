#include "sim/ptyserver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <ostream>
#include <poll.h>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "base/hextext.h"
#include "sim/boxmodel.h"

namespace {

constexpr int kIdleMs = 50;

int64_t MonotonicNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

void SleepUntil(int64_t ns)
{
    timespec ts {};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000LL);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000LL);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

bool IsHexText(const std::string& text)
{
    if (text.empty()) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

}  // namespace

TPtyServer::TPtyServer(TBoxModel& box, int masterFd, int wakeFd, const TPtyServeOptions& options,
                       std::ostream& err)
    : box_(box), master_(masterFd), wake_(wakeFd), options_(options), err_(err),
      violationsSeen_(box.Violations().size()), savedChanges_(box.Changes())
{
}

int TPtyServer::Run()
{
    while (!stopped_ && !failed_) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int n = poll(fds, wake_ >= 0 ? 2 : 1, kIdleMs);
        if (n < 0 && errno != EINTR) {
            err_ << "zemprix-boxsim: poll: " << std::strerror(errno) << std::endl;
            failed_ = true;
            break;
        }
        // After the wait, so that a poke placed before the host's next command is in effect
        // for that command.
        ApplyPokes();
        if (n > 0 && (fds[1].revents & POLLIN)) stopped_ = true;
        if (stopped_) break;
        if (n > 0 && (fds[0].revents & POLLIN)) {
            if (!Receive()) break;
            if (!CheckViolations()) return kViolationExit;
            if (!SendOutput()) break;
        } else {
            SaveIfChanged();  // the line is idle
        }
    }
    SaveIfChanged();
    return failed_ ? 1 : 0;
}

bool TPtyServer::Receive()
{
    uint8_t buffer[4096];
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR || errno == EIO) return true;
        err_ << "zemprix-boxsim: read: " << std::strerror(errno) << std::endl;
        failed_ = true;
        return false;
    }
    for (ssize_t i = 0; i < got; ++i) {
        if (options_.pace) {
            // The host's characters reach the box one character time apart, as on the wire.
            const int64_t now = MonotonicNs();
            if (rxFreeNs_ < now - kCharacterNs) rxFreeNs_ = now - kCharacterNs;
            rxFreeNs_ += kCharacterNs;
            if (rxFreeNs_ > now) SleepUntil(rxFreeNs_);
        }
        box_.HostWrite(buffer[i]);
        // In strict mode stop before answering anything after the offending byte.
        if (options_.strict && box_.Violations().size() > violationsSeen_) return true;
    }
    return true;
}

bool TPtyServer::CheckViolations()
{
    const auto& all = box_.Violations();
    for (; violationsSeen_ < all.size(); ++violationsSeen_) {
        err_ << "zemprix-boxsim: protocol violation: " << all[violationsSeen_] << std::endl;
        if (options_.strict) {
            SaveIfChanged();
            return false;
        }
    }
    return true;
}

bool TPtyServer::StopRequested()
{
    if (wake_ < 0) return false;
    pollfd p{wake_, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) stopped_ = true;
    return stopped_;
}

bool TPtyServer::WaitWritable()
{
    pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_, POLLIN, 0}};
    while (true) {
        const int n = poll(fds, wake_ >= 0 ? 2 : 1, -1);
        if (n < 0 && errno != EINTR) return false;
        if (n > 0 && (fds[1].revents & POLLIN)) {
            stopped_ = true;
            return false;
        }
        if (n > 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) return true;
    }
}

bool TPtyServer::SendOutput()
{
    std::vector<uint8_t> chunk;
    while (box_.HasOutput()) {
        chunk.clear();
        if (options_.pace) {
            if (StopRequested()) return false;  // a long paced answer must not delay a stop
            // Each character leaves one character time after the previous one (or now, when
            // the line was idle); everything whose time has come goes out in one write.
            const int64_t now = MonotonicNs();
            if (wireFreeNs_ < now - kCharacterNs) wireFreeNs_ = now - kCharacterNs;
            if (wireFreeNs_ + kCharacterNs > now) SleepUntil(wireFreeNs_ + kCharacterNs);
            const int64_t after = MonotonicNs();
            while (box_.HasOutput() && wireFreeNs_ + kCharacterNs <= after) {
                chunk.push_back(box_.TakeOutput());
                wireFreeNs_ += kCharacterNs;
            }
        } else {
            while (box_.HasOutput()) chunk.push_back(box_.TakeOutput());
        }
        size_t done = 0;
        while (done < chunk.size()) {
            const ssize_t put = ::write(master_, chunk.data() + done, chunk.size() - done);
            if (put > 0) {
                done += static_cast<size_t>(put);
            } else if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (!WaitWritable()) return false;
            } else {
                err_ << "zemprix-boxsim: write: " << std::strerror(errno) << std::endl;
                failed_ = true;
                return false;
            }
        }
    }
    return true;
}

void TPtyServer::SaveIfChanged()
{
    if (options_.statePath.empty() || box_.Changes() == savedChanges_) return;
    if (box_.SaveState(options_.statePath)) {
        savedChanges_ = box_.Changes();
    } else {
        err_ << "zemprix-boxsim: cannot save the state to " << options_.statePath << std::endl;
        savedChanges_ = box_.Changes();  // say it once per change, not every idle tick
    }
}

bool TPtyServer::ApplyPokes()
{
    if (options_.pokePath.empty() || ::access(options_.pokePath.c_str(), F_OK) != 0) return true;
    std::ifstream in(options_.pokePath);
    std::string line;
    bool good = true;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string address;
        if (!(words >> address)) continue;
        // A target board taken off or put back on the box's cable.
        if (address == "detach" || address == "attach") {
            box_.Faults().targetAbsent = address == "detach";
            continue;
        }
        std::string value;
        bool lineGood = IsHexText(address) && address.size() <= 8;
        uint32_t a = lineGood ? hex::DWord(hex::ToUpper(address)) : 0;
        bool any = false;
        while (lineGood && words >> value) {
            if (!IsHexText(value) || value.size() > 2 || a >= box_.Flash().size()) {
                lineGood = false;
                break;
            }
            box_.Poke(a++, static_cast<uint8_t>(hex::DWord(hex::ToUpper(value))));
            any = true;
        }
        if (!lineGood || !any) {
            err_ << "zemprix-boxsim: poke line not understood: " << line << std::endl;
            good = false;
        }
    }
    in.close();
    std::remove(options_.pokePath.c_str());
    SaveIfChanged();
    return good;
}
