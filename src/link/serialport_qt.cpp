// The serial link's port over QSerialPort. Received bytes are gathered into a buffer of our own
// without a size limit, so that a whole block answer (4097 characters for a 32 KB device) can be
// waiting at once; writes are collected and pushed out before the link next waits for input.
#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>
#include <deque>
#include <filesystem>

#include "base/isperrors.h"
#include "link/linkcontext.h"
#include "link/portidentity.h"
#include "link/qtserialport.h"
#include "link/serialport.h"

namespace {

std::vector<std::string> ListPorts()
{
    // The same order `zemprix-cli ports` and the setup dialog show, so that COMn means one port.
    if (auto ports = SerialPortsInComOrder(); !ports.empty()) return ports;
    auto infos = QSerialPortInfo::availablePorts();
    auto isUsb = [](const QSerialPortInfo& i) {
        return i.hasVendorIdentifier() || i.portName().contains("USB") || i.portName().contains("ACM");
    };
    std::stable_sort(infos.begin(), infos.end(), [&](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        if (isUsb(a) != isUsb(b)) return isUsb(a);
        return a.portName() < b.portName();
    });
    std::vector<std::string> names;
    for (const auto& i : infos) names.push_back(i.systemLocation().toStdString());
    return names;
}

class TQtSerialPort final : public ISerialPort {
public:
    void Open(const std::string& name, int32_t baud) override
    {
        device_ = ResolveComPortName(name, ListPorts);
        port_.setPortName(QString::fromStdString(device_));
        if (!port_.open(QIODevice::ReadWrite)) {
            // The port's own name first: "COM1" says nothing about which node failed.
            std::string why = device_ + ": " + port_.errorString().toStdString();
            // A port another program holds: say which, so that it can be ended.
            if (port_.error() == QSerialPort::PermissionError || port_.error() == QSerialPort::ResourceError)
                if (const std::string holders = DescribePortHolders(device_); !holders.empty())
                    why = device_ + " is in use by " + holders;
            throw ESerialOpenError(why);
        }
        gone_ = false;
        port_.setReadBufferSize(0);  // unlimited: whole block answers must fit
        Tolerate(port_.setBaudRate(baud));
        Tolerate(port_.setDataBits(QSerialPort::Data8));
        Tolerate(port_.setStopBits(QSerialPort::OneStop));
        Tolerate(port_.setFlowControl(QSerialPort::NoFlowControl));
        Tolerate(port_.setParity(QSerialPort::NoParity));
        in_.clear();
        out_.clear();
    }
    void Close() override
    {
        if (port_.isOpen()) port_.close();
        in_.clear();
        out_.clear();
    }
    bool IsOpen() const override { return port_.isOpen(); }
    void SetDtr(bool on) override { Tolerate(port_.setDataTerminalReady(on)); }
    void SetRts(bool on) override { Tolerate(port_.setRequestToSend(on)); }
    void SetParitySpace() override { Tolerate(port_.setParity(QSerialPort::SpaceParity)); }
    void SetBufferSizes(size_t, size_t) override {}
    void FlushInput() override
    {
        Gather(0);
        in_.clear();
        port_.clear(QSerialPort::Input);
        port_.readAll();
    }
    void FlushOutput() override
    {
        out_.clear();
        port_.clear(QSerialPort::Output);
    }
    size_t BytesWaiting() override
    {
        Gone();
        Push();
        Gather(0);
        return in_.size();
    }
    size_t WaitForBytes(size_t count, int ms) override
    {
        Gone();
        Push();
        Gather(0);
        if (in_.size() >= count || ms <= 0) return in_.size();
        Gather(ms);
        return in_.size();
    }
    uint8_t TakeByte() override
    {
        const uint8_t b = in_.front();
        in_.pop_front();
        return b;
    }
    std::string Take(size_t n) override
    {
        n = std::min(n, in_.size());
        std::string s(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
        return s;
    }
    void WriteByte(uint8_t value) override
    {
        Gone();
        out_.push_back(static_cast<char>(value));
    }
    void Flush() override
    {
        Gone();
        Push();
    }
    bool RequestLowLatency() override { return port_.isOpen() && ::RequestLowLatency(static_cast<int>(port_.handle())); }

private:
    // Modem lines and parity cannot be set on a pseudo-terminal; that is harmless.
    void Tolerate(bool ok)
    {
        if (!ok) port_.clearError();
    }
    void Check()
    {
        const auto e = port_.error();
        if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError || e == QSerialPort::UnsupportedOperationError) {
            if (e != QSerialPort::NoError) port_.clearError();
            return;
        }
        // An unplugged adapter (or a simulator that ended) fails whatever call comes next, often
        // with an ioctl's error that says nothing about the cause.
        std::error_code ec;
        const bool gone = e == QSerialPort::ResourceError || !std::filesystem::exists(device_, ec);
        const std::string why = gone ? "the port " + device_ + " went away (unplugged?)" : port_.errorString().toStdString();
        port_.clearError();
        // A port that hung up is closed: the next command opens it again and says why it cannot,
        // and nothing keeps reading a dead descriptor meanwhile.
        if (gone) {
            Close();
            gone_ = true;
        }
        throw ESerialError(why);
    }
    // Every command after a hang-up fails at once with the port's name, until it is opened again.
    void Gone() const
    {
        if (gone_) throw ESerialError("the port " + device_ + " went away (unplugged?)");
    }
    void Push()
    {
        if (out_.empty() || !port_.isOpen()) return;
        if (port_.write(out_.data(), static_cast<qint64>(out_.size())) < 0) Check();
        out_.clear();
        while (port_.bytesToWrite() > 0)
            if (!port_.waitForBytesWritten(1000)) break;
        Check();
    }
    void Gather(int ms)
    {
        if (!port_.isOpen()) return;
        if (port_.bytesAvailable() == 0) port_.waitForReadyRead(ms);
        const QByteArray data = port_.readAll();
        in_.insert(in_.end(), data.begin(), data.end());
        Check();
    }

    QSerialPort port_;
    std::string device_;  // the node opened, for messages
    bool gone_ = false;
    std::deque<uint8_t> in_;
    std::string out_;
};

}  // namespace

std::unique_ptr<ISerialPort> CreateQtSerialPort() { return std::make_unique<TQtSerialPort>(); }

void InstallQtSerialPort(TLinkContext& context) { context.SetSerialFactory(CreateQtSerialPort); }
