#pragma once
// The firmware update: the box is handed to the separate updater beside the program, which runs
// while the port layer is released; afterwards the programmer is rebuilt and reconnected,
// whatever the updater did.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TAppSession;

// Starting and waiting for a child program, behind a seam so that tests use stubs.
class IUpdaterProcess {
public:
    virtual ~IUpdaterProcess() = default;
    // Starts `program` with `arguments` (no shell sees them) and waits for its end, at most
    // `limitMs`, calling `pump` meanwhile so the window keeps repainting; a program still running
    // at the limit is terminated. False when it could not be started.
    virtual bool Run(const std::string& program, const std::vector<std::string>& arguments, uint32_t limitMs,
                     const std::function<void()>& pump) = 0;
};

// The platform's process runner (QProcess).
std::unique_ptr<IUpdaterProcess> CreateUpdaterProcess();

struct TFirmwareUpdate {
    static constexpr uint32_t kLimitMs = 300000;
    static constexpr const char* kVersion = "0009";
    static constexpr const char* kCompleteMessage =
        "Firmware update complete.  Please re-attach the ISP to your \noriginal serial/parallel port.";

    // The updater's file name on this platform.
    static std::string UpdaterName();
    // The firmware folder argument with this platform's separator.
    static std::string FirmwareFolder();

    // Runs the update for the session; `device` and `hardware` are the selectors' texts, which the
    // reconnection switches to. `inform` shows the completion box. Exceptions of the update are
    // raised after the reconnection, as the application's handler expects.
    static void Run(TAppSession& session, IUpdaterProcess& process, const std::string& programFolder,
                    const std::string& device, const std::string& hardware,
                    const std::function<void(const std::string&)>& inform, uint32_t limitMs = kLimitMs);
};
