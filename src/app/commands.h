#pragma once
// The device and programmer commands: each is a short fixed sequence of programmer calls between
// a start and a completion line. The GUI's menu actions and zemprix-cli call these same
// functions, so both write the same status lines. Every command lets exceptions escape; the
// caller hands them to TOperationRunner (Run / AppException). Auto Program calls them directly.
#include <functional>
#include <string>

#include "app/filestamp.h"
#include "app/runner.h"

class TBaseFuseForm;
class TISPProgrammer;
class TTarvoProject;
struct TSetupChoice;
struct TProgrammerReport;

struct TCommandContext {
    TCommandContext(TOperationRunner& runner, TTarvoProject& project, TBaseFuseForm& options)
        : Runner(runner), Project(project), Options(options)
    {
    }

    TOperationRunner& Runner;
    TTarvoProject& Project;
    TBaseFuseForm& Options;

    // The programmer is the runner's current one, so the two can never disagree.
    TISPProgrammer* Programmer() const { return Runner.Programmer(); }

    // This program's file version, for the Information command.
    std::string SoftwareVersion;
    // The file named on the command line; when set, Reload reads it instead of the image's own.
    std::string CommandLineFile;
    // The Flash file as it was on disk when last loaded or reloaded.
    TFileStamp LoadedFile;
    // A file with a wrong record checksum is refused instead of loaded with a warning.
    bool StrictChecksums = false;
    // What the last load or reload found wrong in the file's record checksums (the operator's
    // page shows it beside the image).
    std::string LoadedChecksumWarning;

    // Scrolls the hex view back to its first row.
    std::function<void()> ScrollViewHome;
    std::function<void()> ShowOptionsPage;
    std::function<void()> ShowFlashPage;
    // Sets the window title's file suffix.
    std::function<void(const std::string&)> ShowFileName;
    // The port setup dialog over the programmer's choice: true on OK with `index` set to the
    // chosen entry. Without it every setup counts as cancelled.
    std::function<bool(const TSetupChoice& choice, int& index)> ChooseSetupPort;
    // Shows the Information command's report beside this program's version.
    std::function<void(const std::string& softwareVersion, const TProgrammerReport& report)> ShowReport;
};

namespace commands {

// Copies the editor's option byte into the last byte of the Flash image. The shell also calls
// it whenever the active page changes and after every file load.
void CopyOptionByte(TCommandContext& ctx);

void Erase(TCommandContext& ctx);
// "Flash Buffer is Empty" ends it before anything is sent when the image holds only FFh apart from
// the option byte.
void ProgramFlash(TCommandContext& ctx);
void ReadFlash(TCommandContext& ctx);
// Compares the image with the device; the option byte compared is the device's own.
void VerifyFlash(TCommandContext& ctx);
void ProgramOptions(TCommandContext& ctx);
void ReadOptions(TCommandContext& ctx);
void WriteDeviceTime(TCommandContext& ctx);
// Shows the device's timing text and selects its clock range, without changing the timing
// values in use.
void ReadDeviceTime(TCommandContext& ctx);
void RunTarget(TCommandContext& ctx);

void Reset(TCommandContext& ctx);
// A cancelled dialog (EAbort) ends with "Options Cancelled"; other exceptions escape.
void Setup(TCommandContext& ctx);
void Information(TCommandContext& ctx);

// Loads the Flash file again: the command-line file when one was given, else the image's own.
// Does nothing while the image has no file name.
void ReloadFlashFile(TCommandContext& ctx);

}  // namespace commands
