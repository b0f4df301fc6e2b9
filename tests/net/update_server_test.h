#pragma once
// Tests of the update check against the local test server: one server for
// the suite, and each test starts from a clean network state that asks it
// and trusts its certificate.
#include <gtest/gtest.h>

#include <string>

#include "https_test_server.h"
#include "net/https_get.h"
#include "net/update_check.h"

inline const std::string kVersionFile(kRemoteVersionPath);

class UpdateServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = startHttpsTestServer(); }
    static void TearDownTestSuite() { stopHttpsTestServer(server); }
    void SetUp() override {
        ASSERT_NE(server.port, 0) << "the test HTTPS server did not start";
        resetNetworkState();
        setUpdateServerHost(serverHost(server));
        setHttpTrustFile(server.folder + "/cert.pem");
    }
    void TearDown() override {
        resetNetworkState();
        setHttpTrustFile("");
    }
    static inline HttpsTestServer server;
};
