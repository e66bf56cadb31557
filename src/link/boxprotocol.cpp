#include "link/boxprotocol.h"

#include <algorithm>

#include "base/hextext.h"
#include "base/isperrors.h"
#include "image/hexlist.h"
#include "link/boxtransport.h"
#include "link/linkhost.h"
#include "link/linkcontext.h"
#include "link/programmer.h"

namespace {
constexpr uint8_t kCR = 0x0D;
constexpr int kBlock = 16;  // programming block size

std::string Raw(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

TBoxProtocol::TBoxProtocol(TISPProgrammer& owner, IBoxTransport& transport) : owner_(owner), transport_(transport) {}

void TBoxProtocol::Fail(const char* message)
{
    Synced = false;
    throw EISPException(message, false, owner_.HardwareName());
}

// ---- the transport's bytes; whatever fails there leaves the exchange out of step ----

uint8_t TBoxProtocol::ReadByte(bool reportProgress)
{
    try {
        return transport_.ReadByte(reportProgress);
    } catch (const EISPException&) {
        Synced = false;
        throw;
    } catch (const EAbortOp&) {
        // Left in the middle of an answer: the next exchange must start afresh.
        Synced = false;
        throw;
    }
}

void TBoxProtocol::WriteByte(uint8_t value)
{
    try {
        transport_.WriteByte(value);
    } catch (const EISPException&) {
        Synced = false;
        throw;
    }
}

// An abort during the wait is not a broken exchange: the answer can still be read.
bool TBoxProtocol::WaitReady(bool reportProgress)
{
    try {
        return transport_.WaitReady(reportProgress);
    } catch (const EISPException&) {
        Synced = false;
        throw;
    }
}

namespace {
// The byte two hex characters (either case) stand for; anything else gives 0.
uint8_t HexPair(uint8_t hi, uint8_t lo)
{
    if (!hex::IsHexDigit(static_cast<char>(hi)) || !hex::IsHexDigit(static_cast<char>(lo))) return 0;
    return static_cast<uint8_t>(hex::DigitValueAnyCase(static_cast<char>(hi)) * 16 +
                                hex::DigitValueAnyCase(static_cast<char>(lo)));
}
}  // namespace

uint8_t TBoxProtocol::DataPair(uint8_t hi, uint8_t lo)
{
    if (!hex::IsHexDigit(static_cast<char>(hi)) || !hex::IsHexDigit(static_cast<char>(lo))) {
        // Invented data would be saved or compared as if the device held it.
        Synced = false;
        Fail(kCommFailed);
    }
    return HexPair(hi, lo);
}

void TBoxProtocol::BoxErrorAnswer(uint8_t code)
{
    Synced = false;
    RaiseBoxError(code);
    Fail(kCommFailed);
}

// ---- framing ----

void TBoxProtocol::SendCommandNoAck(char command, const std::string& text)
{
    SendByte(static_cast<uint8_t>(command));
    for (char c : text) SendByte(static_cast<uint8_t>(c));
}

void TBoxProtocol::SendCommand(char command, const std::string& text, bool reportProgress)
{
    SendCommandNoAck(command, text);
    CheckResponse(reportProgress);
}

void TBoxProtocol::RaiseBoxError(uint8_t code)
{
    switch (code) {
        case '!': throw EISPException("Command not known here", false, owner_.HardwareName());
        case '#': throw EISPException("Invalid number sent", false, owner_.HardwareName());
        case '%': throw EISPException("BlankCheck Failed", false, owner_.HardwareName());
        case 'M': throw EISPException("illegal attempt to use microwire", false, owner_.HardwareName());
        case 'T': throw EISPException("Program/erase BUSY timed out", false, owner_.HardwareName());
        case 'V': throw EVerifyError("Your target device failed verification");
        case 'm': throw EISPException("Microwire exchange out of sync", false, owner_.HardwareName());
        default: return;  // the caller decides
    }
}

bool TBoxProtocol::WaitForAnswer(std::exception_ptr& aborted)
{
    try {
        return WaitReady(true);
    } catch (const EAbortOp&) {
        aborted = std::current_exception();
        return WaitReady(false);
    }
}

void TBoxProtocol::CheckResponse(bool reportProgress)
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

std::string TBoxProtocol::Query(char command, int count)
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

void TBoxProtocol::ReadBlock(uint8_t* buffer, char command, uint32_t start, uint32_t count)
{
    std::string answer;
    try {
        if (!transport_.ReadWholeBlock(command + hex::Hex4(start) + hex::Hex4(count), 2 * size_t{count} + 1, answer)) {
            ReadBlockByBytes(buffer, command, start, count);
            return;
        }
    } catch (const EISPException&) {
        Synced = false;
        throw;
    }
    if (answer[0] == '?') BoxErrorAnswer(static_cast<uint8_t>(answer[1]));
    StoreWholeBlock(buffer, start, answer);
}

void TBoxProtocol::ReadBlockByBytes(uint8_t* buffer, char command, uint32_t start, uint32_t count)
{
    SendCommandNoAck(command, hex::Hex4(start) + hex::Hex4(count));
    for (uint32_t i = start; i < start + count; ++i) {
        const uint8_t hi = ReadByte();
        const uint8_t lo = ReadByte();
        if (hi == '?') BoxErrorAnswer(lo);
        buffer[i] = DataPair(hi, lo);
        owner_.Host().PumpMessages();
    }
    CheckResponse();
}

// A whole answer's final mark is not judged: the count of characters already says it is whole.
void TBoxProtocol::StoreWholeBlock(uint8_t* buffer, uint32_t start, const std::string& answer)
{
    // A block that is not all hexadecimal digits is noise, never data: nothing of it is stored.
    for (size_t k = 0; k + 1 < answer.size(); ++k)
        if (!hex::IsHexDigit(answer[k])) {
            transport_.DiscardInput();
            Fail(kCommFailed);
        }
    for (size_t k = 0; k + 1 < answer.size(); k += 2) {
        buffer[start + k / 2] = DataPair(static_cast<uint8_t>(answer[k]), static_cast<uint8_t>(answer[k + 1]));
        owner_.Host().PumpMessages();
    }
}

// ---- connection ----

void TBoxProtocol::Ping()
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

void TBoxProtocol::Synchronise()
{
    if (!Synced) transport_.DiscardInput();
    try {
        Ping();
    } catch (const EISPException&) {
        ClearSync();
        owner_.Disconnect();
        owner_.Connect();
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

void TBoxProtocol::CheckFirmware()
{
    const std::string required = owner_.Context().Wide().LinkKind == 3 ? "000A" : "0009";
    if (Query('v', 4) != required) throw EFirmwareMisMatch("Your ISP needs a firmware update");
}

std::string TBoxProtocol::ReadProgrammerId()
{
    Synchronise();
    return Query('S', 9);
}

template <typename Step>
auto TBoxProtocol::Identifying(Step step) -> decltype(step())
{
    try {
        return step();
    } catch (const EISPException&) {
        throw EISPException(kNotResponding);
    } catch (const EVerifyError&) {
        // The box's "V" code answers a command, not a verification: no target was read.
        throw EISPException(kNotResponding);
    }
}

std::string TBoxProtocol::ReadAnnouncement()
{
    std::string id;
    for (int i = 0; i < 9; ++i) id += static_cast<char>(ReadByte());
    if (id != kExpectedId) throw EFirmwareMisMatch("Your ISP needs a firmware update");
    return id;
}

void TBoxProtocol::Greet()
{
    SendByte('*');
    if (ReadByte(true) == '?') ReadByte(true);
}

std::string TBoxProtocol::AskIdentification()
{
    return Identifying([this] { return Query('S', 9); });
}

void TBoxProtocol::ConfirmFirmware(int32_t linkKind)
{
    Identifying([this, linkKind] {
        owner_.Context().Wide().LinkKind = linkKind;
        CheckFirmware();
    });
}

TBoxIdentity TBoxProtocol::QueryIdentity()
{
    TBoxIdentity identity;
    identity.ProgrammerId = Query('S', 9);
    identity.HardwareVersion = Query('V', 4);
    identity.FirmwareVersion = Query('v', 4);
    return identity;
}

bool SynchroniseForReport(TISPProgrammer& programmer, std::vector<std::string>& lines, bool& targetSilent)
{
    targetSilent = false;
    try {
        programmer.Synchronise();
    } catch (const EISPException&) {
        lines.push_back("*Communications to Programmer Failed");
        return false;
    } catch (const ETargetNotFound&) {
        targetSilent = true;
    }
    return true;
}

// ---- device operations ----

namespace {

// Blocks [a, a+count) of the image that are all 00h are skipped by program and verify.
bool AllZero(const THexList& image, uint32_t from, uint32_t count)
{
    const auto& v = image.Values();
    const size_t end = std::min<size_t>(v.size(), static_cast<size_t>(from) + count);
    for (size_t i = from; i < end; ++i)
        if (v[i] != 0) return false;
    return true;
}

// The image must cover the device: block transfers write straight into it by address.
void CheckImage(const TISPProgrammer& p, const THexList& image)
{
    if (!p.Device()) throw EISPException("No device selected", false, p.HardwareName());
    if (image.Size() < static_cast<uint32_t>(p.Device()->FlashSize()))
        throw EISPException("Flash image is smaller than the device", false, p.HardwareName());
}

}  // namespace

bool TBoxProtocol::CheckByte(THexList& image, uint32_t address, uint8_t read)
{
    const uint8_t expected = image.GetValue(address);
    if (read == expected) {
        image.SetStatus(address, ps_verified);
        return true;
    }
    image.SetStatus(address, ps_failed);
    owner_.Host().AppendLog("Verify Failed at " + hex::Hex(address, 4) + "h: Read " + hex::Hex2(read) +
                            "h - Should have been " + hex::Hex2(expected) + "h");
    return false;
}

void TBoxProtocol::EraseDevice()
{
    Synchronise();
    SendCommand('Z');
}

bool TBoxProtocol::BlockWritten()
{
    std::exception_ptr aborted;
    // A box with nothing to say after a block never finished writing it: that is a time-out,
    // not a broken exchange.
    if (!WaitForAnswer(aborted)) Fail(kTimedOut);
    const uint8_t answer = ReadByte();
    if (answer == kCR) {
        if (aborted) std::rethrow_exception(aborted);
        return true;
    }
    if (answer != '?') Fail(kCommFailed);
    const uint8_t code = ReadByte();
    if (aborted) std::rethrow_exception(aborted);
    if (code != 'V') {
        // The block was refused: that is the box's error, not a success.
        Synced = false;
        RaiseBoxError(code);
        Fail(kCommFailed);
    }
    return false;
}

void TBoxProtocol::ProgramFlash(THexList& image)
{
    CheckImage(owner_, image);
    const int32_t flashSize = owner_.Device()->FlashSize();
    const uint32_t pageSize = static_cast<uint32_t>(owner_.Device()->PageSize());
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
        owner_.DoProgress(0, flashSize);
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
                owner_.Host().PumpMessages();
                owner_.DoProgress(static_cast<int32_t>(a), flashSize);
            }
            SendCommandNoAck('W', block);
            if (BlockWritten()) continue;
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

uint32_t TBoxProtocol::StartBlockRead(const THexList& image)
{
    CheckImage(owner_, image);
    const uint32_t flashSize = static_cast<uint32_t>(owner_.Device()->FlashSize());
    Synchronise();
    owner_.DoProgress(0, static_cast<int32_t>(flashSize));
    return flashSize;
}

void TBoxProtocol::VerifyFlash(THexList& image)
{
    const uint32_t flashSize = StartBlockRead(image);
    // The memory moves in 16 equal chunks (at least one byte each, so that the walk ends).
    const uint32_t chunk = std::max<uint32_t>(1, flashSize / 16);
    THexList scratch;
    scratch.SetSize(flashSize);
    bool failed = false;
    for (uint32_t a = 0; a < flashSize; a += chunk) {
        if (AllZero(image, a, chunk)) continue;
        owner_.DoProgress(static_cast<int32_t>(a), static_cast<int32_t>(chunk));
        ReadBlock(scratch.Values().data(), 'R', a, chunk);
        for (uint32_t i = a; i < a + chunk; ++i)
            if (!CheckByte(image, i, scratch.GetValue(i))) failed = true;
    }
    if (failed) throw EVerifyError("Flash: Verification Failed");
}

void TBoxProtocol::ReadFlash(THexList& image)
{
    const uint32_t flashSize = StartBlockRead(image);
    // The memory moves in 16 equal chunks (at least one byte each, so that the walk ends).
    const uint32_t chunk = std::max<uint32_t>(1, flashSize / 16);
    for (uint32_t a = 0; a + 1 < flashSize; a += chunk) {
        owner_.DoProgress(static_cast<int32_t>(a), static_cast<int32_t>(flashSize));
        ReadBlock(image.Values().data(), 'R', a, chunk);
        image.SetStatus(a, ps_read);
    }
}

uint8_t TBoxProtocol::ReadOptions()
{
    if (!owner_.Device()) throw EISPException("No device selected", false, owner_.HardwareName());
    Synchronise();
    SendCommandNoAck('r', hex::Hex4(owner_.Device()->OptionAddress()));
    const uint8_t hi = ReadByte();
    const uint8_t lo = ReadByte();
    // An error answer is not an option byte: report it instead of reading "?x" as 00h.
    if (hi == '?') BoxErrorAnswer(lo);
    const uint8_t value = DataPair(hi, lo);
    CheckResponse();
    return value;
}

uint8_t TBoxProtocol::TargetPresent()
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

void TBoxProtocol::ProgramOptions(uint8_t value)
{
    if (!owner_.Device()) throw EISPException("No device selected", false, owner_.HardwareName());
    Synchronise();
    const uint32_t flashSize = static_cast<uint32_t>(owner_.Device()->FlashSize());
    const uint32_t pageSize = static_cast<uint32_t>(owner_.Device()->PageSize());
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

void TBoxProtocol::RunTarget()
{
    Synchronise();
    SendCommand('x');
    SendCommand('X');
    ClearSync();
}

// The timing commands start without the usual synchronisation, unless the last exchange broke.
void TBoxProtocol::WriteTiming(const std::string& text)
{
    if (!Synced) Synchronise();
    SendCommand('T', text);
}

std::string TBoxProtocol::ReadTiming()
{
    if (!Synced) Synchronise();
    return Query('t', 8);
}

void TBoxProtocol::PrepareBlankImage(THexList& image) const
{
    if (!owner_.Device()) return;
    const uint32_t size = std::min<uint32_t>(image.Size(), static_cast<uint32_t>(owner_.Device()->FlashSize()));
    auto& v = image.Values();
    for (uint32_t block = size / kBlock; block-- > 0;) {
        const uint32_t a = block * kBlock;
        bool blank = true;
        for (int k = 0; k < kBlock && blank; ++k) blank = v[a + static_cast<uint32_t>(k)] == 0xFF;
        if (blank) std::fill(v.begin() + a, v.begin() + a + kBlock, 0);
    }
}
