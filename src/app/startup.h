#pragma once
// The desktop program's command line: one switch per parameter, its letter the parameter's second
// character ("/A", "-a" and "xA" all ask for Auto Program; "/O" for operator mode); L and M carry a
// value from the fourth character on, after a separator of any kind.
#include <string>
#include <vector>

struct TStartupSwitches {
    bool Auto = false;      // A: run Auto Program instead of the start-up completion line
    bool Load = false;      // L: load LoadFile at start-up and for every later Reload
    bool Hardware = false;  // M: use HardwareName instead of the remembered hardware
    bool Operator = false;  // O: start in operator mode
    std::string LoadFile;
    std::string HardwareName;
    int Invalid = 0;  // parameters that name no switch; each is reported, the rest still apply
};

// A second L or M parameter extends the value of the first; one of fewer than four characters
// sets its flag and adds nothing. The switch letter is read without regard to case, the value
// keeps its case: a file system that tells cases apart would not find an upper-cased path.
TStartupSwitches ParseStartupSwitches(const std::vector<std::string>& arguments);
