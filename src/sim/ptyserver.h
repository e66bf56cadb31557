#pragma once
// Serves a TBoxModel on the master side of a pseudo-terminal until told to stop.
#include <cstdint>
#include <iosfwd>
#include <string>

class TBoxModel;

struct TPtyServeOptions {
    bool pace = false;       // send at the wire speed of 115200 baud, 11 bits per character
    bool strict = false;     // stop at the first protocol violation
    std::string statePath;   // saved whenever Flash or the timing changed and the line is idle
    std::string pokePath;    // "AAAA VV [VV ...]" lines stored into Flash, then the file removed
};

class TPtyServer {
public:
    static constexpr int kViolationExit = 3;
    // Time one character takes on the wire.
    static constexpr int64_t kCharacterNs = 11 * 1'000'000'000LL / 115200;

    // `wakeFd` becomes readable when the server should stop (a signal's self-pipe); `err` gets
    // the warnings and the violation that ends a strict run.
    TPtyServer(TBoxModel& box, int masterFd, int wakeFd, const TPtyServeOptions& options,
               std::ostream& err);

    // Returns the exit status: 0 when stopped, kViolationExit after a violation in strict mode,
    // 1 on an I/O failure.
    int Run();

    // Applies a poke file if one is there; false when a line was not understood (the rest of the
    // file is still applied).
    bool ApplyPokes();

private:
    bool Receive();         // false on a fatal read error
    bool SendOutput();      // false when stopped while waiting to send
    bool WaitWritable();
    bool StopRequested();
    bool CheckViolations();
    void SaveIfChanged();

    TBoxModel& box_;
    int master_;
    int wake_;
    TPtyServeOptions options_;
    std::ostream& err_;
    size_t violationsSeen_ = 0;
    uint64_t savedChanges_ = 0;
    int64_t wireFreeNs_ = 0;  // monotonic time at which the last paced character has left
    int64_t rxFreeNs_ = 0;  // when the last received character finished arriving on the wire
    bool stopped_ = false;
    bool failed_ = false;
};
