// Hex file reading: the text split into lines, format detection and the five readers.
#include "image/hexfile.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "image/hexlist.h"
#include "base/hextext.h"

namespace {

// The reader ignores record checksums; it is a fixed setting that is not offered to the user.
// The Tektronix header checksum is compared regardless, because it is what tells a Tektronix
// record from other text.
constexpr bool kIgnoreChecksums = true;

// The lines of a text, split at CR, LF or CR LF as they are walked, without copying: a file of
// short lines must not turn into one heap object per line. The text ends at its first NUL.
class TTextLines {
public:
    explicit TTextLines(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

    class iterator {
    public:
        iterator(std::string_view text, size_t start) : text_(text), start_(start) { FindStop(); }
        std::string_view operator*() const { return text_.substr(start_, stop_ - start_); }
        bool operator!=(const iterator& other) const { return start_ != other.start_; }
        iterator& operator++()
        {
            size_t next = stop_;
            if (next < text_.size())
                next += (text_[next] == '\r' && next + 1 < text_.size() && text_[next + 1] == '\n') ? 2 : 1;
            start_ = next;
            FindStop();
            return *this;
        }

    private:
        void FindStop()
        {
            stop_ = start_;
            while (stop_ < text_.size() && text_[stop_] != '\r' && text_[stop_] != '\n') ++stop_;
        }
        std::string_view text_;
        size_t start_;
        size_t stop_ = 0;
    };

    iterator begin() const { return iterator(text_, 0); }
    iterator end() const { return iterator(text_, text_.size()); }
    bool empty() const { return text_.empty(); }

private:
    std::string_view text_;
};

bool AllHex(std::string_view s)
{
    for (char c : s)
        if (!hex::IsHexDigit(c)) return false;
    return true;
}

// Byte i (two digits) of an upper-cased, all-hex text; digits past the end read as 0 so that a
// reader can never run off a short line.
unsigned ByteAt(std::string_view s, size_t i)
{
    const size_t p = 2 * i;
    const int hi = p < s.size() ? hex::DigitValue(s[p]) : 0;
    const int lo = p + 1 < s.size() ? hex::DigitValue(s[p + 1]) : 0;
    return static_cast<unsigned>(hi * 16 + lo);
}

uint64_t Number(std::string_view digits)
{
    uint64_t v = 0;
    for (char c : digits) v = (v << 4) | static_cast<unsigned>(hex::DigitValue(c));
    return v;
}

unsigned DigitSum(std::string_view digits)
{
    unsigned sum = 0;
    for (char c : digits) sum += static_cast<unsigned>(hex::DigitValue(c));
    return sum & 0xFF;
}

// Stores at a 64-bit address so that address arithmetic in the records cannot wrap around
// into the image; anything beyond it fails like any other address outside the image.
void Store(THexList& image, uint64_t address, uint8_t value)
{
    if (address > UINT32_MAX)
        throw EISPException("Set Value of Address: " + hex::Hex(address, 8) + " out of range");
    image.SetValue(static_cast<uint32_t>(address), value);
}

// ---- Detectors: 0 rejects the file, otherwise the format id. ----

template <typename Lines>
int DetectIntel(const Lines& lines)
{
    int result = 0;
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        if (raw.size() < 11 || raw[0] != ':') return 0;
        const std::string s = hex::ToUpper(raw.substr(1));
        if (s.size() % 2 != 0 || !AllHex(s)) return 0;
        const unsigned count = ByteAt(s, 0);
        if (s.size() / 2 != count + 5) return 0;
        if (!kIgnoreChecksums) {
            unsigned sum = 0;
            for (size_t i = 0; i < s.size() / 2; ++i) sum += ByteAt(s, i);
            if ((sum & 0xFF) != 0) return 0;
        }
        switch (ByteAt(s, 3)) {
        case 0x00:
            if (result == 0) result = ff_IntelIntellex;
            break;
        case 0x01:
            if (result == 0) result = ff_IntelIntellex;
            return result;
        case 0x02:
            if (result < ff_IntelMCS86) result = ff_IntelMCS86;
            break;
        case 0x03:
        case 0x04:
        case 0x05:
            result = ff_IntelHex32;
            break;
        default:
            return 0;
        }
    }
    return result;
}

template <typename Lines>
int DetectMotorola(const Lines& lines)
{
    int result = 0;
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        if (raw.size() < 10 || raw[0] != 'S' || raw[1] < '0' || raw[1] > '9') return 0;
        const std::string s = hex::ToUpper(raw.substr(2));
        if (s.size() % 2 != 0 || !AllHex(s)) return 0;
        const unsigned count = ByteAt(s, 0);
        if (s.size() / 2 - 1 != count) return 0;
        if (!kIgnoreChecksums) {
            unsigned sum = 0;
            for (size_t i = 0; i < s.size() / 2; ++i) sum += ByteAt(s, i);
            if ((sum & 0xFF) != 0xFF) return 0;
        }
        switch (raw[1]) {
        case '0':
        case '1':
            if (result == 0) result = ff_MotorolaExorciser;
            break;
        case '2':
            if (result < ff_MotorolaExormacs) result = ff_MotorolaExormacs;
            break;
        case '3':
        case '7':
            result = ff_Motorola32;
            break;
        case '9':
            if (result == 0) result = ff_MotorolaExorciser;
            return result;
        default:
            return 0;
        }
    }
    return result;
}

