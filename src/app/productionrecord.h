#pragma once
// The production record: one CSV line per board that Auto Program or plug-and-program ran, for
// traceability on a production line. Lines are appended under the file's lock and a line that
// could not be written whole is taken back, so a full disk never leaves half a record and two
// programs appending to one file never interleave their lines nor both write the header.
#include <cstdint>
#include <functional>
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
    bool VerifyFailed = false; // "verify failed" in the result column, as the gang's table says
    std::string FailureLine;   // what stopped the board as its status line said it, empty when it passed
};

class TProductionRecord {
public:
    static constexpr const char* kHeader = "time,port,device,image,crc32,serial,steps,result,failure";

    explicit TProductionRecord(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Appends the line (and the header first when the file is new or empty). Raises
    // EISPException with the system's reason when the file cannot be written; the file is then
    // as it was.
    void Append(const TBoardRecord& record) const;
    // Opens the file for appending (creating it empty) and closes it again, so that a run can
    // refuse a record it could never write before the first board. Raises EISPException.
    void CheckWritable() const;
    // A cell that starts with =, +, - or @ is written with a leading ' so that a spreadsheet
    // shows it as text and never runs it as a formula.
    static std::string CsvLine(const TBoardRecord& record);
    // One field as CsvLine writes it: quoted when needed, guarded against formulas, on one line.
    static std::string CsvField(const std::string& field);

    // Records every board the session's Auto Program finishes while the subscription is held;
    // `port` names the box in the lines. A line that cannot be written is logged, or handed to
    // `onLost` when given, and the other listeners of the board (a serial-number pool's
    // bookkeeping) still hear of it.
    [[nodiscard]] TSubscription Attach(TAppSession& session, const std::string& port,
                                       std::function<void(const std::string&)> onLost = nullptr);

private:
    std::string path_;
};
