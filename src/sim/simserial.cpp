#include "sim/simserial.h"

#include "base/isperrors.h"

TSimSerialPort::TSimSerialPort(TBoxModel& box, std::shared_ptr<TSimSerialShared> shared)
    : box_(box), shared_(std::move(shared))
{
    if (shared_) {
        shared_->last = this;
        ++shared_->created;
    }
}

TSimSerialPort::~TSimSerialPort()
{
    if (shared_ && shared_->last == this) shared_->last = nullptr;
}

void TSimSerialPort::Open(const std::string& name, int32_t baud)
{
    if (open_) throw ESerialOpenError("Port " + name + " is already open");
    if (shared_ && shared_->failOpen) throw ESerialOpenError("Could not open " + name);
    name_ = name;
    baud_ = baud;
    open_ = true;
    // Whatever the box said while nobody listened is gone.
    box_.ClearOutput();
}

void TSimSerialPort::Close() { open_ = false; }

void TSimSerialPort::RequireOpen() const
{
    if (!open_) throw ESerialError("The serial port is not open");
}

void TSimSerialPort::SetLine(bool& line, bool on)
{
    const bool rising = on && !line;
    line = on;
    if (open_ && !dtr_ && !rts_) pulseLow_ = true;
    if (rising && pulseLow_ && open_) {
        pulseLow_ = false;
        ++resets_;
        box_.Reset();
    }
}

void TSimSerialPort::FlushInput()
{
    if (open_) box_.ClearOutput();
}

size_t TSimSerialPort::BytesWaiting() { return open_ ? box_.OutputCount() : 0; }

size_t TSimSerialPort::WaitForBytes(size_t, int) { return BytesWaiting(); }

uint8_t TSimSerialPort::TakeByte()
{
    RequireOpen();
    if (!box_.HasOutput()) throw ESerialError("No byte waiting");
    return box_.TakeOutput();
}

std::string TSimSerialPort::Take(size_t n)
{
    RequireOpen();
    std::string text;
    while (text.size() < n && box_.HasOutput()) text += static_cast<char>(box_.TakeOutput());
    return text;
}

void TSimSerialPort::WriteByte(uint8_t value)
{
    RequireOpen();
    box_.HostWrite(value);
}

TSimSerialInstall::TSimSerialInstall(TLinkContext& context, TBoxModel& box)
    : context_(context), shared_(std::make_shared<TSimSerialShared>())
{
    auto shared = shared_;
    context_.SetSerialFactory([&box, shared]() -> std::unique_ptr<ISerialPort> {
        return std::make_unique<TSimSerialPort>(box, shared);
    });
}

TSimSerialInstall::~TSimSerialInstall() { context_.SetSerialFactory(nullptr); }
