#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "foundation/global_defaults.h"
#include "https_test_server.h"
#include "net/https_get.h"
#include "platform/text.h"

namespace {

class HttpsGet : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = startHttpsTestServer(); }
    static void TearDownTestSuite() { stopHttpsTestServer(server); }
    void SetUp() override {
        ASSERT_NE(server.port, 0) << "the test HTTPS server did not start";
        setHttpTrustFile(server.folder + "/cert.pem");
    }
    void TearDown() override {
        setHttpTrustFile("");
        setHttpRequestsCancelled(false);
        resetTimings();
    }
    static std::wstring url(const std::string& path) { return utf8ToWide(serverHost(server) + path); }
    static inline HttpsTestServer server;
};

TEST_F(HttpsGet, BodiesArriveByteForByteAndAreAppended) {
    const std::string binary("a\0b\r\nc\r\n\0\0end\xff", 14);
    serveFile(server, "/binary.bin", binary);
    serveFile(server, "/empty.txt", "");
    std::string body = "kept:";
    EXPECT_EQ(winHttpGetText(url("/binary.bin"), body, L""), kHttpOk);
    EXPECT_EQ(body, "kept:" + binary);
    EXPECT_EQ(winHttpGetText(url("/empty.txt"), body, L""), kHttpOk);
    EXPECT_EQ(body, "kept:" + binary);

    // Our user agent, and extra header lines passed as they stand.
    std::string echo;
    EXPECT_EQ(winHttpGetText(url("/echo"), echo, L"X-Test: one two\r\n"), kHttpOk);
    EXPECT_EQ(echo, std::string(kHttpUserAgent) + "|one two");
    // Without "/" the server's root is asked for (a 404 here).
    std::string root;
    EXPECT_EQ(winHttpGetText(utf8ToWide(serverHost(server)), root, L""), kHttpStatusNotOk);
    EXPECT_EQ(requestCount(server, "/"), 1);
}

TEST_F(HttpsGet, OnlySuccessCountsAndRedirectsStayOnHttps) {
    serveFile(server, "/plain.txt", "plain");
    for (const char* path : {"/status/404", "/status/500", "/missing.txt"}) {
        std::string body = "before";
        EXPECT_EQ(winHttpGetText(url(path), body, L""), kHttpStatusNotOk) << path;
        EXPECT_EQ(body, "before") << "an error page is never a reply";
    }
    std::string body;
    EXPECT_EQ(winHttpGetText(url("/redirect-https?to=/plain.txt"), body, L""), kHttpOk);
    EXPECT_EQ(body, "plain");
    body.clear();
    EXPECT_EQ(winHttpGetText(url("/redirect-http"), body, L""), kHttpRedirectRefused);
    EXPECT_EQ(body, "");
    EXPECT_EQ(winHttpGetText(L"", body, L""), kHttpBadUrl);
    EXPECT_EQ(winHttpGetText(L"user@evil/x", body, L""), kHttpBadUrl);
    EXPECT_EQ(winHttpGetText(url("/a b"), body, L""), kHttpBadUrl);
}

TEST_F(HttpsGet, SlowEndlessAndAbsentServersEndWithinBounds) {
    timings().httpConnectMs = 2000;
    timings().httpTotalMs = 1500;
    std::string body;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(winHttpGetText(url("/stall"), body, L""), kHttpTimedOut);
    const auto stalled = std::chrono::steady_clock::now() - started;
    EXPECT_GE(stalled, std::chrono::milliseconds(1400));
    EXPECT_LT(stalled, std::chrono::seconds(30));

    timings().httpTotalMs = 60000;
    EXPECT_EQ(winHttpGetText(url("/endless"), body, L""), kHttpTooLarge);
    EXPECT_EQ(body, "");
    EXPECT_EQ(winHttpGetText(utf8ToWide("127.0.0.1:" + std::to_string(closedLocalPort()) + "/x"), body, L""),
              kHttpConnectFailed);

    // Cancelling ends a waiting request at once (shut-down).
    started = std::chrono::steady_clock::now();
    std::thread cancel([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        setHttpRequestsCancelled(true);
    });
    EXPECT_EQ(winHttpGetText(url("/stall"), body, L""), kHttpCancelled);
    cancel.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(winHttpGetText(url("/plain.txt"), body, L""), kHttpCancelled);
}

TEST_F(HttpsGet, SystemTrustStoreRejectsTheSelfSignedCertificate) {
    serveFile(server, "/plain.txt", "plain");
    setHttpTrustFile("");
    std::string body;
    EXPECT_EQ(winHttpGetText(url("/plain.txt"), body, L""), kHttpTlsFailed);
    EXPECT_EQ(body, "");
}

}  // namespace
