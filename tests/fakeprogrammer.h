#pragma once
// A scripted programmer for the command tests: records every call in order, answers with the
// device's option byte and timing text, can spend virtual time per call and fail on demand.
#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/commands.h"
#include "app/runner.h"
#include "devices/devices.h"
#include "devices/optioneditor.h"
#include "image/hexlist.h"
#include "base/hextext.h"
#include "base/isperrors.h"
#include "link/hardware.h"
#include "link/linkwide.h"
#include "link/programmer.h"
#include "base/clock.h"

class TFakeProgrammer : public TISPProgrammer {
public:
    std::vector<std::string> calls;
    // The operation (first word of a call) that fails, and how.
    std::string failOn;
    std::function<void()> failure = [] { throw EVerifyError("Verify Failed"); };
    uint32_t msPerCall = 0;
    uint8_t deviceOptions = 0x06;
    std::string deviceTiming = "54002800";
    // The image as ProgramFlash saw it.
    std::vector<uint8_t> programmed;
    uint8_t verifiedLastByte = 0;
    // What the port setup offers and what the Information command reports.
    TSetupChoice setupChoice{{"LPT1", "LPT2"}, 1, true};
    TProgrammerReport report{TReportForm::TextReport, {}, {"report line"}};
    // Runs on every call before its failure, e.g. to report progress or look at a window.
    std::function<void(const std::string&)> onCall;

    void ProgramFlash(THexList& image) override
    {
        programmed = image.Values();
        Record("ProgramFlash");
    }
    void VerifyFlash(THexList& image) override
    {
        verifiedLastByte = image.GetValue(image.Size() - 1);
        Record("VerifyFlash");
    }
    void ReadFlash(THexList& image) override
    {
        Record("ReadFlash");
        image.SetValue(0, 0x12);
    }
    void EraseDevice() override { Record("EraseDevice"); }
    void LoadSettings() override { Record("LoadSettings"); }
    uint8_t ReadOptions() override
    {
        Record("ReadOptions");
        return deviceOptions;
    }
    void ProgramOptions(uint8_t value) override
    {
        Record("ProgramOptions " + hex::Hex2(value));
        deviceOptions = value;
    }
    void AfterConnect(THexList&) override { Record("AfterConnect"); }
    void WriteTiming(const std::string& text) override { Record("WriteTiming " + text); }
    std::string ReadTiming() override
    {
        Record("ReadTiming");
        return deviceTiming;
    }
    TSetupChoice SetupChoice() override
    {
        Record("SetupChoice");
        return setupChoice;
    }
    void ApplySetup(std::optional<int> chosen) override
    {
        Record("ApplySetup " + (chosen ? std::to_string(*chosen) : std::string("cancelled")));
    }
    void RunTarget() override { Record("RunTarget"); }
    bool Connect() override
    {
        Record("Connect");
        return true;
    }
    void Disconnect() override { Record("Disconnect"); }
    // Attached-board answers, one per poll; the last one repeats.
    std::vector<uint8_t> presence{0};
    size_t presencePolls = 0;
    // Raises instead of answering, when set (the box gone while a loop polls it).
    std::function<void()> presenceFailure;
    uint8_t TargetPresent() override
    {
        if (presenceFailure) presenceFailure();
        const uint8_t answer = presence[std::min(presencePolls, presence.size() - 1)];
        ++presencePolls;
        return answer;
    }
    TProgrammerReport InformationReport() override
    {
        Record("InformationReport");
        return report;
    }
    void PrepareBlankImage(THexList& image) override
    {
        // Record what the image looked like: it must have been cleared before.
        Record(std::string("PrepareBlankImage ") + (image.TopAddress() == -1 ? "blank" : "dirty"));
    }

private:
    void Record(const std::string& call)
    {
        calls.push_back(call);
        if (onCall) onCall(call);
        if (msPerCall) Clock().Sleep(msPerCall);
        if (!failOn.empty() && call.compare(0, failOn.size(), failOn) == 0) failure();
    }
};

// The runner, a project on a 2 KiB device, the option editor and the fake, in virtual time.
struct CommandFixture : ::testing::Test {
    VirtualClock clock;
    ScopedClock scoped{clock};
    IOperationView view;
    TOperationRunner runner{view};
    TFakeProgrammer programmer;
    TTarvoProject project;
    TBaseFuseForm options;
    TCommandContext ctx{runner, project, options};
    std::vector<std::string> hooks;
    TSubscription imageChanged;

    void SetUp() override
    {
        clock.Advance(5'000'000'000);
        programmer.SetHardwareName("ZEMPRIX (LPT)");
        runner.SetProgrammer(&programmer);
        project.SetDevice(Device("COP8TAB9"));  // 2 KiB of Flash
        options.BindImage(&project.Flash);
        options.SelectPGMTIM(0);
        options.PGMTIMChange();
        options.SetOptions(0x06);
        ctx.SoftwareVersion = "1.4.0.13";
        imageChanged = project.Flash.Changed.Subscribe([this] { hooks.push_back("image changed"); });
        ctx.ShowFlashPage = [this] { hooks.push_back("flash page"); };
        ctx.ShowOptionsPage = [this] { hooks.push_back("options page"); };
        ctx.ScrollViewHome = [this] { hooks.push_back("home"); };
        ctx.ChooseSetupPort = [this](const TSetupChoice& choice, int& index) {
            hooks.push_back("setup dialog " + std::to_string(choice.Index));
            index = 0;
            return true;
        };
        ctx.ShowReport = [this](const std::string& version, const TProgrammerReport& report) {
            hooks.push_back("report " + version + " " + report.Lines.at(0));
        };
    }

    static const TDevice* Device(const std::string& name)
    {
        for (int i = 0; i < DeviceList().Count(); ++i)
            if (DeviceList().Items(i).Name() == name) return &DeviceList().Items(i);
        return nullptr;
    }
    uint8_t LastByte() const { return project.Flash.GetValue(project.Flash.Size() - 1); }
    // Runs a command as the shell does: escaping exceptions become a failure line.
    TOutcome Shell(void (*command)(TCommandContext&))
    {
        return runner.Run([&] { command(ctx); });
    }
};

// The built-in hardware rows plus one test row named `name` whose programmer `make` creates: a
// table to hand a session (TAppSession::SetHardwareTable) in place of the built-in one.
struct TFakeHardware {
    TFakeHardware(const char* name, THardwareCreator make, bool listed = false)
        : rows{{BuiltInHardware().Get(0), BuiltInHardware().Get(1),
                THardware{listed, name, BuiltInHardware().ByName(kHardwareCom).DeviceSet, make}}},
          table(rows.data(), rows.size())
    {
    }
    TFakeHardware(const TFakeHardware&) = delete;
    TFakeHardware& operator=(const TFakeHardware&) = delete;

    std::array<THardware, 3> rows;
    THardwareTable table;
};
