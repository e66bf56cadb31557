#include "app/startup.h"

#include <cctype>

TStartupSwitches ParseStartupSwitches(const std::vector<std::string>& arguments)
{
    TStartupSwitches s;
    for (const std::string& parameter : arguments) {
        const char letter =
            parameter.size() >= 2 ? static_cast<char>(std::toupper(static_cast<unsigned char>(parameter[1]))) : '\0';
        const std::string value = parameter.size() > 3 ? parameter.substr(3) : std::string();
        switch (letter) {
        case 'A':
            s.Auto = true;
            break;
        case 'L':
            s.Load = true;
            s.LoadFile += value;
            break;
        case 'M':
            s.Hardware = true;
            s.HardwareName += value;
            break;
        case 'O':
            s.Operator = true;
            break;
        default:
            ++s.Invalid;
        }
    }
    return s;
}
