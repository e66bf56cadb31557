// Writes one PNG per registered picture into the folder given as the only argument.
#include "shots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <cstdio>

namespace shots {
std::vector<TShot>& Registry()
{
    static std::vector<TShot> registry;
    return registry;
}
}  // namespace shots

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    int failed = 0;
    for (const shots::TShot& shot : shots::Registry()) {
        std::unique_ptr<QWidget> widget = shot.Make();
        widget->show();
        (void)QTest::qWaitForWindowExposed(widget.get(), 2000);
        QCoreApplication::processEvents();
        const QString path = QDir(folder).filePath(QString::fromStdString(shot.FileName));
        if (widget->grab().save(path)) {
            std::printf("%s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
