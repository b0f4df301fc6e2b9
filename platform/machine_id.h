#pragma once
// Machine and installation identity on Linux: the machine id that systemd
// keeps, and new UUIDs from libuuid.
#include <string>

// The first line of /etc/machine-id (or /var/lib/dbus/machine-id), empty when
// neither can be read.
std::string readMachineId();
// A new random UUID in its standard 36-character form, lower case.
std::string generateUuidText();
