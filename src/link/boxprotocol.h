#pragma once
// The programmer box's command protocol: framing, the command set, synchronisation, Connect's
// identification and the Flash and option operations. It runs over an IBoxTransport and is the
// same for the parallel and the serial link; the programmer that owns it supplies the device,
// the progress callback, the status log and the reconnection.
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "link/boxtransport.h"

class THexList;
class TISPProgrammer;

// What the box says about itself, from one round of queries.
struct TBoxIdentity {
    std::string ProgrammerId;
    std::string HardwareVersion;
    std::string FirmwareVersion;
};

class TBoxProtocol {
public:
    static constexpr const char* kExpectedId = "ZEMPRIX01";
    static constexpr const char* kCommFailed = IBoxTransport::kCommFailed;
    static constexpr const char* kTimedOut = IBoxTransport::kTimedOut;
    static constexpr const char* kNotResponding = "ISP is not responding, check your communications settings";

    TBoxProtocol(TISPProgrammer& owner, IBoxTransport& transport);

    // The box has answered a ping since the last failure, disconnection or error report.
    bool Synced = false;

    // ---- connection ----
    void Ping();
    void ClearSync() { Synced = false; }
    // The first step of every device operation; a box that does not answer the ping is
    // reconnected through the owner's Disconnect and Connect.
    void Synchronise();
    void CheckFirmware();
    std::string ReadProgrammerId();
    // Connect's identification. The parallel box announces itself after its reset (read unasked);
    // the serial box is woken with "*" and asked. Whatever the box answers instead of the
    // identification or the firmware version (an error code, noise, silence) means the link is
    // not set up right: "ISP is not responding, check your communications settings". A wrong
    // identification or version needs a firmware update.
    std::string ReadAnnouncement();
    void Greet();
    std::string AskIdentification();
    void ConfirmFirmware(int32_t linkKind);
    // The information reports' "General Information": identification, hardware and firmware.
    TBoxIdentity QueryIdentity();

    // ---- device operations ----
    void EraseDevice();
    void ProgramFlash(THexList& image);
    void VerifyFlash(THexList& image);
    void ReadFlash(THexList& image);
    uint8_t ReadOptions();
    // 1 when a target board answers a one-byte read of address 0, 0 when the box says no target
    // answers ("?m"); a failure of the link itself is raised.
    uint8_t TargetPresent();
    void ProgramOptions(uint8_t value);
    void RunTarget();
    void WriteTiming(const std::string& text);
    std::string ReadTiming();
    // Blocks of the image that are all FFh become 00h, which program and verify skip.
    void PrepareBlankImage(THexList& image) const;

    // ---- frame layer ----
    // Sends `command` (none when 0), reads `count` characters, then CheckResponse.
    std::string Query(char command, int count);
    // Hexadecimal block read into buffer[start .. start+count-1] (buffer indexed by address).
    void ReadBlock(uint8_t* buffer, char command, uint32_t start, uint32_t count);
    uint8_t ReadByte(bool reportProgress = false);
    void WriteByte(uint8_t value);
    void SendByte(uint8_t value) { WriteByte(value); }
    // Waits until the box is ready; true when it has a byte to send. With `reportProgress` the
    // wait keeps the shell alive and lets a confirmed abort end it (a page erase can hold the box
    // busy for a long time).
    bool WaitReady(bool reportProgress = false);
    void CheckResponse(bool reportProgress = false);
    // Waits for an answer with progress reports. An abort seen meanwhile is kept in `aborted`
    // while the wait goes on without reports, so that the answer is still read and the exchange
    // stays in step for the closing commands; the caller raises it after reading. Returns what
    // the last wait said: true when the box has something to send.
    bool WaitForAnswer(std::exception_ptr& aborted);
    // Two hexadecimal digits as a byte; anything else is a broken exchange, never data.
    uint8_t DataPair(uint8_t hi, uint8_t lo);

    void SendCommand(char command, const std::string& text = {}, bool reportProgress = false);
    void SendCommandNoAck(char command, const std::string& text = {});
    // Raises the exception of a box error code; returns for codes it does not know.
    void RaiseBoxError(uint8_t code);

private:
    // Raises the link's failure; the exchange is out of step afterwards, so the next operation
    // synchronises first.
    [[noreturn]] void Fail(const char* message);
    // A "?" answer where data was expected: the code's exception, or for a code the link does
    // not know "Communications with ISP failed during this operation". Either way unsynced.
    [[noreturn]] void BoxErrorAnswer(uint8_t code);
    // Runs one step of Connect's identification, turning the box's failure to answer into
    // "ISP is not responding".
    template <typename Step>
    auto Identifying(Step step) -> decltype(step());
    void ReadBlockByBytes(uint8_t* buffer, char command, uint32_t start, uint32_t count);
    void StoreWholeBlock(uint8_t* buffer, uint32_t start, const std::string& answer);
    // Marks the image byte verified when `read` matches it, else failed with its
    // "Verify Failed at ..." status-log line; true on a match.
    bool CheckByte(THexList& image, uint32_t address, uint8_t read);
    // Verify's and Read's common start: the image must cover the device; synchronise and report
    // the start of the progress. Returns the Flash size.
    uint32_t StartBlockRead(const THexList& image);
    // Reads the answer to one programming-mode block write: true when the block is written,
    // false when the box says it failed verification ("?V"; the block is then read back byte
    // by byte); any other answer raises.
    bool BlockWritten();

    TISPProgrammer& owner_;
    IBoxTransport& transport_;
};

// The reports' synchronisation, through the programmer's own Synchronise: a silent box becomes
// the line "*Communications to Programmer Failed" (and false); a target that does not answer
// sets targetSilent and counts as success; anything else propagates.
bool SynchroniseForReport(TISPProgrammer& programmer, std::vector<std::string>& lines, bool& targetSilent);
