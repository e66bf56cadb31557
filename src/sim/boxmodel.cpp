#include "sim/boxmodel.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string_view>

#include "devices/devices.h"
#include "base/hextext.h"

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr char kStateHeader[] = "ZEMPRIX BOX STATE 1";
constexpr size_t kStateLineBytes = 32;

// Commands the box knows outside the programming mode.
bool IsTextCommand(char c)
{
    return std::string_view("IrRWwzZxXTtSVv=%:$*").find(c) != std::string_view::npos;
}

// Inside the programming mode the host may only erase, write and read in binary, and leave.
bool AllowedInProgrammingMode(char c)
{
    return std::string_view("zWr:$*").find(c) != std::string_view::npos;
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

TBoxModel::TBoxModel(const TDevice& device)
    : device_(device), flash_(static_cast<size_t>(device.FlashSize()), 0xFF)
{
}

void TBoxModel::Reset()
{
    programmingMode_ = false;
    running_ = false;
    pending_.clear();
    binary_ = false;
    malformed_ = false;
    lastLetter_ = 0;
    output_.clear();
    Emit(faults_.identification);
}

uint8_t TBoxModel::TakeOutput()
{
    uint8_t b = output_.front();
    output_.pop_front();
    return b;
}

void TBoxModel::Emit(uint8_t byte)
{
    if (faults_.silentAfter == 0) return;
    if (faults_.silentAfter > 0) --faults_.silentAfter;
    output_.push_back(byte);
    ++bytesOut_;
}

void TBoxModel::Emit(const std::string& text)
{
    for (char c : text) Emit(static_cast<uint8_t>(c));
}

void TBoxModel::Violation(const std::string& what) { violations_.push_back(what); }

void TBoxModel::HostWrite(uint8_t byte)
{
    ++bytesIn_;
    if (faults_.silentAfter == 0) return;  // a dead box hears nothing either
    if (pending_.empty()) {
        const char letter = static_cast<char>(byte);
        commands_ += letter;
        malformed_ = false;
        lowerCaseSeen_ = false;
        binary_ = false;
        if (programmingMode_) {
            if (!AllowedInProgrammingMode(letter)) {
                Violation(std::string("command \"") + letter + "\" sent in programming mode");
                lastLetter_ = letter;
                Emit("?!");
                return;
            }
            binary_ = letter == 'z' || letter == 'W' || letter == 'r';
        }
    }
    pending_.push_back(byte);
    if (pending_.size() == 1 + ArgumentLength()) {
        Execute();
        lastLetter_ = static_cast<char>(pending_[0]);
        pending_.clear();
    }
}

size_t TBoxModel::ArgumentLength() const
{
    const char letter = static_cast<char>(pending_[0]);
    if (binary_) {
        if (letter != 'W') return 2;
        // address (2), count (1), then count data bytes
        return pending_.size() < 4 ? 3 : 3 + pending_[3];
    }
    switch (letter) {
    case 'r':
    case 'z': return 4;
    case 'R':
    case 'T': return 8;
    case 'w': return 6;
    case 'W': {
        if (pending_.size() < 7) return 6;
        const char hi = static_cast<char>(pending_[5]);
        const char lo = static_cast<char>(pending_[6]);
        // An unreadable count ends the command here; Execute then answers "?#".
        if (!hex::IsHexDigit(hi) || !hex::IsHexDigit(lo)) return 6;
        return 6 + 2 * static_cast<size_t>(hex::DigitValueAnyCase(hi) * 16 +
                                           hex::DigitValueAnyCase(lo));
    }
    default: return 0;
    }
}

bool TBoxModel::TakeHexArgument(size_t offset, size_t digits, uint32_t& value)
{
    value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const char c = static_cast<char>(pending_.at(1 + offset + i));
        if (!hex::IsHexDigit(c)) {
            malformed_ = true;
            return false;
        }
        if (!IsUpperHex(c) && !lowerCaseSeen_) {
            lowerCaseSeen_ = true;
            Violation(std::string("lower-case hex \"") + c + "\" in command \"" +
                      static_cast<char>(pending_[0]) + "\"");
        }
        value = value * 16 + static_cast<uint32_t>(hex::DigitValueAnyCase(c));
    }
    return true;
}

