// Record checksums: the reader loads records whatever their checksum says, counts the wrong ones
// with the line of the first, and the load line warns of them (or, when asked, the load refuses).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/session.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "link/hardware.h"

namespace {

// Changes a line's last digit: the checksum, or a data digit the checksum no longer matches.
std::string Spoil(std::string line)
{
    line.back() = line.back() == '0' ? '1' : '0';
    return line;
}

THexList Image()
{
    THexList image;
    image.SetSize(0x60);
    for (uint32_t a = 0; a < 0x60; ++a) image.SetValue(a, static_cast<uint8_t>(a * 5 + 1));
    return image;
}

std::string Join(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

}  // namespace

TEST(RecordChecksums, EachFormatWithChecksumsCountsTheWrongRecordsAndTheFirstLine)
{
    for (int format : {ff_IntelIntellex, ff_IntelHex32, ff_MotorolaExorciser, ff_Motorola32, ff_ExtTektronix, ff_Tektronix}) {
        SCOPED_TRACE(TFileLoader::FormatName(format));
        const THexList image = Image();
        std::vector<std::string> lines = TFileLoader::SplitLines(TFileLoader::SaveText(image, format));
        ASSERT_GE(lines.size(), 6u);
        // What this program writes is right, in either case of the digits.
        EXPECT_EQ(TFileLoader::CheckText(Join(lines), format).Wrong, 0);
        std::string lower = Join(lines);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(TFileLoader::CheckText(lower, format).Wrong, 0) << lower;

        // Two spoiled records; a blank line and CR LF ends still count as one line each.
        lines[2] = Spoil(lines[2]);
        lines[4] = Spoil(lines[4]);
        lines.insert(lines.begin(), "");
        const std::string text = Join(lines);
        // A small image in Intel Hex-32 reads as the 16-bit form: the checks follow the detection.
        const int detected = TFileLoader::DetectText(text);
        ASSERT_GT(detected, 0) << text;
        const TChecksumReport report = TFileLoader::CheckText(text, detected);
        EXPECT_EQ(report.Wrong, 2) << text;
        EXPECT_EQ(report.FirstLine, 4) << text;
        EXPECT_EQ(report.Text(), "2 records with a wrong checksum, the first on line 4");

        // The records still load: the file is only flagged.
        THexList loaded;
        loaded.SetSize(0x60);
        EXPECT_EQ(TFileLoader::LoadText(text, loaded), 0);
        EXPECT_EQ(loaded.GetValue(0x00), image.GetValue(0x00));
        EXPECT_EQ(loaded.GetValue(0x5F), image.GetValue(0x5F));
    }
}

TEST(RecordChecksums, RecordsAfterTheEndAndFormatsWithoutChecksumsAreNotCounted)
{
    const std::string intel = ":0400100001020304E2\n:0400100001020304E3\n:00000001FF\n:0400100001020304E3\n";
    const TChecksumReport report = TFileLoader::CheckText(intel, ff_IntelIntellex);
    EXPECT_EQ(report.Wrong, 1);
    EXPECT_EQ(report.FirstLine, 2);
    EXPECT_EQ(report.Text(), "1 record with a wrong checksum, on line 2");
    EXPECT_EQ(TFileLoader::CheckText(":0400100001020304E2\n:00000001FF\n", ff_IntelIntellex).Text(), "");
    // The Atmel generic formats carry no checksum.
    const std::string atmel = TFileLoader::SaveText(Image(), ff_Atmel8);
    EXPECT_EQ(TFileLoader::CheckText(atmel, ff_Atmel8).Wrong, 0);
}

namespace {

struct SuspectFile : ::testing::Test {
    QTemporaryDir dir;
    TNullShellView shell;
    TAppSession session{shell, nullptr};
    std::string good = Path("good.hex");
    std::string bad = Path("bad.hex");

    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
    void SetUp() override
    {
        session.BindDevice("COP8SBR9", kHardwareCom);
        std::ofstream(good) << ":0400100001020304E2\n:00000001FF\n";
        std::ofstream(bad) << ":0400100001020304E2\n:0400140005060708C0\n:0400180009000000D0\n:00000001FF\n";
    }
};

}  // namespace

TEST_F(SuspectFile, TheLoadLineWarnsOfWrongChecksumsAndAGoodFileLoadsWithout)
{
    TAppSession::TLoadResult r = session.LoadFlashFile(good);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.checksums.Wrong, 0);
    EXPECT_EQ(session.Runner().StatusText().rfind("Flash File Load: File loaded (Intel Intellex 8/MDS) - 00:", 0), 0u)
        << session.Runner().StatusText();

    r = session.LoadFlashFile(bad);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.checksums.Wrong, 2);
    EXPECT_EQ(session.Runner().StatusKind(), sk_completed);
    EXPECT_EQ(session.Runner().StatusText().rfind("Flash File Load: File loaded (Intel Intellex 8/MDS) - Warning: 2 records "
                                                  "with a wrong checksum, the first on line 2 - 00:",
                                                  0),
              0u)
        << session.Runner().StatusText();
    EXPECT_EQ(session.Project().Flash.GetValue(0x15), 0x06);  // loaded all the same

    // The reload says the same.
    EXPECT_EQ(session.Run([&] { commands::ReloadFlashFile(session.Commands()); }), TOutcome::Completed);
    EXPECT_EQ(session.Runner().StatusText().rfind("Flash: File Reloaded - Warning: 2 records with a wrong checksum", 0), 0u)
        << session.Runner().StatusText();

    // A start-up load leaves out its success line, never the warning.
    session.Runner().ClearLog();
    EXPECT_TRUE(session.LoadFlashFile(bad, true).ok);
    ASSERT_FALSE(session.Runner().Log().empty());
    EXPECT_EQ(session.Runner().Log().back(),
              "Flash File Load - Warning: 2 records with a wrong checksum, the first on line 2");
}

TEST_F(SuspectFile, StrictChecksumsRefuseTheFileAndKeepNothingOfIt)
{
    session.Commands().StrictChecksums = true;
    EXPECT_TRUE(session.LoadFlashFile(good).ok);
    TAppSession::TLoadResult r = session.LoadFlashFile(bad);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "2 records with a wrong checksum, the first on line 2");
    EXPECT_EQ(session.Runner().StatusKind(), sk_failed);
    EXPECT_EQ(session.Runner().StatusText(), "Flash File Load: File load failed (strict checksums)");
    EXPECT_EQ(session.Runner().Log().back(),
              "Flash File Load: File load failed (strict checksums) - 2 records with a wrong checksum, the first on line 2");
    EXPECT_NE(session.Project().Flash.GetValue(0x15), 0x06);

    // A reload of a file that turned suspect stops the command before anything uses the image.
    session.Commands().StrictChecksums = false;
    ASSERT_TRUE(session.LoadFlashFile(bad).ok);
    session.Commands().StrictChecksums = true;
    EXPECT_EQ(session.Run([&] { commands::ReloadFlashFile(session.Commands()); }), TOutcome::Failed);
    EXPECT_EQ(session.Runner().StatusText(), "Flash: File not reloaded");
    EXPECT_NE(session.Project().Flash.GetValue(0x15), 0x06);
}
