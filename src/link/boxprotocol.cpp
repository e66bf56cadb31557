// The box protocol shared by both links: framing, command set, synchronisation and the Flash and
// option operations. Only the byte layer below differs between the parallel and the serial link.
#include "link/smartparallel.h"

#include <algorithm>

#include "image/hexlist.h"
#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/linkhost.h"
#include "link/linkcontext.h"
#include "base/clock.h"

namespace {
constexpr uint8_t kCR = 0x0D;
constexpr int kBlock = 16;  // programming block size

std::string Raw(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

IClock& TSmartParallel::TimeSource() const { return clock_ ? *clock_ : Clock(); }

void TSmartParallel::Fail(const char* message)
{
    Synced = false;
    throw EISPException(message, false, HardwareName());
}

uint8_t TSmartParallel::HexPair(uint8_t hi, uint8_t lo)
{
    if (!hex::IsHexDigit(static_cast<char>(hi)) || !hex::IsHexDigit(static_cast<char>(lo))) return 0;
    return static_cast<uint8_t>(hex::DigitValueAnyCase(static_cast<char>(hi)) * 16 +
                                hex::DigitValueAnyCase(static_cast<char>(lo)));
}

uint8_t TSmartParallel::DataPair(uint8_t hi, uint8_t lo)
{
    if (!hex::IsHexDigit(static_cast<char>(hi)) || !hex::IsHexDigit(static_cast<char>(lo))) {
        // Invented data would be saved or compared as if the device held it.
        Synced = false;
        Fail(kCommFailed);
    }
    return HexPair(hi, lo);
}

void TSmartParallel::BoxErrorAnswer(uint8_t code)
{
    Synced = false;
    RaiseBoxError(code);
    Fail(kCommFailed);
}

// ---- framing ----

void TSmartParallel::SendCommandNoAck(char command, const std::string& text)
{
    SendByte(static_cast<uint8_t>(command));
    for (char c : text) SendByte(static_cast<uint8_t>(c));
}

void TSmartParallel::SendCommand(char command, const std::string& text, bool reportProgress)
{
    SendCommandNoAck(command, text);
    CheckResponse(reportProgress);
}

void TSmartParallel::RaiseBoxError(uint8_t code)
{
    switch (code) {
        case '!': throw EISPException("Command not known here", false, HardwareName());
        case '#': throw EISPException("Invalid number sent", false, HardwareName());
        case '%': throw EISPException("BlankCheck Failed", false, HardwareName());
        case 'M': throw EISPException("illegal attempt to use microwire", false, HardwareName());
        case 'T': throw EISPException("Program/erase BUSY timed out", false, HardwareName());
        case 'V': throw EVerifyError("Your target device failed verification");
        case 'm': throw EISPException("Microwire exchange out of sync", false, HardwareName());
        default: return;  // the caller decides
    }
}

void TSmartParallel::WaitForAnswer(std::exception_ptr& aborted)
{
    try {
        WaitReady(true);
    } catch (const EAbortOp&) {
        aborted = std::current_exception();
        WaitReady(false);
    }
}

void TSmartParallel::CheckResponse(bool reportProgress)
{
    std::exception_ptr aborted;
    if (reportProgress)
        WaitForAnswer(aborted);
    else
        WaitReady();
    const uint8_t b = ReadByte();
    if (b == '?') {
        Synced = false;
        RaiseBoxError(ReadByte());
        Fail(kCommFailed);
    }
    if (b != kCR) Fail(kCommFailed);
    if (aborted) std::rethrow_exception(aborted);
}

std::string TSmartParallel::Query(char command, int count)
{
    std::string text;
    if (command != 0) SendByte(static_cast<uint8_t>(command));
    for (int i = 0; i < count; ++i) {
        text += static_cast<char>(ReadByte());
        // A refusal in place of the answer is the box's error, not text to wait for more of.
        if (i == 1 && text[0] == '?') BoxErrorAnswer(static_cast<uint8_t>(text[1]));
    }
    CheckResponse();
    return text;
}

void TSmartParallel::ReadBlock(uint8_t* buffer, char command, uint32_t start, uint32_t count)
{
    SendCommandNoAck(command, hex::Hex4(start) + hex::Hex4(count));
    for (uint32_t i = start; i < start + count; ++i) {
        const uint8_t hi = ReadByte();
        const uint8_t lo = ReadByte();
        if (hi == '?') BoxErrorAnswer(lo);
        buffer[i] = DataPair(hi, lo);
        Host().PumpMessages();
    }
    CheckResponse();
}

// ---- connection ----

void TSmartParallel::Ping()
{
    Synced = false;
    SendByte('I');
    const uint8_t b = ReadByte();
    if (b == '?') {
        Synced = false;
        ReadByte();  // the code, not interpreted
        Fail("ISP Failed to connect");
    }
    Synced = true;
}

void TSmartParallel::Synchronise()
{
    if (!Synced) DiscardStaleInput();
    try {
        Ping();
    } catch (const EISPException&) {
        ClearSync();
        Disconnect();
        Connect();
    }
    if (!Synced) Ping();
    SendCommandNoAck('r', "FFFF");
    const uint8_t b = ReadByte(true);
    if (b == '?') {
        // Take the error code too, so that the next exchange starts in step with the box.
        ReadByte(true);
        Synced = false;
        Fail(kTimedOut);
    }
    ReadByte(true);
    CheckResponse();
}

bool TSmartParallel::SynchroniseForReport(std::vector<std::string>& lines, bool& targetSilent)
{
    targetSilent = false;
    try {
        Synchronise();
    } catch (const EISPException&) {
        lines.push_back("*Communications to Programmer Failed");
        return false;
    } catch (const ETargetNotFound&) {
        targetSilent = true;
    }
    return true;
}

void TSmartParallel::CheckFirmware()
{
    const std::string required = Context().Wide().LinkKind == 3 ? "000A" : "0009";
    if (Query('v', 4) != required) throw EFirmwareMisMatch("Your ISP needs a firmware update");
}

std::string TSmartParallel::ReadProgrammerId()
{
    Synchronise();
    return Query('S', 9);
}

// ---- device operations ----

bool TSmartParallel::AllZero(const THexList& image, uint32_t from, uint32_t count)
{
    const auto& v = image.Values();
    const size_t end = std::min<size_t>(v.size(), static_cast<size_t>(from) + count);
    for (size_t i = from; i < end; ++i)
        if (v[i] != 0) return false;
    return true;
}

bool TSmartParallel::CheckByte(THexList& image, uint32_t address, uint8_t read)
{
    const uint8_t expected = image.GetValue(address);
    if (read == expected) {
        image.SetStatus(address, ps_verified);
        return true;
    }
    image.SetStatus(address, ps_failed);
    Host().AppendLog("Verify Failed at " + hex::Hex(address, 4) + "h: Read " + hex::Hex2(read) +
                     "h - Should have been " + hex::Hex2(expected) + "h");
    return false;
}

namespace {
// The image must cover the device: block transfers write straight into it by address.
void CheckImage(const TISPProgrammer& p, const THexList& image)
{
    if (!p.Device()) throw EISPException("No device selected", false, p.HardwareName());
    if (image.Size() < static_cast<uint32_t>(p.Device()->FlashSize()))
        throw EISPException("Flash image is smaller than the device", false, p.HardwareName());
}
}  // namespace

void TSmartParallel::EraseDevice()
{
    Synchronise();
    SendCommand('Z');
}

void TSmartParallel::ProgramFlash(THexList& image)
{
    CheckImage(*this, image);
    const int32_t flashSize = Device()->FlashSize();
    const uint32_t pageSize = static_cast<uint32_t>(Device()->PageSize());
    Synchronise();
    // The answers while the box works (entering programming mode, page erases, block writes)
    // are read with progress reports, so that the shell stays alive and an abort is seen.
    SendCommand('=', {}, true);
    SendCommand('%', {}, true);
    bool failed = false;
    auto leaveProgrammingMode = [&](bool reportProgress) {
        SendCommand(':', {}, reportProgress);
        SendCommand('$', {}, reportProgress);
    };
    try {
        DoProgress(0, flashSize);
        const int64_t top = image.TopAddress();
        uint32_t a = 0;
        while (top >= 0 && static_cast<int64_t>(a) <= top) {
            // The window is the rest of a's page: a block is only written into a page that this
            // run erases, never into the tail of a page erased by nobody.
            if (AllZero(image, a, pageSize - a % pageSize)) {
                a += kBlock;
                continue;
            }
            if (a % pageSize == 0)
                SendCommand('z', Raw({static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)}), true);
            const uint32_t blockStart = a;
            std::string block = Raw({static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), kBlock});
            for (int k = 0; k < kBlock; ++k) {
                block += static_cast<char>(image.GetValue(a));
                image.SetStatus(a, ps_verified);
                ++a;
                Host().PumpMessages();
                DoProgress(static_cast<int32_t>(a), flashSize);
            }
            SendCommandNoAck('W', block);
            std::exception_ptr aborted;
            WaitForAnswer(aborted);
            const uint8_t answer = ReadByte();
            if (answer == kCR) {
                if (aborted) std::rethrow_exception(aborted);
                continue;
            }
            if (answer != '?') {
                Synced = false;
                Fail(kCommFailed);
            }
            const uint8_t code = ReadByte();
            if (aborted) std::rethrow_exception(aborted);
            if (code != 'V') {
                // The block was refused: that is the box's error, not a success.
                Synced = false;
                RaiseBoxError(code);
                Fail(kCommFailed);
            }
            for (uint32_t i = blockStart; i < blockStart + kBlock; ++i) {
                SendCommandNoAck('r', Raw({static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}));
                CheckByte(image, i, ReadByte(true));
                CheckResponse(true);
            }
            failed = true;
        }
    } catch (...) {
        // Sent without progress reports: an abort still pending must not stop them, or the box
        // would stay in programming mode. If this fails too, that failure is what the caller sees.
        leaveProgrammingMode(false);
        throw;
    }
    leaveProgrammingMode(true);
    if (failed) throw EVerifyError("Program Flash: Verification Failed");
}

