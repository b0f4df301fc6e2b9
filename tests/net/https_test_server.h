#pragma once
// The test HTTPS server (https_test_server.py) on 127.0.0.1 with a
// self-signed certificate made at start; see the script for its paths.
#include <cstdio>
#include <string>

struct HttpsTestServer {
    std::string folder;  // cert.pem, www/, delay_ms, requests.log
    int port = 0;
    int pid = 0;
    FILE* pipe = nullptr;  // its output
};

// Starts a server in a new test folder; port 0 when it did not start.
HttpsTestServer startHttpsTestServer();
void stopHttpsTestServer(HttpsTestServer& server);
// "127.0.0.1:<port>", the host part of a request address.
std::string serverHost(const HttpsTestServer& server);
// Writes a file the server serves at `path` ("/a/b.txt").
void serveFile(const HttpsTestServer& server, const std::string& path, const std::string& content);
// How many requests for `path` the server has seen ("done <path>": answered).
int requestCount(const HttpsTestServer& server, const std::string& path);
// A port on 127.0.0.1 where nothing listens.
int closedLocalPort();

// The update description's notice items, packed as the server serves them.
std::string packedItems(const std::string& boot, const std::string& version, const std::string& older);
