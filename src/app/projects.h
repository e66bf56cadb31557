#pragma once
// Projects: named configurations (device, hardware, Flash file, option byte, Auto Program
// choices) kept under the settings store's PROJECTS key. The window's two File commands and
// `zemprix-cli project` run these same sequences.
#include <functional>
#include <string>
#include <vector>

class TAppSession;

namespace projects {

// A name the store can hold as one key: not empty, no "/" or "\" (which would nest keys and reach
// another project's data), no control characters.
bool ValidName(const std::string& name);

// The saved projects, in the store's order.
std::vector<std::string> Names(TAppSession& session);
// Removes a project with everything under it; raises for an invalid name.
void Delete(TAppSession& session, const std::string& name);

// Saves the current configuration as `name`; raises for an invalid name.
void StoreProject(TAppSession& session, const std::string& name);
// Loads `name` and applies it: the option byte, the device switch, the Flash file and the link's
// settings. `showError` gets the message box text of a Flash file that cannot be opened.
// Without `connect` the programmer is bound but the box is not touched.
void RestoreProject(TAppSession& session, const std::string& name,
                    const std::function<void(const std::string&)>& showError, bool connect = true);

}  // namespace projects
