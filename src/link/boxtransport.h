#pragma once
// The byte layer under the box protocol: the parallel pins and the serial port each implement
// it, and TBoxProtocol speaks the command set over it without knowing which one it has.
//
// What the protocol may rely on:
// - A failure the transport raises itself is an EISPException carrying the owning programmer's
//   hardware name and one of two texts: "ISP timed out during operation" (the box never became
//   ready) or "Communications with ISP failed during this operation" (the exchange broke). The
//   exchange is out of step afterwards; the caller synchronises before the next command.
// - A wait with `reportProgress` calls the owner's keep-alive (DoProgress(-1, -1)). Whatever that
//   raises (the user's abort) leaves the wait as it is; a byte read cut short that way is lost.
// - Every limit runs on the transport's clock, so tests run in virtual time.
// - Errors of the port itself (a serial port that fails) pass through unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

class IBoxTransport {
public:
    static constexpr const char* kCommFailed = "Communications with ISP failed during this operation";
    static constexpr const char* kTimedOut = "ISP timed out during operation";

    virtual ~IBoxTransport() = default;

    // Sends one byte; raises when the box does not take it.
    virtual void WriteByte(uint8_t value) = 0;
    // Receives one byte within the transport's limit.
    virtual uint8_t ReadByte(bool reportProgress) = 0;
    // Waits until the box is ready: true when it has a byte to send, false when it waits for one.
    virtual bool WaitReady(bool reportProgress) = 0;
    // Sends a block read command and collects the whole answer of `length` characters (the hex
    // text and the final mark) at once. Returns false, having sent nothing, when the transport
    // moves bytes one at a time: the caller then sends the command and reads the answer byte by
    // byte. When true, `answer` is either all `length` characters or the box's error answer ("?"
    // and its code), after which nothing else of the exchange is left in flight; any other answer
    // raises "Communications with ISP failed during this operation".
    virtual bool ReadWholeBlock(const std::string& command, size_t length, std::string& answer) = 0;
    // Drops answers left over from an exchange that failed half-way.
    virtual void DiscardInput() = 0;
};
