#include "HTTPRequest.h"

#include "Log.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace {

std::mutex sLimitsLock;
HTTPLimits sLimits;

size_t _rcv_data(char* data, size_t size, size_t count, void* context) {
    auto* response = static_cast<HTTPResponse*>(context);
    Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%100.100s]\n", (int)size,
             (int)count, (unsigned)(uintptr_t)context,
             std::string(data, std::min<size_t>(size * count, 100)).c_str());
    response->process(data, size * count);
    Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", (int)(size * count));
    return size * count;
}

// Options in their fixed order; the first failure ends the list.
CURLcode sSetOptions(CURL* curl, HTTPResponse* response, const std::string& url) {
    HTTPLimits limits = HTTPRequest::GetLimits();
    CURLcode rc = curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, _rcv_data);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_WRITEDATA, response);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    // The firmware we flash comes over this channel: the peer must be the real server.
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_SSL_VERIFYSTATUS, 0L);
    // A site with its own certificate authority names its bundle the way curl users know.
    const char* bundle = getenv("CURL_CA_BUNDLE");
    if (rc == CURLE_OK && bundle && *bundle) rc = curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, limits.connect_timeout_ms);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_bytes);
    if (rc == CURLE_OK)
        rc = curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.low_speed_seconds);
    // Worker threads must not get SIGALRM from the resolver's time-out.
    if (rc == CURLE_OK) rc = curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    return rc;
}

} // namespace

HTTPLimits HTTPRequest::GetLimits() {
    std::lock_guard<std::mutex> lock(sLimitsLock);
    return sLimits;
}

void HTTPRequest::SetLimits(const HTTPLimits& limits) {
    std::lock_guard<std::mutex> lock(sLimitsLock);
    sLimits = limits;
}

std::string HTTPRequest::ComposeURL(const std::string& url,
                                    const std::map<std::string, std::string>& parameters) {
    std::string composed = url;
    if (!parameters.empty()) {
        composed += "?";
        for (const auto& [key, value] : parameters)
            composed += key + "=" + value + "&";
    }
    return composed;
}

HTTPResponse HTTPRequest::GET(const std::string& url,
                              const std::map<std::string, std::string>& parameters) {
    CURL* curl = curl_easy_init();
    HTTPResponse response(ComposeURL(url, parameters));
    if (!curl) throw std::runtime_error("Could not create curl instance");

    CURLcode rc = sSetOptions(curl, &response, response.get_request());
    long code = 0;
    if (rc == CURLE_OK) {
        Log::log(DEBUG_ServerComm, "GET(%s)\n", response.get_request().c_str());
        rc = curl_easy_perform(curl);
    }
    if (rc == CURLE_OK) rc = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) throw std::runtime_error(curl_easy_strerror(rc));
    response.set_status(code);
    return response;
}
