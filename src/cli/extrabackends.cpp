// zemprix-cli drives real ports (and the remote backend) only.
#include "cli.h"

void AddExtraPortBackends(TLinkContext&) {}
