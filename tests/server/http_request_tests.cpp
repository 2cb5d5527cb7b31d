#include "ClientTestSupport.h"
#include "HTTPRequest.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class HTTPRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root.write(std::string(kSerialText) + "/7.bird", big);
        root.write(".reply.hi", "ok\nhello\n");
    }
    void TearDown() override { HTTPRequest::SetLimits(HTTPLimits{}); }

    ScratchDir root;
    // Large enough to arrive in several chunks.
    std::string big = std::string(200000, 'x') + std::string(100000, 'y');
};

} // namespace

TEST(HTTPRequestCompose, KeysInOrderEachPairClosedByAmpersand) {
    EXPECT_EQ(HTTPRequest::ComposeURL("http://h/cgi/u", {}), "http://h/cgi/u");
    EXPECT_EQ(HTTPRequest::ComposeURL("http://h/cgi/u", {{"rv", "2"}, {"op", "hi"}}),
              "http://h/cgi/u?op=hi&rv=2&");
    EXPECT_EQ(HTTPRequest::ComposeURL("u", {{"fp", "A%20B"}, {"b", ""}}), "u?b=&fp=A%20B&");
}

TEST_F(HTTPRequestTest, ReturnsBodyStatusAndComposedURL) {
    LocalUpdateServer server(root.path());
    HTTPResponse response = HTTPRequest::GET(server.url(), {{"rv", "2"}, {"op", "hi"}});
    EXPECT_EQ(response.get_request(), server.url() + "?op=hi&rv=2&");
    EXPECT_EQ(response.get_status(), 200);
    EXPECT_EQ(response.get_response(), "ok\nhello\n");
}

TEST_F(HTTPRequestTest, ChunksAreJoinedInOrder) {
    LocalUpdateServer server(root.path(), {"--quiet"});
    LogCatcher log;
    HTTPResponse response = HTTPRequest::GET(
        server.url(), {{"op", "bird"}, {"sn", kSerialText}, {"bld", "7"}, {"fw", "std"}});
    ASSERT_EQ(response.get_status(), 200);
    std::string body = response.get_response();
    // 300000 bytes as base64: 400000 characters, 'x' then 'y' runs.
    EXPECT_EQ(body.size(), 3 + 400000 + 1);
    EXPECT_EQ(body.substr(0, 7), "ok\neHh4");
    EXPECT_EQ(body.substr(body.size() - 5), "eXl5\n");
    std::string text = log.text();
    EXPECT_NE(text.find("GET(" + response.get_request() + ")\n"), std::string::npos);
    size_t calls = 0;
    for (size_t at = text.find("rcv_data returns "); at != std::string::npos;
         at = text.find("rcv_data returns ", at + 1))
        calls++;
    EXPECT_GT(calls, 1u) << "the reply should have come in several chunks";
}

TEST_F(HTTPRequestTest, ErrorStatusIsReturnedNotThrown) {
    for (const char* fault : {"404", "500"}) {
        LocalUpdateServer server(root.path(), {"--fault", fault});
        HTTPResponse response = HTTPRequest::GET(server.url(), {{"op", "hi"}});
        EXPECT_EQ(response.get_status(), std::stoi(fault));
        EXPECT_FALSE(response.get_response().empty());
    }
}

TEST(HTTPRequestFailure, UnreachableHostThrowsCurlText) {
    std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/cgi/u";
    try {
        HTTPRequest::GET(url, {{"op", "hi"}});
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Couldn't connect to server");
    }
}

TEST_F(HTTPRequestTest, StalledTransferIsAbortedPausedOneIsNot) {
    HTTPLimits limits;
    limits.low_speed_seconds = 1;
    HTTPRequest::SetLimits(limits);
    {
        // A pause shorter than the low-speed window is only a slow link.
        LocalUpdateServer server(root.path(), {"--fault", "stall", "--delay-ms", "300"});
        HTTPResponse response = HTTPRequest::GET(server.url(), {{"op", "hi"}});
        EXPECT_EQ(response.get_response(), "ok\nhello\n");
    }
    {
        // Nothing at all for longer than the window: the transfer ends instead of hanging.
        LocalUpdateServer server(root.path(), {"--fault", "slow", "--delay-ms", "2500"});
        try {
            HTTPRequest::GET(server.url(), {{"op", "hi"}});
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Timeout was reached");
        }
    }
}
