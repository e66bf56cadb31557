#pragma once
// `zemprix-cli doctor`: why a port cannot be used, and the fix for each cause. The port checks
// live in the link layer, where a session uses them to explain a port that failed to open.
#include <string>
#include <vector>

#include "link/portdiagnosis.h"

// Whether a folder is (or can be made) writable for a file in it.
TCheck CheckFolder(const std::string& name, const std::string& folder);

std::string ChecksJson(const std::vector<TCheck>& checks);
