#pragma once
// The installation identifier ("guid") and the machine identifier ("hwguid")
// kept in the configuration.
#include <string>

// A new UUID, 8-4-4-4-12 lower-case hexadecimal digits (36 characters).
std::string newUuidText();
// The machine id as "{8-4-4-4-12}" (38 characters); empty when unknown.
std::string getHardwareProfileGuid();
// Formats 32 hexadecimal digits as "{8-4-4-4-12}"; empty for anything else.
std::string formatMachineIdAsGuid(const std::string& machineId);
