#include "foundation/machine_ids.h"

#include <cctype>

#include "platform/machine_id.h"

std::string newUuidText() { return generateUuidText(); }

std::string formatMachineIdAsGuid(const std::string& machineId) {
    if (machineId.size() != 32) return "";
    std::string guid = "{";
    for (size_t i = 0; i < machineId.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(machineId[i]))) return "";
        if (i == 8 || i == 12 || i == 16 || i == 20) guid += '-';
        guid += machineId[i];
    }
    return guid + "}";
}

std::string getHardwareProfileGuid() { return formatMachineIdAsGuid(readMachineId()); }
