// Gang programming: programming a 32 KB image through four paced zemprix-boxsim processes at once
// against through one, with zemprix-cli as the scripts run it. Target: four take at most 1.1x one.
#include <QElapsedTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "devices/devices.h"
#include "image/hexfile.h"
#include "image/hexlist.h"

namespace {

const std::string kBin = ZEMPRIX_BIN_DIR;

struct TBox {
    pid_t pid = -1;
    std::string path;
};

TBox StartBox()
{
    TBox box;
    int fds[2];
    if (pipe(fds) != 0) return box;
    box.pid = fork();
    if (box.pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        const std::string exe = kBin + "/zemprix-boxsim";
        execl(exe.c_str(), exe.c_str(), "--pace", "--device", "COP8SBR9", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') box.path += c;
    close(fds[0]);
    return box;
}

// Wall time of one `zemprix-cli program` over the given boxes; -1 when it failed.
double ProgramSeconds(const std::vector<TBox>& boxes, const std::string& image)
{
    std::vector<std::string> args = {kBin + "/cli/zemprix-cli", "--no-settings", "--hardware", "com", "--device",
                                     "COP8SBR9", "-q"};
    for (const TBox& b : boxes) args.insert(args.end(), {"--port", b.path});
    args.insert(args.end(), {"program", image});
    QElapsedTimer t;
    t.start();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout)) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main()
{
    const TDevice& device = *DeviceList().FindDevice("COP8SBR9", 0x04);
    THexList image;
    image.SetSize(static_cast<uint32_t>(device.FlashSize()));
    uint32_t seed = 5;
    for (uint32_t a = 0; a < image.Size(); ++a) {
        seed = seed * 134775813u + 1;
        image.SetValue(a, static_cast<uint8_t>(1 + (seed >> 24) % 254));
    }
    char folder[] = "/tmp/zemprix-gang-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string file = std::string(folder) + "/image.hex";
    TFileLoader::SaveFile(file, image, ff_IntelHex32);

    std::vector<TBox> boxes;
    for (int i = 0; i < 4; ++i) boxes.push_back(StartBox());
    double one = 1e9, four = 1e9;
    for (int round = 0; round < 2; ++round) {
        one = std::min(one, ProgramSeconds({boxes[0]}, file));
        four = std::min(four, ProgramSeconds(boxes, file));
    }
    for (const TBox& b : boxes) {
        kill(b.pid, SIGTERM);
        waitpid(b.pid, nullptr, 0);
    }
    std::remove(file.c_str());
    rmdir(folder);
    if (one <= 0 || four <= 0) {
        std::printf("gang: a run failed (one box %.2f s, four boxes %.2f s)\n", one, four);
        return 1;
    }
    std::printf("gang: program 32 KB over paced lines: one box %.2f s, four boxes at once %.2f s, ratio %.2f "
                "(target <= 1.1)\n",
                one, four, four / one);
    return 0;
}