void TBoxModel::Trace()
{
    if (!trace_) return;
    std::string line(1, static_cast<char>(pending_[0]));
    if (binary_) {
        for (size_t i = 1; i < pending_.size(); ++i) line += " " + hex::Hex2(pending_[i]);
    } else {
        line.append(pending_.begin() + 1, pending_.end());
    }
    trace_(line);
}

void TBoxModel::Execute()
{
    Trace();
    const char letter = static_cast<char>(pending_[0]);
    if (binary_) {
        ExecuteBinary(letter);
    } else {
        ExecuteText(letter);
    }
}

// The one-shot injected error replaces the whole answer of the command it hits (any command
// answered with a response mark, or only the one aimed at), which is then not carried out.
bool TBoxModel::InjectedError(char letter)
{
    if (faults_.errorCode == 0) return false;
    if (faults_.errorCommand != 0 && letter != faults_.errorCommand) return false;
    Emit('?');
    Emit(faults_.errorCode);
    faults_.errorCode = 0;
    return true;
}

std::string TBoxModel::NoisyPair(uint32_t address, uint8_t value)
{
    if (faults_.readNoiseAt < 0 || static_cast<uint32_t>(faults_.readNoiseAt) != address) return hex::Hex2(value);
    faults_.readNoiseAt = -1;
    return "G?";
}

bool TBoxModel::TargetMissing()
{
    if (!faults_.targetAbsent) return false;
    Emit("?m");
    return true;
}

bool TBoxModel::WriteAnd(uint32_t address, uint8_t value)
{
    if (static_cast<long>(address) == faults_.stuckAddress) return flash_[address] == value;
    const uint8_t now = flash_[address] & value;
    if (now != flash_[address]) {
        flash_[address] = now;
        ++changes_;
    }
    return flash_[address] == value;
}

void TBoxModel::ErasePage(uint32_t address)
{
    const uint32_t page = static_cast<uint32_t>(device_.PageSize());
    if (address % page != 0) {
        Violation("page erase at " + hex::Hex4(address) + ", not on a page boundary");
    }
    const uint32_t start = address - address % page;
    for (uint32_t a = start; a < start + page && a < flash_.size(); ++a) flash_[a] = 0xFF;
    ++changes_;
}

void TBoxModel::ExecuteText(char letter)
{
    if (letter == 'I') {
        if (faults_.pingRefusal != 0) {
            Emit('?');
            Emit(faults_.pingRefusal);
        } else {
            Emit(kCr);
        }
        return;
    }
    if (letter == '*') {
        // The serial link's sync byte; on a pseudo-terminal it stands in for the reset pulse
        // the box cannot see there, so it also drops any mode left over from a lost session.
        programmingMode_ = false;
        running_ = false;
        Emit(kCr);
        return;
    }
    if (!IsTextCommand(letter)) {
        Emit("?!");
        return;
    }
    if (InjectedError(letter)) return;

    switch (letter) {
    case 'r': TextReadByte(); break;
    case 'R': TextReadBlock(); break;
    case 'W': TextWriteBlock(); break;
    case 'w': TextWriteByte(); break;
    case 'z': TextErasePage(); break;
    case 'Z':
        if (TargetMissing()) return;
        running_ = false;
        std::fill(flash_.begin(), flash_.end(), 0xFF);
        ++changes_;
        Emit(kCr);
        break;
    case 'T':
        if (faults_.timingNeedsTarget && TargetMissing()) return;
        TextWriteTiming();
        break;
    case 't': Emit(timing_); Emit(kCr); break;
    case 'S': Emit(faults_.identification); Emit(kCr); break;
    case 'V': Emit(faults_.hardware); Emit(kCr); break;
    case 'v': Emit(faults_.firmware); Emit(kCr); break;
    case '=':
    case 'x': Emit(kCr); break;
    case '%':
    case 'X':
    case '$': TextArmed(letter); break;
    case ':':
        if (!programmingMode_) Violation("left programming mode without entering it");
        Emit(kCr);
        break;
    default: break;
    }
    // A handler that met an argument which is not hex answered nothing; the box says so here.
    if (malformed_) Emit("?#");
}

