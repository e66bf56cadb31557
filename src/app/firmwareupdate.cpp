#include "app/firmwareupdate.h"

#include <exception>

#include "app/session.h"
#include "link/programmer.h"
#include "link/linkcontext.h"

std::string TFirmwareUpdate::UpdaterName()
{
#ifdef _WIN32
    return "Firmwareupdater.exe";
#else
    return "firmwareupdater";
#endif
}

std::string TFirmwareUpdate::FirmwareFolder()
{
#ifdef _WIN32
    return "firmware\\cop8";
#else
    return "firmware/cop8";
#endif
}

void TFirmwareUpdate::Run(TAppSession& session, IUpdaterProcess& process, const std::string& programFolder,
                          const std::string& device, const std::string& hardware,
                          const std::function<void(const std::string&)>& inform, uint32_t limitMs)
{
    TOperationRunner& runner = session.Runner();
    runner.StartOp("Firmware Update: Running Wizard");
    bool started = false;
    std::exception_ptr failure;
    try {
        // The updater needs the port to itself.
        session.LinkContext().ReleaseLpt();
        const std::string separator =
            programFolder.empty() || programFolder.back() == '/' || programFolder.back() == '\\' ? "" : "/";
        started = process.Run(programFolder + separator + UpdaterName(), {FirmwareFolder(), kVersion}, limitMs,
                              [&session] { session.View().PumpMessages(); });
        if (started && inform) inform(kCompleteMessage);
    } catch (...) {
        failure = std::current_exception();
    }
    // Whatever the updater did, the box is reconnected with a fresh programmer.
    (void)session.LinkContext().Lpt();
    session.SwitchDevice(device, hardware);
    if (TISPProgrammer* p = session.Programmer()) {
        p->Connect();
        p->WriteTiming(session.Options().Label4());
    }
    runner.EndOp(started ? "Firmware Update: Complete" : "Firmware Update: Cancelled");
    if (failure) std::rethrow_exception(failure);
}
