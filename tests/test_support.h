#pragma once
// Small helpers shared by the test files.
#include <cstdio>
#include <unistd.h>
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

// What a shell command writes to its standard output; empty when it cannot be started.
inline std::string CommandOutput(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

// Everything a descriptor gives until its end (a pipe whose writers have all closed).
inline std::string ReadToEnd(int fd)
{
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
}