uint32_t TSmartParallel::StartBlockRead(const THexList& image)
{
    CheckImage(*this, image);
    const uint32_t flashSize = static_cast<uint32_t>(Device()->FlashSize());
    Synchronise();
    DoProgress(0, static_cast<int32_t>(flashSize));
    return flashSize;
}

void TSmartParallel::VerifyFlash(THexList& image)
{
    const uint32_t flashSize = StartBlockRead(image);
    // The memory moves in 16 equal chunks (at least one byte each, so that the walk ends).
    const uint32_t chunk = std::max<uint32_t>(1, flashSize / 16);
    THexList scratch;
    scratch.SetSize(flashSize);
    bool failed = false;
    for (uint32_t a = 0; a < flashSize; a += chunk) {
        if (AllZero(image, a, chunk)) continue;
        DoProgress(static_cast<int32_t>(a), static_cast<int32_t>(chunk));
        ReadBlock(scratch.Values().data(), 'R', a, chunk);
        for (uint32_t i = a; i < a + chunk; ++i)
            if (!CheckByte(image, i, scratch.GetValue(i))) failed = true;
    }
    if (failed) throw EVerifyError("Flash: Verification Failed");
}

void TSmartParallel::ReadFlash(THexList& image)
{
    const uint32_t flashSize = StartBlockRead(image);
    // The memory moves in 16 equal chunks (at least one byte each, so that the walk ends).
    const uint32_t chunk = std::max<uint32_t>(1, flashSize / 16);
    for (uint32_t a = 0; a + 1 < flashSize; a += chunk) {
        DoProgress(static_cast<int32_t>(a), static_cast<int32_t>(flashSize));
        ReadBlock(image.Values().data(), 'R', a, chunk);
        image.SetStatus(a, ps_read);
    }
}

