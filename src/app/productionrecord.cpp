#include "app/productionrecord.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/session.h"
#include "base/isperrors.h"
#include "devices/devices.h"
#include "image/checksum.h"

namespace {

std::string Csv(const std::string& field)
{
    bool quote = false;
    std::string out;
    // A port, file or failure text may start like a formula; a spreadsheet must not run it.
    if (!field.empty() && std::string("=+-@").find(field[0]) != std::string::npos) out += '\'';
    for (char c : field) {
        if (c == '"' || c == ',' || c == '\n' || c == '\r') quote = true;
        if (c == '"') out += '"';
        // A record is one line whatever a failure text holds.
        out += (c == '\n' || c == '\r') ? ' ' : c;
    }
    return quote ? '"' + out + '"' : out;
}

std::string Now()
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    return stamp;
}

}  // namespace

std::string TProductionRecord::CsvField(const std::string& field) { return Csv(field); }

std::string TProductionRecord::CsvLine(const TBoardRecord& r)
{
    return Csv(r.Time) + ',' + Csv(r.Port) + ',' + Csv(r.Device) + ',' + Csv(r.ImageFile) + ',' + Csv(r.ImageCrc32) +
           ',' + Csv(r.Serial) + ',' + Csv(r.Steps) + ',' + (r.Ok ? "ok" : r.VerifyFailed ? "verify failed" : "failed") +
           ',' + Csv(r.FailureLine);
}

namespace {

int OpenForAppend(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw EISPException("Production record: cannot open " + path + ": " + std::strerror(errno));
    return fd;
}

}  // namespace

void TProductionRecord::CheckWritable() const
{
    ::close(OpenForAppend(path_));
}

void TProductionRecord::Append(const TBoardRecord& record) const
{
    const int fd = OpenForAppend(path_);
    struct TCloser {
        int fd;
        ~TCloser() { ::close(fd); }  // also drops the lock
    } closer{fd};
    auto fail = [&](const char* reason) {
        throw EISPException("Production record: cannot write " + path_ + ": " + reason);
    };
    // Every writer holds the lock from the size check to the end of its line: the header goes
    // only into a file still empty, and a line taken back never cuts another program's.
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) fail(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail(std::strerror(errno));
    std::string text;
    if (st.st_size == 0) text = std::string(kHeader) + '\n';
    text += CsvLine(record) + '\n';
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // Half a line would glue the next record onto it: the file goes back to its size.
            if (done > 0 && ::ftruncate(fd, st.st_size) != 0) fail(std::strerror(errno));
            fail(std::strerror(error));
        }
        done += static_cast<size_t>(n);
    }
}

TSubscription TProductionRecord::Attach(TAppSession& session, const std::string& port,
                                        std::function<void(const std::string&)> onLost)
{
    TAppSession* s = &session;
    const std::string path = path_;
    return session.AutoProgram().OnBoardDone.Subscribe([s, path, port, onLost](const TAutoProgram::TBoard& board) {
        TBoardRecord r;
        r.Time = Now();
        r.Port = port;
        r.Device = s->Device() ? s->Device()->Name() : std::string();
        const THexList& image = s->Project().Flash;
        r.ImageFile = image.FileName();
        r.ImageCrc32 = board.ImageCrc32.empty() ? DigestText(ChecksumByName("CRC-32")->Compute(image.Values()))
                                                : board.ImageCrc32;
        r.Serial = board.SerialPlaced;
        r.Steps = board.Steps;
        r.Ok = board.Ok;
        r.VerifyFailed = board.VerifyFailed;
        r.FailureLine = board.Failure;
        try {
            TProductionRecord(path).Append(r);
        } catch (const std::exception& e) {
            if (onLost)
                onLost(e.what());
            else
                s->Runner().AppendLog(e.what());
        }
    });
}