template <typename Lines>
int DetectExtTektronix(const Lines& lines)
{
    int result = 0;
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        if (raw.size() < 6 || raw[0] != '%') return 0;
        const char type = raw[3];
        if (type == '3') continue;
        if (type != '6' && type != '8') return 0;
        const std::string s = hex::ToUpper(raw.substr(1));
        if (!AllHex(s) || Number(std::string_view(s).substr(0, 2)) != s.size()) return 0;
        if (!kIgnoreChecksums) {
            const unsigned sum = (DigitSum(std::string_view(s).substr(0, 3)) + DigitSum(std::string_view(s).substr(5))) & 0xFF;
            if (sum != Number(std::string_view(s).substr(3, 2))) return 0;
        }
        result = ff_ExtTektronix;
        if (type == '8') return result;
    }
    return result;
}

template <typename Lines>
int DetectTektronix(const Lines& lines)
{
    int result = 0;
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        if (raw.size() < 9 || raw[0] != '/') return 0;
        const std::string s = hex::ToUpper(raw.substr(1));
        if (s.size() % 2 != 0 || !AllHex(s)) return 0;
        if (DigitSum(std::string_view(s).substr(0, 6)) != ByteAt(s, 3)) return 0;
        const unsigned count = ByteAt(s, 2);
        if (count == 0 && s.size() == 8) return ff_Tektronix;
        if (s.size() / 2 - 5 != count) return 0;
        if (!kIgnoreChecksums && DigitSum(std::string_view(s).substr(8, 2 * count)) != ByteAt(s, 4 + count)) return 0;
        result = ff_Tektronix;
    }
    return result;
}

template <typename Lines>
int DetectAtmel(const Lines& lines)
{
    enum { unknown, word, byte } form = unknown;
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        const bool isWord = raw.size() == 11 && raw[6] == ':';
        const bool isByte = raw.size() == 7 && raw[4] == ':';
        if (!isWord && !isByte) return 0;
        if (form == unknown) form = isWord ? word : byte;
        if ((form == word) != isWord) return 0;
        for (char c : raw)
            if (c != ':' && !hex::IsHexDigit(c)) return 0;
    }
    return form == byte ? ff_Atmel8 : ff_Atmel16;
}

// ---- Readers: run over lines that their detector accepted. ----

template <typename Lines>
void ReadIntel(const Lines& lines, THexList& image)
{
    uint64_t segmentBase = 0;
    uint64_t linearBase = 0;
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        const std::string s = hex::ToUpper(raw.substr(1));
        const unsigned count = ByteAt(s, 0);
        const unsigned offset = ByteAt(s, 1) * 256 + ByteAt(s, 2);
        switch (ByteAt(s, 3)) {
        case 0x00: {
            const uint64_t base = linearBase * 65536 + segmentBase * 16 + offset;
            for (unsigned i = 0; i < count; ++i) Store(image, base + i, static_cast<uint8_t>(ByteAt(s, 4 + i)));
            break;
        }
        case 0x01:
            return;
        case 0x02:
            segmentBase = ByteAt(s, 4) * 256 + ByteAt(s, 5);
            break;
        case 0x04:
            linearBase = ByteAt(s, 4) * 256 + ByteAt(s, 5);
            break;
        default:
            break;
        }
    }
}

