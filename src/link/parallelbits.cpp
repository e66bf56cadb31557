#include "link/isperrors.h"
#include "link/smartparallel.h"

// Placeholder until the parallel bit layer lands: every exchange reports a missing port.
namespace {
[[noreturn]] void NoPort(const std::string& hw)
{
    throw EISPException("LPT port not found or in use by another program", false, hw);
}
}  // namespace

bool TSmartParallel::Connect() { NoPort(HardwareName()); }
void TSmartParallel::Disconnect() { Synced = false; }
void TSmartParallel::Setup() {}
void TSmartParallel::ShowInformation(const std::string&) {}
uint8_t TSmartParallel::ReadByte(bool) { NoPort(HardwareName()); }
void TSmartParallel::WriteByte(uint8_t) { NoPort(HardwareName()); }
bool TSmartParallel::WaitReady() { NoPort(HardwareName()); }
