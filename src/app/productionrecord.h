#pragma once
// The production record: one CSV line per board that Auto Program or plug-and-program ran, for
// traceability on a production line. Each line is appended with one write, so a crash never
// leaves half a record and two programs appending to one file never interleave their lines.
#include <cstdint>
#include <string>
#include <vector>

#include "base/observers.h"

class TAppSession;

struct TBoardRecord {
    std::string Time;          // local time, ISO 8601
    std::string Port;
    std::string Device;
    std::string ImageFile;
    std::string ImageCrc32;    // of the whole image as programmed
    std::string Serial;        // the serial number placed into the image, empty when numbering is off
    std::string Steps;         // the steps run, "erase+program+verify"
    bool Ok = false;
    std::string FailureLine;   // what stopped the board, empty when it passed
};

class TProductionRecord {
public:
    static constexpr const char* kHeader = "time,port,device,image,crc32,serial,steps,result,failure";

    explicit TProductionRecord(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Appends the line (and the header first when the file is new or empty). Raises
    // EISPException with the system's reason when the file cannot be written.
    void Append(const TBoardRecord& record) const;
    static std::string CsvLine(const TBoardRecord& record);

    // Records every board the session's Auto Program finishes while the subscription is held;
    // `port` names the box in the lines. A line that cannot be written is logged, and the other
    // listeners of the board (a serial-number pool's bookkeeping) still hear of it.
    [[nodiscard]] TSubscription Attach(TAppSession& session, const std::string& port);

private:
    std::string path_;
};
