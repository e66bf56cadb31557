// The command table.
#include <cstring>

#include "cli.h"

namespace {

struct TCommandGroup {
    const TCliCommand* rows;
    size_t count;
};

const TCommandGroup kGroups[] = {
    {kFileCommands, sizeof kFileCommands / sizeof kFileCommands[0]},
    {kDeviceCommands, sizeof kDeviceCommands / sizeof kDeviceCommands[0]},
    {kStoreCommands, sizeof kStoreCommands / sizeof kStoreCommands[0]},
    {kPortCommands, sizeof kPortCommands / sizeof kPortCommands[0]},
};

}  // namespace

const TCliCommand* FindCommand(const std::string& name)
{
    for (const TCommandGroup& group : kGroups)
        for (size_t i = 0; i < group.count; ++i)
            if (name == group.rows[i].name) return &group.rows[i];
    return nullptr;
}

std::vector<const TCliCommand*> Commands()
{
    std::vector<const TCliCommand*> all;
    for (const TCommandGroup& group : kGroups)
        for (size_t i = 0; i < group.count; ++i) all.push_back(&group.rows[i]);
    return all;
}
