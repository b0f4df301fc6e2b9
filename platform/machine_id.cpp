#include "platform/machine_id.h"

#include <uuid/uuid.h>

#include <fstream>

namespace {

std::string firstLineOf(const char* path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

}  // namespace

std::string readMachineId() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::string id = firstLineOf(path);
        if (!id.empty()) return id;
    }
    return "";
}

std::string generateUuidText() {
    uuid_t uuid;
    uuid_generate(uuid);
    char text[37] = {};
    uuid_unparse_lower(uuid, text);
    return text;
}
