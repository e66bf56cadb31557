#pragma once
// Hex file reader and writer: Intel, Motorola, Extended Tektronix, Tektronix and the Atmel
// generic formats, with format detection. A class without instance data.
#include <string>
#include <string_view>
#include <vector>

#include "base/isperrors.h"

class THexList;

class EFileLoader : public Exception {
public:
    using Exception::Exception;
};

class EUnknownFileType : public EFileLoader {
public:
    using EFileLoader::EFileLoader;
};

// Format identifiers, shared by the reader, the writer and the file dialogs.
enum TFileFormat : int {
    ff_EmptyOrBinary = -2,
    ff_NotFound = -1,
    ff_AutoDetect = 0,
    ff_IntelIntellex = 1,
    ff_IntelMCS86 = 2,
    ff_IntelHex32 = 3,
    ff_MotorolaExorciser = 4,
    ff_MotorolaExormacs = 5,
    ff_Motorola32 = 6,
    ff_ExtTektronix = 7,
    ff_Tektronix = 8,
    ff_Atmel16 = 9,
    ff_Atmel8 = 10,
    ff_Binary = 11,
};

// Records whose checksum does not match their contents. The reader loads them all the same (files
// from some tools carry wrong checksums); a load reports them so that a suspect file is noticed.
struct TChecksumReport {
    int Wrong = 0;      // records with a wrong checksum
    int FirstLine = 0;  // the line (from 1) of the first of them, 0 when none
    // "3 records with a wrong checksum, the first on line 12"; empty when none.
    std::string Text() const;
};

class TFileLoader {
public:
    // Files larger than this are refused with EFileLoader instead of being read into memory.
    static constexpr size_t kMaxFileSize = 64u * 1024 * 1024;

    // With `lines` given they are examined and the file name is not used; otherwise the file is
    // read: -1 when it does not exist, -2 when it yields no lines, else 0 or a format id. A file
    // that exists but cannot be read, or is over kMaxFileSize, raises EFileLoader.
    static int DetectFormat(const std::string& fileName, const std::vector<std::string>* lines = nullptr);
    // 0, or -1 when a record addresses a byte outside the image. A file that cannot be read
    // raises EFileLoader.
    static int LoadFile(const std::string& fileName, THexList& image, TChecksumReport* checksums = nullptr);
    // Detection and loading from one reading of the file, for callers that load only a file of
    // a known format. Returns what DetectFormat returns; only when that is a format id (above 0)
    // is the image named, cleared and loaded, with LoadFile's result in `loadResult` (0
    // otherwise). Raises EFileLoader as DetectFormat does.
    static int DetectAndLoad(const std::string& fileName, THexList& image, int& loadResult,
                             TChecksumReport* checksums = nullptr);
    // The checksums of the records of a text in `format` (those the reader reads, up to the end
    // record). Formats without checksums report none.
    static TChecksumReport CheckText(std::string_view text, int format);
    // Raises EUnknownFileType "Unknown File ID" for ids outside -2 .. 11.
    static std::string FormatName(int id);

    // 0 on success, 1 on any failure; an existing file is replaced only by a complete new one.
    static int SaveFile(const std::string& fileName, const THexList& image, int formatId);
    // The same, with the reason of a failure in `error`: "Could not save PATH: REASON", where
    // REASON is the system's description of what failed (or why the image does not fit the
    // format). `error` is emptied on success.
    static int SaveFile(const std::string& fileName, const THexList& image, int formatId, std::string& error);
    // The same, raising EFileLoader with that message instead of returning 1.
    static void SaveFileOrThrow(const std::string& fileName, const THexList& image, int formatId);

    // The work after reading, on text already in memory: detection (-2, 0 or a format id) and
    // loading into the (already cleared) image (0, or -1 when a record addresses a byte outside
    // the image). The text is split at CR, LF or CR LF as it is scanned; a NUL ends it.
    static int DetectText(std::string_view text);
    static int LoadText(std::string_view text, THexList& image);
    // LoadText on lines already split.
    static int LoadLines(const std::vector<std::string>& lines, THexList& image);
    // The text SaveFile writes; raises EFileLoader when an address does not fit the format.
    static std::string SaveText(const THexList& image, int formatId);

    // The whole file, at most kMaxFileSize bytes; raises EFileLoader when it is a folder, too
    // large, or cannot be opened or read.
    static std::string ReadText(const std::string& fileName);
    // The text split at CR, LF or CR LF; a NUL ends the text. One string per line: meant for
    // small texts, the loader itself never builds this list.
    static std::vector<std::string> SplitLines(const std::string& text);
    static std::vector<std::string> ReadLines(const std::string& fileName);
};
