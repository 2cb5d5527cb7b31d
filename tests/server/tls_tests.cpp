// The client must verify the server it fetches firmware from.
#include "ClientTestSupport.h"
#include "HTTPRequest.h"
#include "UpdateServerRequest.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class TLSTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("CURL_CA_BUNDLE");
        if (system("openssl version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "the openssl command makes the test certificates";
        keys.write("server.ext", "subjectAltName=IP:127.0.0.1\n");
        keys.write("wrongname.ext", "subjectAltName=DNS:elsewhere.invalid\n");
        std::string d = keys.path();
        std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::string script =
            "cd " + d + " && openssl req -x509" + ec +
            " -keyout ca.key -out ca.pem -days 2 -subj /CN=vztest-ca" +
            " && for n in server wrongname; do openssl req" + ec +
            " -keyout $n.key -out $n.csr -subj /CN=$n" +
            " && openssl x509 -req -in $n.csr -CA ca.pem -CAkey ca.key -CAcreateserial" +
            " -days 2 -extfile $n.ext -out $n.pem || exit 1; done";
        ASSERT_EQ(system((script + " >/dev/null 2>&1").c_str()), 0) << "openssl failed";
        root.write(std::string(kSerialText) + "/.server", "latest=5\n");
    }
    void TearDown() override { unsetenv("CURL_CA_BUNDLE"); }

    std::vector<std::string> tls(const std::string& name) {
        return {"--tls-cert", keys / (name + ".pem"), "--tls-key", keys / (name + ".key")};
    }

    ScratchDir keys;
    ScratchDir root;
};

} // namespace

TEST_F(TLSTest, UntrustedServerIsRefused) {
    LocalUpdateServer server(root.path(), tls("server"));
    EXPECT_THROW(HTTPRequest::GET(server.url("https"), {{"op", "hi"}}), std::runtime_error);
    EXPECT_FALSE(UpdateServerRequest::ping(server.url("https")));
}

TEST_F(TLSTest, ServerSignedByTrustedAuthorityIsAccepted) {
    LocalUpdateServer server(root.path(), tls("server"));
    setenv("CURL_CA_BUNDLE", (keys / "ca.pem").c_str(), 1);
    HTTPResponse response = HTTPRequest::GET(server.url("https"), {{"op", "hi"}});
    EXPECT_EQ(response.get_status(), 200);
    EXPECT_EQ(response.get_response(), "ok\n");
    std::string build, firmware;
    EXPECT_TRUE(UpdateServerRequest::QueryBuild(kSerial, build, firmware, server.url("https")));
    EXPECT_EQ(build, "5");
}

TEST_F(TLSTest, TrustedCertificateForAnotherHostIsRefused) {
    LocalUpdateServer server(root.path(), tls("wrongname"));
    setenv("CURL_CA_BUNDLE", (keys / "ca.pem").c_str(), 1);
    EXPECT_THROW(HTTPRequest::GET(server.url("https"), {{"op", "hi"}}), std::runtime_error);
}