template <typename Lines>
void ReadMotorola(const Lines& lines, THexList& image)
{
    for (std::string_view raw : lines) {
        if (raw.size() < 2) continue;
        const char type = raw[1];
        if (type == '9') return;
        if (type != '1' && type != '2' && type != '3') continue;
        const std::string s = hex::ToUpper(raw.substr(2));
        const unsigned addressBytes = static_cast<unsigned>(type - '0') + 1;
        const unsigned count = ByteAt(s, 0);
        uint64_t address = 0;
        for (unsigned i = 0; i < addressBytes; ++i) address = (address << 8) | ByteAt(s, 1 + i);
        // A record too short for its own address carries no data.
        const unsigned dataBytes = count > addressBytes ? count - addressBytes - 1 : 0;
        for (unsigned i = 0; i < dataBytes; ++i)
            Store(image, address + i, static_cast<uint8_t>(ByteAt(s, 1 + addressBytes + i)));
    }
}

template <typename Lines>
void ReadExtTektronix(const Lines& lines, THexList& image)
{
    for (std::string_view raw : lines) {
        if (raw.size() < 4) continue;
        const char type = raw[3];
        if (type == '8') return;
        if (type != '6') continue;
        const std::string s = hex::ToUpper(raw.substr(1));
        if (s.size() < 6) continue;
        const size_t digits = static_cast<size_t>(hex::DigitValue(s[5]));
        const size_t dataStart = 6 + digits;
        if (dataStart > s.size()) continue;
        const uint64_t address = Number(std::string_view(s).substr(6, digits));
        const std::string_view data = std::string_view(s).substr(dataStart);
        for (size_t i = 0; i < data.size() / 2; ++i)
            Store(image, address + i, static_cast<uint8_t>(ByteAt(data, i)));
    }
}

template <typename Lines>
void ReadTektronix(const Lines& lines, THexList& image)
{
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        const std::string s = hex::ToUpper(raw.substr(1));
        const unsigned count = ByteAt(s, 2);
        if (count == 0) return;
        const unsigned address = ByteAt(s, 0) * 256 + ByteAt(s, 1);
        for (unsigned i = 0; i < count; ++i) Store(image, uint64_t{address} + i, static_cast<uint8_t>(ByteAt(s, 4 + i)));
    }
}

template <typename Lines>
void ReadAtmel(const Lines& lines, THexList& image, bool wordForm)
{
    for (std::string_view raw : lines) {
        if (raw.empty()) continue;
        const std::string s = hex::ToUpper(raw);
        if (wordForm) {
            const uint64_t word = Number(std::string_view(s).substr(0, 6));
            const std::string_view data = std::string_view(s).substr(7);
            Store(image, 2 * word, static_cast<uint8_t>(ByteAt(data, 1)));
            Store(image, 2 * word + 1, static_cast<uint8_t>(ByteAt(data, 0)));
        } else {
            Store(image, Number(std::string_view(s).substr(0, 4)), static_cast<uint8_t>(ByteAt(std::string_view(s).substr(5), 0)));
        }
    }
}

// ---- Checksums: counted, never a reason to refuse a record. ----

unsigned ByteSum(std::string_view s)
{
    unsigned sum = 0;
    for (size_t i = 0; i < s.size() / 2; ++i) sum += ByteAt(s, i);
    return sum & 0xFF;
}

