#pragma once
// The programmer box's firmware as seen on the wire, with a COP8 target behind it. Both front
// ends drive it one byte at a time: the serial one (a pseudo-terminal or an in-process port) and
// the simulated parallel-port chipset, which turns the pin handshake into these bytes.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class TDevice;

// Faults the box can be told to show.
struct TBoxFaults {
    std::string identification = "ZEMPRIX01";  // announced after reset and answered to "S"
    std::string firmware = "0009";             // answered to "v"
    std::string hardware = "0001";             // answered to "V"
    // The next acked command (or block read) answers "?" and this code instead; 0 = none.
    // Acked: every command answered with a response mark, queries included, so the "rFFFF" an
    // operation synchronises with takes it; "I" and "*" never do.
    uint8_t errorCode = 0;
    // When set, errorCode waits for the next command with this letter instead (for example "Z"
    // to fail an erase after its synchronisation went through).
    char errorCommand = 0;
    // Go silent (drop all output and stop answering) once this many more bytes have been sent;
    // -1 = never.
    long silentAfter = -1;
    // An address whose byte never programs (writes leave it as it was); -1 = none.
    long stuckAddress = -1;
    bool targetAbsent = false;  // the target does not answer: Flash commands fail with "?m"
    // With targetAbsent, the timing write "T" is refused with "?m" as well (a box that checks
    // the target before taking the timing).
    bool timingNeedsTarget = false;
    // Every "I" is refused with "?" and this code; 0 = none (ping answers are not acked, so
    // errorCode does not reach them).
    uint8_t pingRefusal = 0;
    // The pair for this address in the next block read ("R") or byte read ("r") comes as noise
    // ("G?") instead of hex digits; -1 = none. Used once.
    long readNoiseAt = -1;
    // The next programming-mode block write is answered with this byte instead of its mark; 0 = none.
    uint8_t blockAnswer = 0;
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

    // Stores a byte as it is, whatever was there (a test or a control channel changing the
    // target behind the host's back).
    void Poke(uint32_t address, uint8_t value)
    {
        flash_.at(address) = value;
        ++changes_;
    }
    // Counts every change of Flash or the timing text (a front end saves its state when it moves).
    uint64_t Changes() const { return changes_; }
    // Called with each complete command as readable text ("R00000800", "W 0100 10 <data>").
    void SetTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

    // Keeps Flash, the timing text and the option byte between runs. The file is text: a header
    // line, "DEVICE name", "TIMING text" and "FLASH size" followed by lines "AAAA: 32 bytes in hex".
    // Saving writes a temporary file and renames it over the old one; loading changes nothing
    // unless the whole file is valid and sized for this device.
    bool SaveState(const std::string& path) const;
    bool LoadState(const std::string& path);

private:
    void Emit(uint8_t byte);
    void Emit(const std::string& text);
    void Violation(const std::string& what);

    size_t ArgumentLength() const;  // bytes after the letter; grows once a count is known
    bool TakeHexArgument(size_t offset, size_t digits, uint32_t& value);
    void Execute();
    void ExecuteText(char letter);
    // The text commands with arguments, one each; a malformed argument leaves malformed_ set.
    void TextReadByte();
    void TextReadBlock();
    void TextWriteBlock();
    void TextWriteByte();
    void TextErasePage();
    void TextWriteTiming();
    void TextArmed(char letter);
    void ExecuteBinary(char letter);
    bool InjectedError(char letter);
    bool TargetMissing();
    // Two hex digits of `value`, or the injected noise for that address.
    std::string NoisyPair(uint32_t address, uint8_t value);
    bool WriteAnd(uint32_t address, uint8_t value);
    void ErasePage(uint32_t address);
    void Trace();

    const TDevice& device_;
    TBoxFaults faults_;
    std::vector<uint8_t> flash_;
    std::string timing_ = "7B000CFF";
    bool programmingMode_ = false;
    // Pages erased since the programming mode was entered: a block written anywhere else would
    // land on old data, which Flash writes (that only clear bits) cannot replace.
    std::vector<bool> erasedInSession_;
    bool running_ = false;
    std::deque<uint8_t> output_;
    std::vector<std::string> violations_;
    std::string commands_;
    size_t bytesIn_ = 0;
    size_t bytesOut_ = 0;
    std::vector<uint8_t> pending_;  // bytes of the command being received
    bool binary_ = false;           // the pending command takes raw arguments (programming mode)
    bool malformed_ = false;        // a hex argument held a character that is not a hex digit
    bool lowerCaseSeen_ = false;    // reported once per command
    char lastLetter_ = 0;           // previous complete command: "=" arms "%", ":" "$", "x" "X"
    uint64_t changes_ = 0;
    std::function<void(const std::string&)> trace_;
};
