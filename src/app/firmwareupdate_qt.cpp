// The updater runs as a child process with an argument list; the wait is sliced so that the
// window keeps repainting.
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include "app/firmwareupdate.h"

namespace {

class TQtUpdaterProcess final : public IUpdaterProcess {
public:
    bool Run(const std::string& program, const std::vector<std::string>& arguments, uint32_t limitMs,
             const std::function<void()>& pump) override
    {
        QStringList args;
        for (const std::string& a : arguments) args << QString::fromStdString(a);
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QString::fromStdString(program), args);
        if (!process.waitForStarted(10000)) return false;
        QElapsedTimer elapsed;
        elapsed.start();
        while (!process.waitForFinished(50)) {
            if (process.state() == QProcess::NotRunning) break;
            if (pump) pump();
            if (elapsed.elapsed() >= static_cast<qint64>(limitMs)) {
                process.terminate();
                if (!process.waitForFinished(2000)) {
                    process.kill();
                    process.waitForFinished(2000);
                }
                break;
            }
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<IUpdaterProcess> CreateUpdaterProcess() { return std::make_unique<TQtUpdaterProcess>(); }
