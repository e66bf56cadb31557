#include <csignal>
#include <unistd.h>

#include "interrupt.h"

namespace {

volatile std::sig_atomic_t received = 0;

void OnSignal(int signal)
{
    if (received != 0) _exit(128 + signal);
    received = signal;
}

}  // namespace

void InstallInterruptHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() { return received; }
