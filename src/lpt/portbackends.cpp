#include <cstdlib>

#include "lpt/portio.h"

namespace {

std::unique_ptr<IPortIo> MakePpdev(const std::string&) { return CreatePpdevPortIo(); }
std::unique_ptr<IPortIo> MakeDirect(const std::string&) { return CreateDirectPortIo(); }
std::unique_ptr<IPortIo> MakeRemote(const std::string& argument) { return CreateRemotePortIo(argument); }

void SplitSelection(const std::string& selection, std::string& name, std::string& argument)
{
    const size_t colon = selection.find(':');
    name = selection.substr(0, colon);
    argument = colon == std::string::npos ? std::string() : selection.substr(colon + 1);
}

const TPortBackendRow* FindBuiltIn(const std::string& name)
{
    for (const TPortBackendRow& row : kBuiltInPortBackends)
        if (name == row.Name) return &row;
    return nullptr;
}

}  // namespace

const std::array<TPortBackendRow, 3> kBuiltInPortBackends = {{
    {"ppdev", &MakePpdev},
    {"direct", &MakeDirect},
    {"remote", &MakeRemote},
}};

std::unique_ptr<IPortIo> CreateBuiltInPortIo(const std::string& selection)
{
    std::string name, argument;
    SplitSelection(selection, name, argument);
    const TPortBackendRow* row = FindBuiltIn(name);
    return row ? row->Create(argument) : nullptr;
}

void TPortBackends::Add(const std::string& name, TPortIoFactory factory)
{
    for (auto& entry : added_)
        if (entry.first == name) {
            entry.second = std::move(factory);
            return;
        }
    added_.emplace_back(name, std::move(factory));
}

bool TPortBackends::Has(const std::string& name) const
{
    for (const auto& entry : added_)
        if (entry.first == name) return true;
    return FindBuiltIn(name) != nullptr;
}

std::unique_ptr<IPortIo> TPortBackends::Create(const std::string& selection) const
{
    std::string name, argument;
    SplitSelection(selection, name, argument);
    for (const auto& entry : added_)
        if (entry.first == name) return entry.second ? entry.second(argument) : nullptr;
    const TPortBackendRow* row = FindBuiltIn(name);
    return row ? row->Create(argument) : nullptr;
}

std::string SelectedPortBackendName()
{
    const char* env = std::getenv("ZEMPRIX_PORTIO");
    if (env && *env) return env;
    return "ppdev";
}
