#include "app/commands.h"

#include <algorithm>

#include "app/verifysummary.h"
#include "devices/devices.h"
#include "devices/optioneditor.h"
#include "image/hexfile.h"
#include "image/hexlist.h"
#include "base/isperrors.h"
#include "link/programmer.h"

namespace commands {
namespace {

void Call(const std::function<void()>& hook)
{
    if (hook) hook();
}

// A block transfer between the image and the device: the image announces it once when it ends,
// then the Flash page comes to the front. Both happen also when it fails, so that the per-byte
// status the programmer wrote before the failure is visible.
template <typename Body>
void FlashTransfer(TCommandContext& ctx, Body body)
{
    try {
        THexList::TBulkChange bulk(ctx.Project.Flash);
        body();
    } catch (...) {
        Call(ctx.ShowFlashPage);
        throw;
    }
    Call(ctx.ShowFlashPage);
}

bool DeviceHasFlash(const TCommandContext& ctx)
{
    const TDevice* device = ctx.Project.Device();
    return device && device->FlashSize() > 0;
}

const std::string& Timing(const TCommandContext& ctx) { return ctx.Options.Label4(); }

// The option byte is mirrored into the image's last byte, so that byte alone is no code: an image
// holding nothing else would only write 00h over the device's last page.
bool HoldsCode(const THexList& image)
{
    for (uint32_t address = 0; address + 1 < image.Size(); ++address)
        if (image.GetValue(address) != 0xFF) return true;
    return false;
}

}  // namespace

void CopyOptionByte(TCommandContext& ctx)
{
    THexList& image = ctx.Project.Flash;
    if (image.Size() > 0) image.SetValue(image.Size() - 1, ctx.Options.GetOptions());
}

void Erase(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    ctx.Runner.StartOp("Erase: Erasing Device");
    p->EraseDevice();
    ctx.Runner.EndOp("Erase: Complete");
}

void ProgramFlash(TCommandContext& ctx)
{
    CopyOptionByte(ctx);
    TISPProgrammer* p = ctx.Programmer();
    if (!DeviceHasFlash(ctx) || !p) return;
    ctx.Runner.StartProgressOp("Flash: Programming");
    THexList& image = ctx.Project.Flash;
    if (!HoldsCode(image)) {
        ctx.Runner.FailOp("Flash Buffer is Empty");
        Call(ctx.ShowFlashPage);
        return;
    }
    FlashTransfer(ctx, [&] {
        p->WriteTiming(Timing(ctx));
        p->ProgramFlash(image);
    });
    ctx.Runner.EndOp("Flash: Programming Complete");
}

void ReadFlash(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    ctx.Runner.StartProgressOp("Flash: Reading");
    THexList& image = ctx.Project.Flash;
    FlashTransfer(ctx, [&] {
        image.Clear();
        p->PrepareBlankImage(image);
        p->WriteTiming(Timing(ctx));
        p->ReadFlash(image);
    });
    ctx.Runner.EndOp("Flash: Read Complete");
}

void VerifyFlash(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!DeviceHasFlash(ctx) || !p) return;
    ctx.Runner.StartProgressOp("Flash: Verifying");
    FlashTransfer(ctx, [&] {
        p->WriteTiming(Timing(ctx));
        ctx.Options.SetOptions(p->ReadOptions());
        CopyOptionByte(ctx);
        const size_t before = ctx.Runner.Log().size();
        try {
            p->VerifyFlash(ctx.Project.Flash);
        } catch (const EVerifyError&) {
            // After the per-byte lines, one line that says what they add up to.
            const std::vector<std::string>& log = ctx.Runner.Log();
            std::vector<TVerifyDifference> differences;
            for (size_t i = std::min(before, log.size()); i < log.size(); ++i) {
                TVerifyDifference d;
                if (ParseVerifyLine(log[i], d)) differences.push_back(d);
            }
            const std::string summary = VerifySummary(differences);
            if (!summary.empty()) ctx.Runner.AppendLog(summary);
            throw;
        }
    });
    ctx.Runner.EndOp("Flash: Verify Complete");
}

void ProgramOptions(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    ctx.Runner.StartOp("Programming: OPTIONS");
    p->WriteTiming(Timing(ctx));
    p->ProgramOptions(ctx.Options.GetOptions());
    CopyOptionByte(ctx);
    ctx.Runner.EndOp("OPTIONS: Programmed ");
}

