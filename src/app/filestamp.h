#pragma once
// What the loaded Flash file looked like on disk when it was read, so that a production run can
// tell before the next board whether the file was written, replaced or removed since. A stat, no
// file watcher: the window adds one for an immediate warning, the command line asks per board.
#include <cstdint>
#include <string>

struct TFileStamp {
    std::string Path;  // empty: nothing loaded from a file
    bool Exists = false;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    uint64_t Inode = 0;
    uint64_t Device = 0;

    static TFileStamp Of(const std::string& path);
    // The file at Path is no longer the one read: another size, time or inode, or gone.
    bool Changed() const;
    bool SameFile(const TFileStamp& other) const;
};
