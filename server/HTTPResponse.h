// Result of one HTTP GET: the URL asked for, the status and the body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class HTTPResponse {
  public:
    explicit HTTPResponse(std::string request) : request(std::move(request)) {}

    const std::string& get_request() const { return request; }
    const std::string& get_response() const { return response; }
    int64_t get_status() const { return status; }

    void set_status(int64_t code) { status = code; }
    void process(const char* data, size_t length) { response.append(data, length); }

  private:
    std::string request;
    int64_t status = 0;
    std::string response;
};