uint8_t TSmartParallel::ReadOptions()
{
    if (!Device()) throw EISPException("No device selected", false, HardwareName());
    Synchronise();
    SendCommandNoAck('r', hex::Hex4(Device()->OptionAddress()));
    const uint8_t hi = ReadByte();
    const uint8_t lo = ReadByte();
    // An error answer is not an option byte: report it instead of reading "?x" as 00h.
    if (hi == '?') BoxErrorAnswer(lo);
    const uint8_t value = DataPair(hi, lo);
    CheckResponse();
    return value;
}

uint8_t TSmartParallel::TargetPresent()
{
    Synchronise();
    SendCommandNoAck('R', hex::Hex4(0) + hex::Hex4(1));
    const uint8_t hi = ReadByte();
    const uint8_t lo = ReadByte();
    if (hi == '?') {
        Synced = false;
        // The box's answer when the target does not take part in the exchange.
        if (lo == 'm') return 0;
        RaiseBoxError(lo);
        Fail(kCommFailed);
    }
    (void)DataPair(hi, lo);
    CheckResponse();
    return 1;
}

void TSmartParallel::ProgramOptions(uint8_t value)
{
    if (!Device()) throw EISPException("No device selected", false, HardwareName());
    Synchronise();
    const uint32_t flashSize = static_cast<uint32_t>(Device()->FlashSize());
    const uint32_t pageSize = static_cast<uint32_t>(Device()->PageSize());
    const uint32_t p = flashSize - pageSize;
    auto readPage = [&] {
        SendCommandNoAck('R', hex::Hex4(p) + hex::Hex4(pageSize));
        std::string text;
        for (uint32_t i = 0; i < 2 * pageSize; ++i) {
            const uint8_t c = ReadByte(true);
            if (i == 1 && text[0] == '?') BoxErrorAnswer(c);
            text += static_cast<char>(c);
        }
        CheckResponse();
        return text;
    };
    const std::string saved = readPage();
    // The page is erased next: never erase it unless what was saved can be written back.
    for (char c : saved)
        if (!hex::IsHexDigit(c)) Fail(kCommFailed);
    SendCommand('z', hex::Hex4(p));
    readPage();  // read completely and not used
    const uint32_t pieces = pageSize / 32;
    for (uint32_t k = 1; k <= pieces; ++k) {
        std::string piece = hex::ToUpper(saved.substr(64 * (k - 1), 64));
        if (k == pieces) piece.replace(62, 2, "00");
        SendCommandNoAck('W', hex::Hex4(p + 32 * (k - 1)) + "20" + piece);
        CheckResponse();
    }
    SendCommand('w', hex::Hex4(flashSize - 1) + hex::Hex2(value));
}

void TSmartParallel::RunTarget()
{
    Synchronise();
    SendCommand('x');
    SendCommand('X');
    ClearSync();
}

// The timing commands start without the usual synchronisation, unless the last exchange broke.
void TSmartParallel::WriteTiming(const std::string& text)
{
    if (!Synced) Synchronise();
    SendCommand('T', text);
}

std::string TSmartParallel::ReadTiming()
{
    if (!Synced) Synchronise();
    return Query('t', 8);
}

void TSmartParallel::PrepareBlankImage(THexList& image)
{
    if (!Device()) return;
    const uint32_t size = std::min<uint32_t>(image.Size(), static_cast<uint32_t>(Device()->FlashSize()));
    auto& v = image.Values();
    for (uint32_t block = size / kBlock; block-- > 0;) {
        const uint32_t a = block * kBlock;
        bool blank = true;
        for (int k = 0; k < kBlock && blank; ++k) blank = v[a + static_cast<uint32_t>(k)] == 0xFF;
        if (blank) std::fill(v.begin() + a, v.begin() + a + kBlock, 0);
    }
}
