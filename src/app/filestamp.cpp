#include "app/filestamp.h"

#include <sys/stat.h>

TFileStamp TFileStamp::Of(const std::string& path)
{
    TFileStamp stamp;
    stamp.Path = path;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return stamp;
    stamp.Exists = true;
    stamp.Size = static_cast<int64_t>(st.st_size);
    stamp.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.Inode = static_cast<uint64_t>(st.st_ino);
    stamp.Device = static_cast<uint64_t>(st.st_dev);
    return stamp;
}

bool TFileStamp::SameFile(const TFileStamp& other) const
{
    return Exists == other.Exists && Size == other.Size && ModifiedNs == other.ModifiedNs && Inode == other.Inode &&
           Device == other.Device;
}

bool TFileStamp::Changed() const { return !Path.empty() && !SameFile(Of(Path)); }