// One record's checksum; `s` is the record after its start character(s), upper-cased. `last`
// tells an end record, after which the reader reads nothing.
bool ChecksumOk(int format, std::string_view s, bool& last)
{
    switch (format) {
    case ff_IntelIntellex:
    case ff_IntelMCS86:
    case ff_IntelHex32:
        last = ByteAt(s, 3) == 0x01;
        return ByteSum(s) == 0;
    case ff_MotorolaExorciser:
    case ff_MotorolaExormacs:
    case ff_Motorola32:
        return ByteSum(s) == 0xFF;
    case ff_ExtTektronix:
        if (s.size() < 5) return true;
        return ((DigitSum(s.substr(0, 3)) + DigitSum(s.substr(5))) & 0xFF) == Number(s.substr(3, 2));
    case ff_Tektronix: {
        // The header checksum already told this file for a Tektronix one; the data's is counted.
        if (s.size() < 8) return true;  // no header: nothing the reader would take from it
        const unsigned count = ByteAt(s, 2);
        last = count == 0;
        return last || DigitSum(s.substr(8, 2 * count)) == ByteAt(s, 4 + count);
    }
    default:
        return true;
    }
}

template <typename Lines>
TChecksumReport CheckChecksums(int format, const Lines& lines)
{
    TChecksumReport report;
    const bool intel = format >= ff_IntelIntellex && format <= ff_IntelHex32;
    const bool motorola = format >= ff_MotorolaExorciser && format <= ff_Motorola32;
    if (!intel && !motorola && format != ff_ExtTektronix && format != ff_Tektronix) return report;  // no checksums
    int number = 0;
    for (std::string_view raw : lines) {
        ++number;
        if (raw.empty()) continue;
        bool last = false;
        size_t skip = 1;
        if (motorola) {
            last = raw.size() > 1 && raw[1] == '9';
            skip = 2;
        } else if (format == ff_ExtTektronix) {
            // Only data and end records are read; symbol records are not.
            if (raw.size() < 4 || (raw[3] != '6' && raw[3] != '8')) continue;
            last = raw[3] == '8';
        }
        const std::string s = hex::ToUpper(raw.substr(std::min(skip, raw.size())));
        if (!ChecksumOk(format, s, last) && report.Wrong++ == 0) report.FirstLine = number;
        if (last) break;
    }
    return report;
}

template <typename Lines>
int Detect(const Lines& lines)
{
    if (lines.empty()) return ff_EmptyOrBinary;
    for (int (*detector)(const Lines&) : {DetectIntel<Lines>, DetectMotorola<Lines>, DetectExtTektronix<Lines>,
                                          DetectTektronix<Lines>, DetectAtmel<Lines>}) {
        const int result = detector(lines);
        if (result != 0) return result;
    }
    return ff_AutoDetect;
}

// Runs the reader of `format` over lines that its detector accepted: 0, or -1 when a record
// addresses a byte outside the image.
template <typename Lines>
int Read(int format, const Lines& lines, THexList& image)
{
    try {
        switch (format) {
        case ff_IntelIntellex:
        case ff_IntelMCS86:
        case ff_IntelHex32:
            ReadIntel(lines, image);
            break;
        case ff_MotorolaExorciser:
        case ff_MotorolaExormacs:
        case ff_Motorola32:
            ReadMotorola(lines, image);
            break;
        case ff_ExtTektronix:
            ReadExtTektronix(lines, image);
            break;
        case ff_Tektronix:
            ReadTektronix(lines, image);
            break;
        case ff_Atmel16:
        case ff_Atmel8:
            ReadAtmel(lines, image, format == ff_Atmel16);
            break;
        default:
            break;
        }
    } catch (const EISPException&) {
        return -1;
    }
    return 0;
}

bool Exists(const std::string& fileName)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(fileName), ec);
}

}  // namespace

std::vector<std::string> TFileLoader::SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::string_view line : TTextLines(text)) lines.emplace_back(line);
    return lines;
}

