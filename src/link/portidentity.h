#pragma once
// Which device a port name stands for on this machine: serial ports with their USB identity and
// the "COMn" that resolves to them, parallel ports with their base address and "LPTn". Read from
// /sys, /dev and /proc under a root that tests point at a prepared tree.
#include <string>
#include <vector>

struct TSerialPortIdentity {
    std::string Device;               // "/dev/ttyUSB0"
    std::string ById;                 // "/dev/serial/by-id/usb-FTDI_..." or empty
    std::string VendorId, ProductId;  // 4 lower-case hex digits each, empty when not USB
    std::string Serial, Description;  // USB serial number and product/manufacturer, may be empty
    int ComNumber = 0;                // n of the "COMn" that resolves to this device, 0 for none
};

struct TParallelPortIdentity {
    std::string Device;  // "/dev/parport0"
    int Base = -1;       // I/O base address, -1 when unknown
    int LptNumber = 0;   // n of "LPTn"
};

// The serial ports in "COMn" order: USB and ACM adapters first, then the others, each by name;
// a ZEMPRIX_COMn variable takes number n for the path it names.
std::vector<TSerialPortIdentity> ListSerialPortIdentities(const std::string& root = "");
std::vector<TParallelPortIdentity> ListParallelPortIdentities(const std::string& root = "");
// The device paths in "COMn" order, without the variables: what "COMn" resolves through.
std::vector<std::string> SerialPortsInComOrder(const std::string& root = "");

// One line for a user choosing a port, e.g.
// "COM1 = /dev/ttyUSB0 (0403:6001 FT232R USB UART, serial A10K5XYZ)".
std::string DescribeSerialPort(const TSerialPortIdentity& port);
std::string DescribeParallelPort(const TParallelPortIdentity& port);

// The serial ports a "usb:VID:PID[:SERIAL]" selector names (hex ids in any case). Raises
// std::invalid_argument for a selector that is not of that form.
std::vector<TSerialPortIdentity> MatchUsbSelector(const std::string& selector, const std::string& root = "");
bool IsUsbSelector(const std::string& text);

// The programs holding `device` open, by any of its names, as "minicom (pid 200), ...", read from
// /proc under `root`; `device` is a path on this machine (under `root` in a prepared tree). Empty
// when none is found (or the processes cannot be looked into).
std::string DescribePortHolders(const std::string& device, const std::string& root = "");
