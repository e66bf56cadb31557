#include "link/programmer.h"

#include "image/hexlist.h"
#include "link/hardware.h"
#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/linkhost.h"

ILinkHost& NullLinkHost()
{
    static ILinkHost host;
    return host;
}

TISPProgrammer::TISPProgrammer() : host_(&NullLinkHost()) {}
TISPProgrammer::~TISPProgrammer() = default;

void TISPProgrammer::SetHost(ILinkHost* host) { host_ = host ? host : &NullLinkHost(); }

void TISPProgrammer::NotSupported(const char* operation) const
{
    throw EISPException(std::string(operation) + " is not supported by this programmer", false, hardwareName_);
}

void TISPProgrammer::ProgramFlash(THexList&) { NotSupported("ProgramFlash"); }
void TISPProgrammer::VerifyFlash(THexList&) { NotSupported("VerifyFlash"); }
void TISPProgrammer::ReadFlash(THexList&) { NotSupported("ReadFlash"); }
void TISPProgrammer::EraseDevice() { NotSupported("EraseDevice"); }
uint8_t TISPProgrammer::ReadOptions() { NotSupported("ReadOptions"); }
void TISPProgrammer::ProgramOptions(uint8_t) { NotSupported("ProgramOptions"); }
void TISPProgrammer::WriteTiming(const std::string&) { NotSupported("WriteTiming"); }
std::string TISPProgrammer::ReadTiming() { NotSupported("ReadTiming"); }
std::string TISPProgrammer::ProgrammerId() { return {}; }
TSetupChoice TISPProgrammer::SetupChoice() { return {}; }
void TISPProgrammer::ApplySetup(std::optional<int>) {}
void TISPProgrammer::RunTarget() { NotSupported("RunTarget"); }
bool TISPProgrammer::Connect() { NotSupported("Connect"); }
void TISPProgrammer::Disconnect() {}
std::string TISPProgrammer::ReadProgrammerId() { NotSupported("ReadProgrammerId"); }
TProgrammerReport TISPProgrammer::InformationReport() { return {}; }
void TISPProgrammer::CheckFirmware() {}
void TISPProgrammer::PrepareBlankImage(THexList&) {}

void TISPProgrammer::DoProgress(int32_t position, int32_t total)
{
    if (onProgress_) onProgress_(position, total);
}

TByteSet TISPProgrammer::DeviceSetOf() const
{
    return deviceSetGiven_ ? deviceSet_ : HardwareDeviceSet(HardwareIndex(hardwareName_));
}

TLinkContext& TISPProgrammer::Context() const
{
    if (context_) return *context_;
    if (!ownContext_) ownContext_ = std::make_unique<TLinkContext>();
    return *ownContext_;
}
