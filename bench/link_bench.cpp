// Link throughput: (a) host CPU time to program and verify a full 32 KB device against the
// in-process simulator, which answers at once; (b) with zemprix-boxsim pacing 115200 baud over a
// pseudo-terminal, the wall time of program, verify and read against the wire-time bound
// (characters on the wire x 11 / 115200).
#include <QCoreApplication>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "devices/devices.h"
#include "image/hexlist.h"
#include "link/linkcontext.h"
#include "link/qtserialport.h"
#include "link/serialport.h"
#include "link/smartserial.h"
#include "sim/boxmodel.h"
#include "sim/simserial.h"

namespace {

const TDevice& Device() { return *DeviceList().FindDevice("COP8SBR9", 0x04); }

void Fill(THexList& img)
{
    img.SetSize(static_cast<uint32_t>(Device().FlashSize()));
    uint32_t seed = 1;
    for (uint32_t a = 0; a < img.Size(); ++a) {
        seed = seed * 134775813u + 1;
        img.SetValue(a, static_cast<uint8_t>(1 + (seed >> 24) % 254));
    }
}

double CpuMs(const std::function<void()>& f)
{
    const std::clock_t c0 = std::clock();
    f();
    return 1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
}

void InProcess()
{
    TBoxModel box(Device());
    TLinkContext context;
    TSimSerialInstall install(context, box);
    TSmartSerial link;
    link.SetContext(&context);
    link.SetHardwareName("ZEMPRIX (COM)");
    link.SetDevice(&Device());
    link.Connect();
    THexList img;
    Fill(img);
    link.EraseDevice();
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        box.Flash().assign(box.Flash().size(), 0xFF);
        best = std::min(best, CpuMs([&] {
            link.ProgramFlash(img);
            link.VerifyFlash(img);
        }));
    }
    std::printf("(a) in-process simulator: program + verify 32 KB: %.1f ms host CPU (best of 5; target <= 50 ms)\n", best);
}

// Counts the characters that cross the wire in each direction.
class CountingPort final : public ISerialPort {
public:
    explicit CountingPort(std::unique_ptr<ISerialPort> inner) : inner_(std::move(inner)) {}
    size_t out = 0, in = 0;
    void Open(const std::string& n, int32_t b) override { inner_->Open(n, b); }
    void Close() override { inner_->Close(); }
    bool IsOpen() const override { return inner_->IsOpen(); }
    void SetDtr(bool on) override { inner_->SetDtr(on); }
    void SetRts(bool on) override { inner_->SetRts(on); }
    void SetParitySpace() override { inner_->SetParitySpace(); }
    void SetBufferSizes(size_t i, size_t o) override { inner_->SetBufferSizes(i, o); }
    void FlushInput() override { inner_->FlushInput(); }
    void FlushOutput() override { inner_->FlushOutput(); }
    size_t BytesWaiting() override { return inner_->BytesWaiting(); }
    size_t WaitForBytes(size_t c, int ms) override { return inner_->WaitForBytes(c, ms); }
    uint8_t TakeByte() override
    {
        ++in;
        return inner_->TakeByte();
    }
    std::string Take(size_t n) override
    {
        std::string s = inner_->Take(n);
        in += s.size();
        return s;
    }
    void WriteByte(uint8_t v) override
    {
        ++out;
        inner_->WriteByte(v);
    }
    void Flush() override { inner_->Flush(); }

private:
    std::unique_ptr<ISerialPort> inner_;
};

void Paced()
{
    const std::string boxsim = std::string(ZEMPRIX_BIN_DIR) + "/zemprix-boxsim";
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        execl(boxsim.c_str(), boxsim.c_str(), "--pace", "--device", "COP8SBR9", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string path;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') path += c;
    if (path.empty()) {
        std::printf("(b) zemprix-boxsim did not start (%s)\n", boxsim.c_str());
        return;
    }

    CountingPort* counter = nullptr;
    TLinkContext context;
    context.SetSerialFactory([&] {
        auto p = std::make_unique<CountingPort>(CreateQtSerialPort());
        counter = p.get();
        return p;
    });
    context.SetSerialPortName(path);
    TSmartSerial link;
    link.SetContext(&context);
    link.SetHardwareName("ZEMPRIX (COM)");
    link.SetDevice(&Device());
    link.Connect();
    link.EraseDevice();
    THexList img, back;
    Fill(img);
    back.SetSize(img.Size());
    auto measure = [&](const char* what, const std::function<void()>& f) {
        const size_t in0 = counter->in, out0 = counter->out;
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const size_t chars = counter->in - in0 + counter->out - out0;
        const double bound = static_cast<double>(chars) * 11.0 / 115200.0;
        std::printf("(b) paced pty: %-7s %6zu chars, wall %.3f s, wire bound %.3f s, ratio %.3f (target <= 1.05)\n", what,
                    chars, wall, bound, wall / bound);
    };
    measure("program", [&] { link.ProgramFlash(img); });
    measure("verify", [&] { link.VerifyFlash(img); });
    measure("read", [&] { link.ReadFlash(back); });
    link.Disconnect();
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);  // the serial port's notifiers need one
    InProcess();
    Paced();
    return 0;
}
