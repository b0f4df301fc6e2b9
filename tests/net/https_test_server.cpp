#include "https_test_server.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "test_env.h"

HttpsTestServer startHttpsTestServer() {
    HttpsTestServer server;
    server.folder = makeTestFolder("https");
    const std::string script = (std::filesystem::path(__FILE__).parent_path() / "https_test_server.py").string();
    // exec: the server's parent is this test process, whose end it follows.
    const std::string command = "exec python3 '" + script + "' '" + server.folder + "'";
    server.pipe = popen(command.c_str(), "r");
    if (server.pipe && std::fscanf(server.pipe, "%d %d", &server.port, &server.pid) != 2) server.port = 0;
    return server;
}

void stopHttpsTestServer(HttpsTestServer& server) {
    if (server.pid > 0) kill(server.pid, SIGTERM);
    if (server.pipe) pclose(server.pipe);
    server.pid = 0;
    server.pipe = nullptr;
}

std::string serverHost(const HttpsTestServer& server) { return "127.0.0.1:" + std::to_string(server.port); }

void serveFile(const HttpsTestServer& server, const std::string& path, const std::string& content) {
    const std::filesystem::path file = server.folder + "/www" + path;
    std::filesystem::create_directories(file.parent_path());
    writeTestFile(file.string(), content);
}

int requestCount(const HttpsTestServer& server, const std::string& path) {
    std::istringstream lines(readTestFile(server.folder + "/requests.log"));
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line == path;
    return count;
}

int closedLocalPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::string packedItems(const std::string& boot, const std::string& version, const std::string& older) {
    DataRecord document;
    addRecordSection(document, "items");
    RecordSectionHandle section = getRecordSection(document, "items");
    setRecordString(section, "boot_msg", boot, 0);
    setRecordString(section, "app_version", version, 0);
    setRecordString(section, "app_version_msg_older", older, 0);
    std::string text;
    packDataRecord(section, kDataFilePassPhrase, text);
    return text;
}