void ReadOptions(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    ctx.Runner.StartOp("OPTIONS: Reading");
    p->WriteTiming(Timing(ctx));
    ctx.Options.SetOptions(p->ReadOptions());
    Call(ctx.ShowOptionsPage);
    CopyOptionByte(ctx);
    ctx.Runner.EndOp("OPTIONS: Read Complete");
}

void WriteDeviceTime(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    ctx.Runner.StartProgressOp("TIMING: Programming");
    p->WriteTiming(Timing(ctx));
    ctx.Runner.EndOp("TIMING: Programming Complete");
}

void ReadDeviceTime(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    ctx.Runner.StartProgressOp("TIMING: Reading");
    const std::string text = p->ReadTiming();
    ctx.Options.SetTimingText(text);
    ctx.Options.SelectPGMTIM(TBaseFuseForm::GetSpeedIndex(text));
    Call(ctx.ShowOptionsPage);
    ctx.Runner.EndOp("TIMING: Read Complete");
}

void RunTarget(TCommandContext& ctx)
{
    ctx.Runner.StartOp("Putting target in run mode");
    if (TISPProgrammer* p = ctx.Programmer()) {
        ctx.Options.FlexBit = 1;
        const uint8_t value = static_cast<uint8_t>(ctx.Options.GetOptions() | 1u);
        ctx.Options.DisplayOptionByte();
        p->ProgramOptions(value);
        CopyOptionByte(ctx);
        p->RunTarget();
    }
    ctx.Runner.EndOp("Run Mode: Operation Complete");
}

void Reset(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p) return;
    ctx.Runner.StartOp("Reset: Resetting ISP");
    p->Disconnect();
    p->Connect();
    p->WriteTiming(Timing(ctx));
    ctx.Options.SetOptions(p->ReadOptions());
    p->AfterConnect(ctx.Project.Flash);
    ctx.Runner.EndOp("Reset: Complete - Detected Device: ");
}

void Setup(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p || !p->HasSetup()) return;
    ctx.Runner.StartOp("Changing ISP Options");
    try {
        const TSetupChoice choice = p->SetupChoice();
        int index = choice.Index;
        const bool ok = ctx.ChooseSetupPort && ctx.ChooseSetupPort(choice, index);
        p->ApplySetup(ok ? std::optional<int>(index) : std::nullopt);
    } catch (const EAbort&) {
        ctx.Runner.EndOp("Options Cancelled");
        return;
    }
    ctx.Runner.EndOp("Options Set; Detected Device: ");
}

void Information(TCommandContext& ctx)
{
    TISPProgrammer* p = ctx.Programmer();
    if (!p || !p->HasInformation()) return;
    ctx.Runner.StartOp("Status: Retrieving Status");
    const TProgrammerReport report = p->InformationReport();
    if (ctx.ShowReport) ctx.ShowReport(ctx.SoftwareVersion, report);
    ctx.Runner.EndOp("Status: Operation Complete");
}

void ReloadFlashFile(TCommandContext& ctx)
{
    THexList& image = ctx.Project.Flash;
    if (image.FileName().empty()) return;
    ctx.Runner.StartOp("Reloading: Flash Intel Hex File");
    const std::string file = ctx.CommandLineFile.empty() ? image.FileName() : ctx.CommandLineFile;
    if (ctx.ShowFileName) ctx.ShowFileName(file);
    int result = 0;
    TChecksumReport checksums;
    try {
        THexList::TBulkChange bulk(image);
        // Stamped before reading: a write during the read shows as a change before the next board.
        ctx.LoadedFile = TFileStamp::Of(file);
        result = TFileLoader::LoadFile(file, image, &checksums);
        // Refused before anything is programmed from it; the image is emptied so that nothing
        // from the suspect file stays behind either.
        if (ctx.StrictChecksums && checksums.Wrong > 0) {
            image.Clear();
            throw EISPException("Flash: File not reloaded!" + checksums.Text());
        }
    } catch (...) {
        // The load cleared the image before it failed: the view drops its place and any
        // half-typed byte so that it shows what the image holds now.
        Call(ctx.ScrollViewHome);
        throw;
    }
    Call(ctx.ScrollViewHome);
    std::string line = result != 0 ? "Flash: File Reloaded - Warning: Bad data or file larger than device "
                                   : "Flash: File Reloaded";
    ctx.LoadedChecksumWarning = checksums.Text();
    if (checksums.Wrong > 0) line += (result != 0 ? "; " : " - Warning: ") + checksums.Text();
    ctx.Runner.EndOp(line);
}

}  // namespace commands
