#include <cstdlib>
#include <map>
#include <mutex>

#include "lpt/portio.h"

namespace {

std::mutex gMutex;

std::map<std::string, TPortIoFactory>& Registry()
{
    static std::map<std::string, TPortIoFactory> registry = [] {
        std::map<std::string, TPortIoFactory> r;
        r["ppdev"] = [](const std::string&) { return CreatePpdevPortIo(); };
        r["direct"] = [](const std::string&) { return CreateDirectPortIo(); };
        r["remote"] = [](const std::string& arg) { return CreateRemotePortIo(arg); };
        return r;
    }();
    return registry;
}

}  // namespace

void RegisterPortBackend(const std::string& name, TPortIoFactory factory)
{
    std::lock_guard<std::mutex> lock(gMutex);
    Registry()[name] = std::move(factory);
}

bool PortBackendRegistered(const std::string& name)
{
    std::lock_guard<std::mutex> lock(gMutex);
    return Registry().count(name) != 0;
}

std::unique_ptr<IPortIo> CreatePortBackend(const std::string& selection)
{
    const size_t colon = selection.find(':');
    const std::string name = selection.substr(0, colon);
    const std::string argument = colon == std::string::npos ? std::string() : selection.substr(colon + 1);
    TPortIoFactory factory;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = Registry().find(name);
        if (it == Registry().end()) return nullptr;
        factory = it->second;
    }
    return factory ? factory(argument) : nullptr;
}

std::string SelectedPortBackendName()
{
    const char* env = std::getenv("ZEMPRIX_PORTIO");
    if (env && *env) return env;
    return "ppdev";
}