void TBoxModel::TextReadByte()
{
    uint32_t address = 0;
    if (!TakeHexArgument(0, 4, address)) return;
    // A read beyond Flash (the host's synchronising "rFFFF") never reaches the target.
    if (address < flash_.size() && TargetMissing()) return;
    running_ = false;
    Emit(NoisyPair(address, address < flash_.size() ? flash_[address] : 0xFF));
    Emit(kCr);
}

void TBoxModel::TextReadBlock()
{
    uint32_t address = 0;
    uint32_t count = 0;
    if (!TakeHexArgument(0, 4, address) || !TakeHexArgument(4, 4, count)) return;
    if (TargetMissing()) return;
    running_ = false;
    for (uint32_t a = address; a < address + count; ++a) Emit(NoisyPair(a, a < flash_.size() ? flash_[a] : 0xFF));
    Emit(kCr);
}

void TBoxModel::TextWriteBlock()
{
    uint32_t address = 0;
    uint32_t count = 0;
    if (!TakeHexArgument(0, 4, address) || !TakeHexArgument(4, 2, count)) return;
    std::vector<uint8_t> data(count);
    uint32_t byte = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!TakeHexArgument(6 + 2 * i, 2, byte)) return;
        data[i] = static_cast<uint8_t>(byte);
    }
    if (TargetMissing()) return;
    if (address + count > flash_.size()) {
        Emit("?#");
        return;
    }
    running_ = false;
    bool good = true;
    // Block writes leave the option byte alone: only "w" programs it.
    for (uint32_t i = 0; i < count; ++i) {
        if (address + i == device_.OptionAddress()) continue;
        if (!WriteAnd(address + i, data[i])) good = false;
    }
    Emit(good ? std::string(1, static_cast<char>(kCr)) : std::string("?V"));
}

void TBoxModel::TextWriteByte()
{
    uint32_t address = 0;
    uint32_t value = 0;
    if (!TakeHexArgument(0, 4, address) || !TakeHexArgument(4, 2, value)) return;
    if (TargetMissing()) return;
    if (address >= flash_.size()) {
        Emit("?#");
        return;
    }
    running_ = false;
    Emit(WriteAnd(address, static_cast<uint8_t>(value)) ? std::string(1, '\r') : std::string("?V"));
}

void TBoxModel::TextErasePage()
{
    uint32_t address = 0;
    if (!TakeHexArgument(0, 4, address)) return;
    if (TargetMissing()) return;
    if (address >= flash_.size()) {
        Emit("?#");
        return;
    }
    running_ = false;
    ErasePage(address);
    Emit(kCr);
}

void TBoxModel::TextWriteTiming()
{
    uint32_t ignored = 0;
    if (!TakeHexArgument(0, 8, ignored)) return;
    const std::string text(pending_.begin() + 1, pending_.end());
    if (text != timing_) {
        timing_ = text;
        ++changes_;
    }
    Emit(kCr);
}

// "%", "X" and "$" act only right after the command that arms them ("=", "x", ":").
void TBoxModel::TextArmed(char letter)
{
    const char arming = letter == '%' ? '=' : letter == 'X' ? 'x' : ':';
    if (lastLetter_ != arming) {
        Emit("?!");
        return;
    }
    if (letter == '%') {
        programmingMode_ = true;
        running_ = false;
        erasedInSession_.assign(flash_.size() / static_cast<size_t>(std::max<int32_t>(1, device_.PageSize())) + 1, false);
    } else if (letter == 'X') {
        running_ = true;
    } else {
        programmingMode_ = false;
    }
    Emit(kCr);
}

