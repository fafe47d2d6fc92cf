// The two service requests as plain calls: the reply value that comes back,
// and the judgement of the update check's reply. No window takes part.
#include "update/ServiceRequest.h"

#include <gtest/gtest.h>

#include <QApplication>

#include "tests/support/TlsTestServer.h"
#include "update/HTTPSecureSocket.h"

namespace halvoric {
namespace {

using testsupport::TlsTestServer;

class ServiceRequestTest : public ::testing::Test {
protected:
    // The service at `port` on 127.0.0.1, trusted by the test CA.
    static ServiceEndpoint At(int port) {
        return {"127.0.0.1:" + std::to_string(port), TlsTestServer::TrustingSettings()};
    }
};

TEST_F(ServiceRequestTest, AReplyComesBackWithBodyStatusAndNoErrorAndTheFormGoesOutInOrder) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\ntrue"));
    const ServiceReply reply =
        PostServiceForm(At(server.Port()), kVersionCheckPath, {"3", "120", "Halvoric"}, kVersionCheckTimeoutSeconds);
    EXPECT_EQ(reply.body, "true");
    EXPECT_EQ(reply.httpStatus, 404);
    EXPECT_EQ(reply.errorCode, 0);
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string request = server.Requests()[0];
    EXPECT_EQ(request.rfind("POST /www/ssl/vcheck.php HTTP/1.0\r\n", 0), 0u) << request;
    EXPECT_TRUE(request.ends_with("\r\n\r\napp_id=3&ver=120&regi=Halvoric")) << request;
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 0);
}

TEST_F(ServiceRequestTest, NoConnectionGivesAnEmptyBodyAndASilentServerATimeOut) {
    const ServiceReply refused =
        PostServiceForm(At(TlsTestServer::UnusedPort()), kLaunchReportPath, {"3", "120", "Halvorik"}, 1);
    EXPECT_EQ(refused.body, "");
    EXPECT_EQ(refused.httpStatus, 0);

    TlsTestServer silent(TlsTestServer::NeverHandshake());
    const ServiceReply timedOut = PostServiceForm(At(silent.Port()), kLaunchReportPath, {"3", "120", "Halvorik"}, 1);
    EXPECT_EQ(timedOut.body, "");
    EXPECT_EQ(timedOut.errorCode, HTTPSecureSocket::kTimedOut);
}

TEST(UpdateOutcome, OnlyTheWholeBodyTrueOrFalseDecides) {
    EXPECT_EQ(JudgeVersionCheckReply("true"), UpdateOutcome::UpdateAvailable);
    EXPECT_EQ(JudgeVersionCheckReply("false"), UpdateOutcome::UpToDate);
    for (const char* other : {"", "true\n", "True", " false", "falsey", "1"}) {
        EXPECT_EQ(JudgeVersionCheckReply(other), UpdateOutcome::CheckFailed) << other;
    }
}

}  // namespace
}  // namespace halvoric
