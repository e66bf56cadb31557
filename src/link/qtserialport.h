#pragma once
// QSerialPort as the serial link's port.
#include <memory>

#include "link/serialport.h"

std::unique_ptr<ISerialPort> CreateQtSerialPort();
class TLinkContext;

// Makes it the port every serial link of this context creates.
void InstallQtSerialPort(TLinkContext& context);
