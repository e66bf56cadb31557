#pragma once
// The programmer box's firmware as seen on the wire, with a COP8 target behind it. Both front
// ends drive it one byte at a time: the serial one (a pseudo-terminal or an in-process port) and
// the simulated parallel-port chipset, which turns the pin handshake into these bytes.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class TDevice;

// Faults the box can be told to show.
struct TBoxFaults {
    std::string identification = "ZEMPRIX01";  // announced after reset and answered to "S"
    std::string firmware = "0009";             // answered to "v"
    std::string hardware = "0001";             // answered to "V"
    // The next acked command (or block read) answers "?" and this code instead; 0 = none.
    uint8_t errorCode = 0;
    // Go silent (drop all output and stop answering) once this many more bytes have been sent;
    // -1 = never.
    long silentAfter = -1;
    // An address whose byte never programs (writes leave it as it was); -1 = none.
    long stuckAddress = -1;
    bool targetAbsent = false;  // the target does not answer: Flash commands fail with "?m"
};

class TBoxModel {
public:
    explicit TBoxModel(const TDevice& device);

    // Power-on or reset pulse: leaves programming and run mode and queues the announcement.
    void Reset();
    // One byte from the host.
    void HostWrite(uint8_t byte);
    // Bytes the box has queued for the host.
    bool HasOutput() const { return !output_.empty(); }
    size_t OutputCount() const { return output_.size(); }
    uint8_t TakeOutput();
    void ClearOutput() { output_.clear(); }

    TBoxFaults& Faults() { return faults_; }

    // The target's memory and state.
    const TDevice& Device() const { return device_; }
    std::vector<uint8_t>& Flash() { return flash_; }
    const std::vector<uint8_t>& Flash() const { return flash_; }
    const std::string& Timing() const { return timing_; }
    bool ProgrammingMode() const { return programmingMode_; }
    bool Running() const { return running_; }
    // Host behaviour the protocol forbids, one line each (tests fail when it is not empty).
    const std::vector<std::string>& Violations() const { return violations_; }
    // Every command letter received, in order (a log for tests).
    const std::string& Commands() const { return commands_; }
    void ClearCommands() { commands_.clear(); }
    // Counts of bytes moved each way (wire time for benchmarks).
    size_t BytesIn() const { return bytesIn_; }
    size_t BytesOut() const { return bytesOut_; }

    // Keeps Flash, the timing text and the option byte between runs.
    bool SaveState(const std::string& path) const;
    bool LoadState(const std::string& path);

private:
    // (implementation state: parser of the current command, programming-mode flags, ...)
    void Emit(uint8_t byte);
    void Emit(const std::string& text);
    void Violation(const std::string& what);

    const TDevice& device_;
    TBoxFaults faults_;
    std::vector<uint8_t> flash_;
    std::string timing_ = "7B000CFF";
    bool programmingMode_ = false;
    bool running_ = false;
    std::deque<uint8_t> output_;
    std::vector<std::string> violations_;
    std::string commands_;
    size_t bytesIn_ = 0;
    size_t bytesOut_ = 0;
    std::vector<uint8_t> pending_;  // bytes of the command being received
};
