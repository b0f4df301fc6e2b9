#include "foundation/machine_ids.h"

#include <cctype>
#include <cstdio>

#include "foundation/sha256.h"
#include "platform/machine_id.h"

namespace {

// This application's own key for the machine id (a fixed random UUID).
constexpr char kApplicationKey[] = "\x6f\x3a\xd1\x58\x0e\x94\x4b\x27\xa9\xc3\x15\x7e\xb2\x60\xd8\x4f";

}  // namespace

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

std::string hardwareGuidFromMachineId(const std::string& machineId) {
    if (formatMachineIdAsGuid(machineId).empty()) return "";
    std::string id;
    for (size_t i = 0; i < 32; i += 2) id += static_cast<char>(std::stoi(machineId.substr(i, 2), nullptr, 16));
    Sha256Digest hash = hmacSha256(id, std::string_view(kApplicationKey, 16));
    hash[6] = static_cast<uint8_t>((hash[6] & 0x0F) | 0x40);  // a version 4 UUID
    hash[8] = static_cast<uint8_t>((hash[8] & 0x3F) | 0x80);
    std::string hex;
    char digits[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", hash[i]);
        hex += digits;
    }
    return formatMachineIdAsGuid(hex);
}

std::string getHardwareProfileGuid() { return hardwareGuidFromMachineId(readMachineId()); }

std::string withoutRawMachineId(const std::string& stored) {
    const std::string raw = formatMachineIdAsGuid(readMachineId());
    return !raw.empty() && stored == raw ? getHardwareProfileGuid() : stored;
}
