#pragma once
// The installation identifier ("guid") and the machine identifier ("hwguid")
// kept in the configuration.
#include <string>

// A new UUID, 8-4-4-4-12 lower-case hexadecimal digits (36 characters).
std::string newUuidText();
// The machine identifier, "{8-4-4-4-12}" (38 characters, lower case); empty
// when unknown. Never the machine id itself: an HMAC-SHA-256 of this
// application's key under the machine id, as machine-id(5) asks of programs.
std::string getHardwareProfileGuid();
std::string hardwareGuidFromMachineId(const std::string& machineId);
// A stored identifier that is the raw machine id (as earlier runs kept it)
// becomes the keyed one; any other text stays.
std::string withoutRawMachineId(const std::string& stored);
// Formats 32 hexadecimal digits as "{8-4-4-4-12}"; empty for anything else.
std::string formatMachineIdAsGuid(const std::string& machineId);
