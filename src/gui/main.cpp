// zemprix: the desktop application. The window appears first; the start-up (the device switch and
// Connect) runs from the event loop once it is on screen.
#include <QApplication>
#include <QStringList>

#include "app/desktoplink.h"
#include "gui/application.h"
#include "gui/mainwindow.h"
#include "gui/messageboxes.h"
#include "store/qsettingsbackend.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    ConfigureApplication();

    TQSettingsBackend settings;
    TQtMessageBoxes boxes;
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    // The menu entry runs "zemprix /L:%f"; started without a file, a bare "/L:" is left over.
    arguments.removeIf([](const QString& a) { return a.compare(QLatin1String("/L:"), Qt::CaseInsensitive) == 0; });
    TMain window(&settings, boxes, arguments);
    UseQtSerialPort(window.Session());
    window.show();
    return QApplication::exec();
}
