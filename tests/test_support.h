#pragma once
// Small helpers shared by the test files.
#include <exception>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

// The message of what `f` raises, or "(no exception)".
inline std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

// A whole file as bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
