#pragma once
// The programmer box behind a PC parallel port. The framing, the command set and the Flash and
// option operations (boxprotocol.cpp) are shared with the serial link, which replaces only the
// byte layer (ReadByte, WriteByte, SendByte, WaitReady, ReadBlock) and Connect, Disconnect,
// Setup and ShowInformation. The parallel bit layer and connection live in parallelbits.cpp.
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "link/programmer.h"

class TVicLPT;
class IClock;

class TSmartParallel : public TISPProgrammer {
public:
    static constexpr const char* kExpectedId = "ZEMPRIX01";
    static constexpr const char* kCommFailed = "Communications with ISP failed during this operation";
    static constexpr const char* kTimedOut = "ISP timed out during operation";

    TSmartParallel();

    // Pins of the 25-pin connector the bit layer uses.
    int DataOutPin = 16;
    int ClockPin = 14;
    int AckPin = 10;
    int DataInPin = 11;
    int SelectPin = 17;
    int ResetPin = 1;

    bool Synced = false;
    int32_t MaxReadTimeout = 50000;
    int32_t MaxWriteTimeout = 50000;
    uint8_t OptionsSetting = 20;

    // ---- inherited operations: connection (parallelbits.cpp) ----
    bool Connect() override;
    void Disconnect() override;
    void Setup() override;
    void ShowInformation(const std::string& softwareVersion) override;

    // ---- inherited operations: protocol and device operations (boxprotocol.cpp) ----
    void Synchronise() override;
    void CheckFirmware() override;
    std::string ReadProgrammerId() override;
    std::string ProgrammerId() override { return kExpectedId; }
    void EraseDevice() override;
    void ProgramFlash(THexList& image) override;
    void VerifyFlash(THexList& image) override;
    void ReadFlash(THexList& image) override;
    uint8_t ReadOptions() override;
    // 1 when a target board answers a one-byte read of address 0, 0 when the box says no target
    // answers ("?m"); a failure of the link itself is raised.
    uint8_t TargetPresent() override;
    void ProgramOptions(uint8_t value) override;
    void RunTarget() override;
    void WriteTiming(const std::string& text) override;
    std::string ReadTiming() override;
    void PrepareBlankImage(THexList& image) override;

    // Programmer settings under the section named after the hardware kind (linksettings.cpp).
    void LoadSettings() override;
    void SaveSettings() override;

    // ---- byte and frame layer ----
    virtual void Ping();
    virtual void ClearSync() { Synced = false; }
    // Drops answers left over from an exchange that failed half-way, before a new one starts.
    virtual void DiscardStaleInput() {}
    // Sends `command` (none when 0), reads `count` characters, then CheckResponse.
    virtual std::string Query(char command, int count);
    // Hexadecimal block read into buffer[start .. start+count-1] (buffer indexed by address).
    virtual void ReadBlock(uint8_t* buffer, char command, uint32_t start, uint32_t count);
    virtual uint8_t ReadByte(bool reportProgress = false);
    // Two hexadecimal digits as a byte; anything else is a broken exchange, never data.
    uint8_t DataPair(uint8_t hi, uint8_t lo);
    virtual void WriteByte(uint8_t value);
    virtual void SendByte(uint8_t value) { WriteByte(value); }
    // Waits until the box is ready; true when it has a byte to send.
    // With `reportProgress` the wait keeps the shell alive and lets a confirmed abort end it
    // (a page erase can hold the box busy for a long time).
    virtual bool WaitReady(bool reportProgress = false);
    virtual void CheckResponse(bool reportProgress = false);
    // Waits for an answer with progress reports. An abort seen meanwhile is kept in `aborted`
    // while the wait goes on without reports, so that the answer is still read and the exchange
    // stays in step for the closing commands; the caller raises it after reading.
    void WaitForAnswer(std::exception_ptr& aborted);
    virtual std::string ExpectedId() { return kExpectedId; }

    void SendCommand(char command, const std::string& text = {}, bool reportProgress = false);
    void SendCommandNoAck(char command, const std::string& text = {});
    // Raises the exception of a box error code; returns for codes it does not know.
    void RaiseBoxError(uint8_t code);

    // The clock used for time-outs and the waits of Connect (the process clock by default).
    IClock& TimeSource() const;
    void SetTimeSource(IClock* clock) { clock_ = clock; }

protected:
    // Raises the link's failure; the exchange is out of step afterwards, so the next operation
    // synchronises first.
    [[noreturn]] void Fail(const char* message);
    // A "?" answer where data was expected: the code's exception, or for a code the link does
    // not know "Communications with ISP failed during this operation". Either way unsynced.
    [[noreturn]] void BoxErrorAnswer(uint8_t code);
    // The byte two hex characters (either case) stand for; anything else gives 0.
    static uint8_t HexPair(uint8_t hi, uint8_t lo);
    // The reports' synchronisation: a silent box becomes the line "*Communications to Programmer
    // Failed" (and false); a target that does not answer sets targetSilent and counts as success.
    bool SynchroniseForReport(std::vector<std::string>& lines, bool& targetSilent);
    // Marks the image byte verified when `read` matches it, else failed with its
    // "Verify Failed at ..." status-log line; true on a match.
    bool CheckByte(THexList& image, uint32_t address, uint8_t read);
    // Verify's and Read's common start: the image must cover the device; synchronise and report
    // the start of the progress. Returns the Flash size.
    uint32_t StartBlockRead(const THexList& image);
    // Blocks [a, a+count) of the image that are all 00h are skipped by program and verify.
    static bool AllZero(const THexList& image, uint32_t from, uint32_t count);

private:
    IClock* clock_ = nullptr;
};
