// zemprix-cli-sim: zemprix-cli with the simulated parallel port (ZEMPRIX_PORTIO=sim) built in, for
// tests, benchmarks and demonstrations without hardware.
#include "cli/cli.h"
#include "sim/lptchipset.h"

void AddExtraPortBackends(TLinkContext& context) { AddSimPortBackend(context); }
