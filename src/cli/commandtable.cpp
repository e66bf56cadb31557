// The command table.
#include <algorithm>

#include "cli.h"

namespace {
std::vector<TCliCommand>& Table()
{
    static std::vector<TCliCommand> table;
    return table;
}
}  // namespace

void RegisterCommand(TCliCommand command)
{
    for (auto& existing : Table())
        if (existing.name == command.name) {
            existing = std::move(command);
            return;
        }
    Table().push_back(std::move(command));
}

const TCliCommand* FindCommand(const std::string& name)
{
    for (const auto& c : Table())
        if (c.name == name) return &c;
    return nullptr;
}

const std::vector<TCliCommand>& Commands() { return Table(); }
