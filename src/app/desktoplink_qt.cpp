#include "app/desktoplink.h"

#include "app/session.h"
#include "link/linkcontext.h"
#include "link/qtserialport.h"

void UseQtSerialPort(TAppSession& session) { InstallQtSerialPort(session.LinkContext()); }
