#pragma once
// Installs QSerialPort as the serial link's port (call once at program start).
void InstallQtSerialPort();
