#include <csignal>
#include <initializer_list>
#include <unistd.h>

#include "interrupt.h"

const char kSecondInterruptLine[] =
    "zemprix-cli: interrupted again: ending at once; the box may be left in programming mode\n";

namespace {

volatile std::sig_atomic_t received = 0;

void OnSignal(int signal)
{
    if (received != 0) {
        // Only async-signal-safe calls here: one write, then the end.
        const ssize_t written = write(2, kSecondInterruptLine, sizeof kSecondInterruptLine - 1);
        (void)written;
        _exit(128 + signal);
    }
    received = signal;
}

}  // namespace

void InstallInterruptHandlers()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // One handler at a time, so that two different signals cannot both be taken as the first.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    // A supervisor that closes the session (SIGHUP) stops the run as SIGTERM does.
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

int InterruptSignal() { return received; }
