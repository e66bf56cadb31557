#pragma once
// The desktop program's links: every serial link of the session opens a QSerialPort. The timer
// figures are measured where the parallel link first needs them, as before.
class TAppSession;

void UseQtSerialPort(TAppSession& session);

// The session's worker runs on a thread Qt knows (a QThread), as QSerialPort needs.
void UseQtWorkerThread(TAppSession& session);
