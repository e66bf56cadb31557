#include "app/desktoplink.h"

#include "app/session.h"
#include "link/linkcontext.h"
#include "link/qtserialport.h"
#include "lpt/tiraltimer.h"

struct TDesktopLink::TData {
    TTiralTimerMeasurement Timer;
};

TDesktopLink::TDesktopLink() : d_(std::make_unique<TData>()) { d_->Timer = MeasureTiralTimerAsync(); }

TDesktopLink::~TDesktopLink() = default;

void TDesktopLink::Install(TAppSession& session)
{
    TLinkContext& link = session.LinkContext();
    InstallQtSerialPort(link);
    link.SetTimerMeasurement(d_->Timer);
}
