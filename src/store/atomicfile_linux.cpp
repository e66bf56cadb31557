// Replacing a file's contents as one step on a POSIX system: a temporary file created with
// O_EXCL | O_NOFOLLOW beside the target, locked while it is written, then renamed over it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/hextext.h"
#include "store/atomicfile.h"

namespace atomicfile {
namespace {

constexpr unsigned kAttempts = 64;

[[noreturn]] void Fail(int error)
{
    throw EReplaceFailed(std::strerror(error));
}

// Closes the descriptor when it goes out of scope; the lock held on it goes with it.
class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd()
    {
        if (fd_ >= 0) close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(errno);
        if (n == 0) Fail(EIO);
        done += static_cast<size_t>(n);
    }
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `name` has the form TemporaryName gives for the target named `base`.
bool IsTemporaryOf(const std::string& name, const std::string& base)
{
    const std::string head = base + ".~";
    if (name.size() != head.size() + 12 || name.compare(0, head.size(), head) != 0) return false;
    for (size_t i = head.size(); i < name.size(); ++i)
        if (!hex::IsHexDigit(name[i]) || (name[i] >= 'a' && name[i] <= 'f')) return false;
    return true;
}

// Removes temporary files of the target that saves killed before their rename left behind.
// A save holds a lock on its temporary file until it is renamed, so a file that can be locked
// has no live writer. Only our own regular files are touched, and only by unlinking: nothing
// found under these names is ever written.
void RemoveLeftovers(const std::filesystem::path& target)
{
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string base = target.filename().string();
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsTemporaryOf(name, base)) continue;
        const std::string path = (folder / name).string();
        struct stat seen {};
        if (lstat(path.c_str(), &seen) != 0 || !S_ISREG(seen.st_mode) || seen.st_uid != geteuid()) continue;
        int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const TFd file(fd);
        struct stat opened {};
        if (file.Get() < 0 || fstat(file.Get(), &opened) != 0 || !SameFile(seen, opened)) continue;
        if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) continue;
        // Still the file we locked: a save that found its name gone has moved on to another.
        struct stat now {};
        if (lstat(path.c_str(), &now) == 0 && SameFile(now, opened)) unlink(path.c_str());
    }
    closedir(dir);
}

// Creates and locks a new temporary file beside the target; `path` receives its name.
int CreateTemporary(const std::string& target, mode_t mode, std::string& path)
{
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        path = TemporaryName(target, attempt);
        // O_EXCL and O_NOFOLLOW: a file or a symbolic link already at this name is never
        // opened, so nothing planted in the folder can take the write elsewhere.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) Fail(errno);
        TFd file(fd);
        // Held until the rename. Only a leftover sweep takes this lock, briefly and without
        // waiting; a file someone else holds locked is given up rather than waited for. Where
        // the file system has no locks the save goes on without (and no sweep removes it).
        int lockError;
        do {
            lockError = flock(file.Get(), LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        } while (lockError == EINTR);
        // A sweep in another process may have taken the name away between the creation and
        // the lock; the file is then no longer reachable and another name is used.
        struct stat opened {};
        struct stat named {};
        const bool stillNamed =
            fstat(file.Get(), &opened) == 0 && lstat(path.c_str(), &named) == 0 && SameFile(opened, named);
        if (lockError != EWOULDBLOCK && stillNamed) return file.Release();
        if (stillNamed) unlink(path.c_str());
    }
    Fail(EEXIST);
}

// Whether the target exists (its status in `given`); a folder or a failing look-up raises.
bool StatTarget(const std::string& fileName, struct stat& given)
{
    const bool exists = stat(fileName.c_str(), &given) == 0;
    if (!exists && errno != ENOENT) Fail(errno);
    if (exists && S_ISDIR(given.st_mode)) Fail(EISDIR);
    return exists;
}

// A file the user may not write stays as it is, as it would when written in place.
void ProbeWritable(const std::string& fileName)
{
    const TFd probe(open(fileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    if (probe.Get() < 0) Fail(errno);
}

// Through a symbolic link the file it names is replaced, and the link stays.
std::filesystem::path ReplacedPath(const std::string& fileName)
{
    std::filesystem::path target(fileName);
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) target = std::filesystem::weakly_canonical(target);
    return target;
}

void WriteInPlace(const std::string& fileName, const std::string& text)
{
    const TFd file(open(fileName.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (file.Get() < 0) Fail(errno);
    WriteAll(file.Get(), text);
}

}  // namespace

std::string TemporaryName(const std::string& target, unsigned attempt)
{
    return target + ".~" + hex::Hex(static_cast<uint32_t>(getpid()), 8) + hex::Hex(attempt & 0xFFFF, 4);
}

void CheckReplaceable(const std::string& fileName)
{
    struct stat given {};
    const bool exists = StatTarget(fileName, given);
    // Opening a pipe to try it could wait for a reader: its permission is asked instead.
    if (exists && !S_ISREG(given.st_mode)) {
        if (access(fileName.c_str(), W_OK) != 0) Fail(errno);
        return;
    }
    if (exists) ProbeWritable(fileName);
    // The save writes a new file beside the target: the folder must take one.
    std::string tmp;
    const TFd file(CreateTemporary(ReplacedPath(fileName).string(), 0600, tmp));
    unlink(tmp.c_str());
}

void ReplaceContents(const std::string& fileName, const std::string& text)
{
    struct stat given {};
    const bool exists = StatTarget(fileName, given);
    // A pipe or a device (standard output, a terminal) is written into: renaming a file over it
    // would destroy it instead.
    if (exists && !S_ISREG(given.st_mode)) {
        WriteInPlace(fileName, text);
        return;
    }
    if (exists) ProbeWritable(fileName);
    const std::filesystem::path target = ReplacedPath(fileName);

    RemoveLeftovers(target);
    std::string tmp;
    // While it is written the new file is private to the user when it replaces a file, whose
    // permissions it takes on only once complete; a new file gets the usual default.
    const TFd file(CreateTemporary(target.string(), exists ? 0600 : 0666, tmp));
    try {
        WriteAll(file.Get(), text);
        if (exists && fchmod(file.Get(), given.st_mode & 07777) != 0) Fail(errno);
        // On disk before it takes the old file's place, so that a crash cannot leave the name
        // pointing at a file whose data never arrived.
        if (fsync(file.Get()) != 0 && errno != EINVAL) Fail(errno);
        if (rename(tmp.c_str(), target.c_str()) != 0) Fail(errno);
    } catch (...) {
        unlink(tmp.c_str());
        throw;
    }
}

}  // namespace atomicfile