std::string TFileLoader::ReadText(const std::string& fileName)
{
    std::error_code ec;
    const std::filesystem::path path(fileName);
    if (std::filesystem::is_directory(path, ec)) throw EFileLoader("File cannot be read, it is a folder: " + fileName);
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kMaxFileSize)
        throw EFileLoader("File too large for a hex file (" + std::to_string(size) + " bytes, at most " +
                          std::to_string(kMaxFileSize) + "): " + fileName);

    std::ifstream in(path, std::ios::binary);
    if (!in) throw EFileLoader("File cannot be opened: " + fileName);
    // Read in pieces with the limit enforced as we go: the size asked above may be missing or
    // stale (a pipe, a growing file). Room for the expected size is taken at once, so that the
    // text does not grow by doubling to twice the file.
    std::string text;
    if (!ec) text.reserve(static_cast<size_t>(size));
    char buffer[65536];
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize got = in.gcount();
        if (got > 0) text.append(buffer, static_cast<size_t>(got));
        if (text.size() > kMaxFileSize)
            throw EFileLoader("File too large for a hex file (more than " + std::to_string(kMaxFileSize) +
                              " bytes): " + fileName);
    }
    if (in.bad()) throw EFileLoader("File cannot be read: " + fileName);
    return text;
}

std::vector<std::string> TFileLoader::ReadLines(const std::string& fileName)
{
    return SplitLines(ReadText(fileName));
}

int TFileLoader::DetectFormat(const std::string& fileName, const std::vector<std::string>* lines)
{
    if (lines != nullptr) return Detect(*lines);
    if (!Exists(fileName)) return ff_NotFound;
    return DetectText(ReadText(fileName));
}

int TFileLoader::DetectText(std::string_view text)
{
    return Detect(TTextLines(text));
}

std::string TChecksumReport::Text() const
{
    if (Wrong == 0) return {};
    if (Wrong == 1) return "1 record with a wrong checksum, on line " + std::to_string(FirstLine);
    return std::to_string(Wrong) + " records with a wrong checksum, the first on line " + std::to_string(FirstLine);
}

TChecksumReport TFileLoader::CheckText(std::string_view text, int format)
{
    return CheckChecksums(format, TTextLines(text));
}

int TFileLoader::LoadFile(const std::string& fileName, THexList& image, TChecksumReport* checksums)
{
    image.SetFileName(fileName);
    image.Clear();
    const std::string text = ReadText(fileName);
    image.Clear();
    const TTextLines lines(text);
    const int format = Detect(lines);
    if (checksums) *checksums = CheckChecksums(format, lines);
    return Read(format, lines, image);
}

int TFileLoader::DetectAndLoad(const std::string& fileName, THexList& image, int& loadResult, TChecksumReport* checksums)
{
    if (checksums) *checksums = {};
    loadResult = 0;
    if (!Exists(fileName)) return ff_NotFound;
    const std::string text = ReadText(fileName);
    const TTextLines lines(text);
    const int format = Detect(lines);
    if (format > 0) {
        image.SetFileName(fileName);
        image.Clear();
        loadResult = Read(format, lines, image);
        if (checksums) *checksums = CheckChecksums(format, lines);
    }
    return format;
}

int TFileLoader::LoadLines(const std::vector<std::string>& lines, THexList& image)
{
    return Read(Detect(lines), lines, image);
}

int TFileLoader::LoadText(std::string_view text, THexList& image)
{
    const TTextLines lines(text);
    return Read(Detect(lines), lines, image);
}

std::string TFileLoader::FormatName(int id)
{
    switch (id) {
    case ff_EmptyOrBinary: return "File empty or binary";
    case ff_NotFound: return "File not found";
    case ff_AutoDetect: return "Auto Detect (Intel, Motorola, Tektronix)";
    case ff_IntelIntellex: return "Intel Intellex 8/MDS";
    case ff_IntelMCS86: return "Intel MCS-86";
    case ff_IntelHex32: return "Intel Hex-32";
    case ff_MotorolaExorciser: return "Motorola EXORciser";
    case ff_MotorolaExormacs: return "Motorola EXORmacs";
    case ff_Motorola32: return "Motorola 32-bit";
    case ff_ExtTektronix: return "Extended Tektronix";
    case ff_Tektronix: return "Tektronix";
    case ff_Atmel16: return "Atmel Generic 16-Bit";
    case ff_Atmel8: return "Atmel Generic 8-Bit";
    case ff_Binary: return "Binary File";
    default: throw EUnknownFileType("Unknown File ID");
    }
}
