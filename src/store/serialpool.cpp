#include "store/serialpool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace {

TSerialPool::TState Parse(const std::string& text, uint32_t first)
{
    TSerialPool::TState state{first, {}};
    std::istringstream in(text);
    std::string key;
    while (in >> key) {
        if (key == "next") in >> state.Next;
        else if (key == "free") {
            uint64_t n = 0;
            while (in >> n) state.Free.push_back(n);
        }
    }
    std::sort(state.Free.begin(), state.Free.end());
    return state;
}

std::string Format(const TSerialPool::TState& state)
{
    std::string text = "next " + std::to_string(state.Next) + "\nfree";
    for (uint64_t n : state.Free) text += " " + std::to_string(n);
    return text + "\n";
}

}  // namespace

TSerialPool::TSerialPool(std::string path, uint32_t first) : path_(std::move(path))
{
    Locked([&](TState& state, bool fresh) {
        if (fresh) state = TState{first, {}};
    });
}

template <typename F>
void TSerialPool::Locked(F change) const
{
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("Serial number pool " + path_ + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }  // also drops the lock
    } closer{fd};
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) throw std::runtime_error("Serial number pool " + path_ + ": " + std::strerror(errno));
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    const bool fresh = text.empty();
    TState state = Parse(text, 0);
    change(state, fresh);
    const std::string out = Format(state);
    if (::lseek(fd, 0, SEEK_SET) != 0 || ::ftruncate(fd, 0) != 0 ||
        ::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
        throw std::runtime_error("Serial number pool " + path_ + ": " + std::strerror(errno));
}

uint64_t TSerialPool::Take()
{
    uint64_t taken = 0;
    Locked([&](TState& state, bool) {
        if (!state.Free.empty()) {
            taken = state.Free.front();
            state.Free.erase(state.Free.begin());
        } else {
            taken = state.Next++;
        }
    });
    return taken;
}

void TSerialPool::Release(uint64_t number)
{
    Locked([&](TState& state, bool) {
        if (std::find(state.Free.begin(), state.Free.end(), number) == state.Free.end()) state.Free.push_back(number);
        std::sort(state.Free.begin(), state.Free.end());
    });
}

TSerialPool::TState TSerialPool::Read() const
{
    TState result;
    Locked([&](TState& state, bool) { result = state; });
    return result;
}
