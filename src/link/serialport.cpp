#include "link/serialport.h"

#include <cstdlib>
#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#include "base/hextext.h"
#include "base/isperrors.h"

std::string ResolveComPortName(const std::string& name, const std::function<std::vector<std::string>()>& listPorts)
{
    if (name.size() < 4 || !hex::SameText(name.substr(0, 3), "COM")) return name;
    const std::string digits = name.substr(3);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 3) return name;
    const int n = std::atoi(digits.c_str());
    if (const char* env = std::getenv(("ZEMPRIX_COM" + std::to_string(n)).c_str()); env && *env) return env;
#ifdef _WIN32
    return hex::ToUpper(name);
#else
    if (!listPorts || n < 1) return name;
    const auto ports = listPorts();
    if (static_cast<size_t>(n) <= ports.size()) return ports[static_cast<size_t>(n) - 1];
    return name;
#endif
}

bool RequestLowLatency(int fd)
{
#ifdef __linux__
    if (fd < 0) return false;
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
    if (info.flags & ASYNC_LOW_LATENCY) return true;
    info.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
#else
    (void)fd;
    return false;
#endif
}
