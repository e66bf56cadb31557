#pragma once
// QSerialPort as the serial link's port.
#include <memory>

#include "link/serialport.h"

std::unique_ptr<ISerialPort> CreateQtSerialPort();
// Makes it the port every serial link creates (call once at program start).
void InstallQtSerialPort();
