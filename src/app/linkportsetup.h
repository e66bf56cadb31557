#pragma once
// The port dialogs' answers over a session's link context: the port unit, the link values, the
// timer figures and the option editor's timing text.
#include <functional>
#include <string>

#include "app/portsetup.h"

class TBaseFuseForm;
class TLinkContext;

class TLinkPortSetup final : public IPortSetup {
public:
    // `log` receives the advanced refresh's port and timing block.
    TLinkPortSetup(TLinkContext& link, TBaseFuseForm& options, std::function<void(const std::string&)> log);

    int PortIndex() const override;
    double CpuSpeedMHz() override;
    TPortSetupMark Mark() override;
    void RestorePort(const TPortSetupMark& mark) override;
    TPortDetails CurrentPort() override;
    TPortDetails SelectPort(int index) override;
    TPortDetails RefreshPort() override;
    TPortDetails SwitchPort(int index) override;
    void SetLptMode(int mode) override;
    TPortTiming Timing() override;
    TPortTiming Defaults() override;
    void Accept(int portIndex, const TPortTiming& typed) override;

private:
    // PGMTIME and TENCYC from the option editor's timing text, where it holds hex digits.
    void ReadTimingText();

    TLinkContext& link_;
    TBaseFuseForm& options_;
    std::function<void(const std::string&)> log_;
};
