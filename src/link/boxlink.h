#pragma once
// What both box links share: a transport of their own kind and the box protocol over it, with the
// programmer's operations handed to the protocol. The links add connection, setup, report and
// settings; neither derives from the other.
#include <cstdint>
#include <string>

#include "link/boxprotocol.h"
#include "link/programmer.h"

template <typename TTransport>
class TBoxLink : public TISPProgrammer {
public:
    void Synchronise() override { protocol_.Synchronise(); }
    void CheckFirmware() override { protocol_.CheckFirmware(); }
    std::string ReadProgrammerId() override { return protocol_.ReadProgrammerId(); }
    std::string ProgrammerId() override { return TBoxProtocol::kExpectedId; }
    void EraseDevice() override { protocol_.EraseDevice(); }
    void ProgramFlash(THexList& image) override { protocol_.ProgramFlash(image); }
    void VerifyFlash(THexList& image) override { protocol_.VerifyFlash(image); }
    void ReadFlash(THexList& image) override { protocol_.ReadFlash(image); }
    uint8_t ReadOptions() override { return protocol_.ReadOptions(); }
    uint8_t TargetPresent() override { return protocol_.TargetPresent(); }
    void ProgramOptions(uint8_t value) override { protocol_.ProgramOptions(value); }
    void RunTarget() override { protocol_.RunTarget(); }
    void WriteTiming(const std::string& text) override { protocol_.WriteTiming(text); }
    std::string ReadTiming() override { return protocol_.ReadTiming(); }
    void PrepareBlankImage(THexList& image) override { protocol_.PrepareBlankImage(image); }

    TBoxProtocol& Protocol() { return protocol_; }
    TTransport& Transport() { return transport_; }

protected:
    // The transport first: the protocol is built over it.
    TTransport transport_{*this};
    TBoxProtocol protocol_{*this, transport_};
};
