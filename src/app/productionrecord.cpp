#include "app/productionrecord.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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

std::string TProductionRecord::CsvLine(const TBoardRecord& r)
{
    return Csv(r.Time) + ',' + Csv(r.Port) + ',' + Csv(r.Device) + ',' + Csv(r.ImageFile) + ',' + Csv(r.ImageCrc32) +
           ',' + Csv(r.Serial) + ',' + Csv(r.Steps) + ',' + (r.Ok ? "ok" : "failed") + ',' + Csv(r.FailureLine);
}

void TProductionRecord::Append(const TBoardRecord& record) const
{
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw EISPException("Production record: cannot open " + path_ + ": " + std::strerror(errno));
    struct stat st {};
    std::string text;
    if (::fstat(fd, &st) == 0 && st.st_size == 0) text = std::string(kHeader) + '\n';
    text += CsvLine(record) + '\n';
    // O_APPEND with a single write keeps each line whole.
    const ssize_t written = ::write(fd, text.data(), text.size());
    const int error = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(text.size()))
        throw EISPException("Production record: cannot write " + path_ + ": " +
                            (written < 0 ? std::strerror(error) : "short write"));
}

TSubscription TProductionRecord::Attach(TAppSession& session, const std::string& port)
{
    TAppSession* s = &session;
    const std::string path = path_;
    return session.AutoProgram().OnBoardDone.Subscribe([s, path, port](const TAutoProgram::TBoard& board) {
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
        r.FailureLine = board.Failure;
        try {
            TProductionRecord(path).Append(r);
        } catch (const std::exception& e) {
            s->Runner().AppendLog(e.what());
        }
    });
}
