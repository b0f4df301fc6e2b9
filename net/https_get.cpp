#include "net/https_get.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "foundation/global_defaults.h"
#include "platform/text.h"

namespace {

// Test builds only: VARNHOLT_TEST_CA_FILE names the certificates of a test
// server for the real program; the shipped program reads nothing.
std::string initialTrustFile() {
#ifdef VARNHOLT_TEST_HOOKS
    const char* path = std::getenv("VARNHOLT_TEST_CA_FILE");
    if (path) return path;
#endif
    return {};
}

std::mutex g_trustMutex;
std::string g_trustFile = initialTrustFile();
std::atomic<bool> g_cancelled{false};
std::once_flag g_curlReady;

struct Transfer {
    std::string data;
    bool tooLarge = false;
};

size_t appendReceived(char* bytes, size_t size, size_t count, void* user) {
    Transfer& transfer = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (n > kMaxHttpBodyBytes - transfer.data.size()) {
        transfer.tooLarge = true;
        return 0;  // ends the transfer with a write error
    }
    transfer.data.append(bytes, n);
    return n;
}

int checkCancelled(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return g_cancelled.load() ? 1 : 0; }

bool isAddressChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == ':' || c == '[' || c == ']';
}

// "https://host/path", or "" when the host is empty or holds more than a
// name and a port, or the path holds blanks or control characters.
std::string httpsAddress(const std::wstring& url) {
    const std::string text = wideToUtf8(url);
    const size_t slash = text.find('/');
    const std::string host = text.substr(0, slash);
    const std::string path = slash == std::string::npos ? "" : text.substr(slash + 1);
    if (host.empty()) return {};
    for (const char c : host)
        if (!isAddressChar(c)) return {};
    for (const unsigned char c : path)
        if (c <= ' ' || c == 0x7f) return {};
    return "https://" + host + "/" + path;
}

curl_slist* headerList(const std::wstring& headers) {
    curl_slist* list = nullptr;
    const std::string text = wideToUtf8(headers);
    size_t first = 0;
    while (first < text.size()) {
        size_t end = text.find_first_of("\r\n", first);
        if (end == std::string::npos) end = text.size();
        if (end > first) list = curl_slist_append(list, text.substr(first, end - first).c_str());
        first = end + 1;
    }
    return list;
}

uint32_t resultOf(CURLcode code, const Transfer& transfer) {
    switch (code) {
        case CURLE_OK: return kHttpOk;
        case CURLE_URL_MALFORMAT: return kHttpBadUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT: return kHttpConnectFailed;
        case CURLE_OPERATION_TIMEDOUT: return kHttpTimedOut;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM: return kHttpTlsFailed;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_TOO_MANY_REDIRECTS: return kHttpRedirectRefused;
        case CURLE_FILESIZE_EXCEEDED: return kHttpTooLarge;
        case CURLE_ABORTED_BY_CALLBACK: return kHttpCancelled;
        case CURLE_WRITE_ERROR: return transfer.tooLarge ? kHttpTooLarge : kHttpTransferFailed;
        default: return kHttpTransferFailed;
    }
}

void setOptions(CURL* curl, const std::string& address, curl_slist* headers, Transfer& transfer) {
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    const std::string trust = httpTrustFile();
    if (!trust.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, trust.c_str());  // copied by libcurl
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpUserAgent);
    if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timings().httpConnectMs.load()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timings().httpTotalMs.load()));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxHttpBodyBytes));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendReceived);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkCancelled);
}

}  // namespace

uint32_t winHttpGetText(const std::wstring& url, std::string& body, const std::wstring& headers) {
    const std::string address = httpsAddress(url);
    if (address.empty()) return kHttpBadUrl;
    if (g_cancelled.load()) return kHttpCancelled;
    std::call_once(g_curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) return kHttpSetupFailed;
    Transfer transfer;
    curl_slist* headerLines = headerList(headers);
    setOptions(curl, address, headerLines, transfer);
    uint32_t result = resultOf(curl_easy_perform(curl), transfer);
    long status = 0;
    if (result == kHttpOk && curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
        (status < 200 || status > 299))
        result = kHttpStatusNotOk;
    curl_slist_free_all(headerLines);
    curl_easy_cleanup(curl);
    if (result == kHttpOk) body += transfer.data;
    return result;
}

void setHttpTrustFile(const std::string& pemPath) {
    std::lock_guard<std::mutex> guard(g_trustMutex);
    g_trustFile = pemPath;
}

std::string httpTrustFile() {
    std::lock_guard<std::mutex> guard(g_trustMutex);
    return g_trustFile;
}

void setHttpRequestsCancelled(bool cancelled) { g_cancelled.store(cancelled); }