void TBoxModel::ExecuteBinary(char letter)
{
    if (InjectedError(letter)) return;
    const uint32_t address = static_cast<uint32_t>(pending_[1]) << 8 | pending_[2];
    const size_t size = flash_.size();
    if (!(letter == 'r' && address >= size) && TargetMissing()) return;
    switch (letter) {
    case 'z':
        if (address >= size) {
            Emit("?#");
            return;
        }
        ErasePage(address);
        if (const size_t page = address / static_cast<uint32_t>(device_.PageSize()); page < erasedInSession_.size())
            erasedInSession_[page] = true;
        Emit(kCr);
        return;
    case 'W': {
        const uint32_t count = pending_[3];
        if (count != 0x10) Violation("programming-mode block of " + hex::Hex2(count) + "h bytes");
        if (address + count > size) {
            Emit("?#");
            return;
        }
        if (const size_t page = address / static_cast<uint32_t>(device_.PageSize());
            page >= erasedInSession_.size() || !erasedInSession_[page])
            Violation("block written at " + hex::Hex4(address) + "h into a page not erased in this programming session");
        bool good = true;
        for (uint32_t i = 0; i < count; ++i) {
            if (!WriteAnd(address + i, pending_[4 + i])) good = false;
        }
        if (faults_.blockAnswer != 0) {
            Emit(faults_.blockAnswer);
            faults_.blockAnswer = 0;
            return;
        }
        Emit(good ? std::string(1, '\r') : std::string("?V"));
        return;
    }
    case 'r':
        Emit(address < size ? flash_[address] : 0xFF);
        Emit(kCr);
        return;
    default: Emit("?!"); return;
    }
}

bool TBoxModel::SaveState(const std::string& path) const
{
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << kStateHeader << "\n"
            << "DEVICE " << device_.Name() << "\n"
            << "TIMING " << timing_ << "\n"
            << "FLASH " << hex::Hex4(static_cast<unsigned>(flash_.size())) << "\n";
        for (size_t a = 0; a < flash_.size(); a += kStateLineBytes) {
            out << hex::Hex4(static_cast<unsigned>(a)) << ":";
            for (size_t i = a; i < a + kStateLineBytes && i < flash_.size(); ++i) {
                out << hex::Hex2(flash_[i]);
            }
            out << "\n";
        }
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    // The rename keeps the previous state whole if anything above failed half-way.
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

bool TBoxModel::LoadState(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    if (!std::getline(in, line) || line != kStateHeader) return false;
    std::string timing = timing_;
    std::vector<uint8_t> flash(flash_.size(), 0xFF);
    bool sized = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        // A state made for another device is not this target's memory, even at the same size.
        if (line.rfind("DEVICE ", 0) == 0) {
            if (line.substr(7) != device_.Name()) return false;
            continue;
        }
        if (line.rfind("TIMING ", 0) == 0) {
            timing = line.substr(7);
            if (timing.size() != 8) return false;
            continue;
        }
        if (line.rfind("FLASH ", 0) == 0) {
            const std::string size = line.substr(6);
            for (char c : size) {
                if (!IsUpperHex(c)) return false;
            }
            if (size.empty() || size.size() > 8 || hex::DWord(size) != flash_.size()) return false;
            sized = true;
            continue;
        }
        const size_t colon = line.find(':');
        if (!sized || colon == std::string::npos || colon == 0 || colon > 8) return false;
        const std::string addressText = line.substr(0, colon);
        const std::string data = line.substr(colon + 1);
        for (char c : addressText + data) {
            if (!IsUpperHex(c)) return false;
        }
        const uint32_t address = hex::DWord(addressText);
        if (data.size() % 2 != 0 || address + data.size() / 2 > flash.size()) return false;
        for (size_t i = 0; i < data.size() / 2; ++i) {
            flash[address + i] = hex::ByteFromChars(data[2 * i], data[2 * i + 1]);
        }
    }
    if (!sized) return false;
    flash_ = std::move(flash);
    timing_ = timing;
    ++changes_;
    return true;
}
