#include "app/desktoplink.h"

#include <QThread>
#include <memory>

#include "app/session.h"
#include "link/linkcontext.h"
#include "link/qtserialport.h"

void UseQtSerialPort(TAppSession& session) { InstallQtSerialPort(session.LinkContext()); }

void UseQtWorkerThread(TAppSession& session)
{
    session.Worker().SetThreadStarter([](std::function<void()> body) -> std::function<void()> {
        std::shared_ptr<QThread> thread(QThread::create(std::move(body)));
        thread->start();
        return [thread] { thread->wait(); };
    });
}
