#pragma once
// The program's one HTTPS client: a blocking GET whose reply body is appended
// to a string. Certificates are always verified; only HTTPS is spoken, also
// after a redirect; the connection and the whole request have time-outs
// (timings().httpConnectMs and httpTotalMs) and the reply a size cap.
#include <cstddef>
#include <cstdint>
#include <string>

// Results of winHttpGetText: 0 is success.
enum HttpResult : uint32_t {
    kHttpOk = 0,
    kHttpBadUrl = 1,            // no host, or characters an address cannot hold
    kHttpSetupFailed = 2,       // the client could not be set up
    kHttpConnectFailed = 3,     // host not found, connection refused or cut
    kHttpTlsFailed = 4,         // certificate not trusted or handshake failed
    kHttpTimedOut = 5,          // connection or request took too long
    kHttpStatusNotOk = 6,       // the server answered with a status outside 200-299
    kHttpTooLarge = 7,          // the reply is longer than kMaxHttpBodyBytes
    kHttpRedirectRefused = 8,   // redirected to a plain HTTP address, or too often
    kHttpTransferFailed = 9,    // any other failure while sending or receiving
    kHttpCancelled = 10,        // requests were cancelled (the program is ending)
};

inline constexpr size_t kMaxHttpBodyBytes = 1024 * 1024;
inline constexpr const char* kHttpUserAgent = "WinHTTP Varnholt/1.0";

// GET https://<url>: `url` is a host (optionally ":port", else 443), "/" and
// the path, without scheme; without "/" the server's root is asked for.
// `headers` are extra request lines ("Name: value", separated by line
// breaks), sent as they stand. On success the body's bytes are appended to
// `body` exactly as received; on any failure `body` is left unchanged.
uint32_t winHttpGetText(const std::wstring& url, std::string& body, const std::wstring& headers);

// Certificates to trust instead of the system's store ("" = the system's;
// test builds start from VARNHOLT_TEST_CA_FILE).
void setHttpTrustFile(const std::string& pemPath);
std::string httpTrustFile();

// While set, running and new requests end at once with kHttpCancelled.
void setHttpRequestsCancelled(bool cancelled);
