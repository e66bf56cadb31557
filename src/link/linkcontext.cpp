#include "link/linkcontext.h"

#include "base/isperrors.h"
#include "lpt/portunit.h"

TLinkContext::TLinkContext() = default;

TLinkContext::~TLinkContext()
{
    // The unit first: closing it may still use what the backends made (a simulated target saves
    // its state on close).
    ReleaseLpt();
}

TVicLPT& TLinkContext::Lpt()
{
    if (!lpt_) {
        lpt_ = std::make_unique<TVicLPT>();
        lpt_->SetBackendMaker([this] { return backends_.Create(SelectedPortBackendName()); });
    }
    return *lpt_;
}

void TLinkContext::ReplaceLpt(std::unique_ptr<TVicLPT> lpt)
{
    // The old unit closes before the new one may open the same port.
    lpt_.reset();
    lpt_ = std::move(lpt);
}

void TLinkContext::ReleaseLpt() { lpt_.reset(); }

void TLinkContext::SetTimerMeasurement(TTiralTimerMeasurement measurement)
{
    std::lock_guard<std::mutex> lock(timerMutex_);
    timer_ = std::move(measurement);
}

const TTiralTimer& TLinkContext::Timer()
{
    TTiralTimerMeasurement timer;
    {
        std::lock_guard<std::mutex> lock(timerMutex_);
        if (!timer_.valid()) {
            std::promise<std::shared_ptr<const TTiralTimer>> here;
            here.set_value(std::make_shared<TTiralTimer>());
            timer_ = here.get_future().share();
        }
        timer = timer_;
    }
    return *timer.get();
}

std::unique_ptr<ISerialPort> TLinkContext::NewSerialPort() const
{
    if (!serialFactory_) throw ESerialOpenError("No serial port support in this program");
    return serialFactory_();
}
