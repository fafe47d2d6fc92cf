#include "update/HTTPSecureSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/Dictionary.h"
#include "platform/Ref.h"
#include "tests/support/TlsTestServer.h"
#include "update/InternetHeaders.h"

namespace {

using halvoric::HTTPSecureSocket;
using halvoric::InternetHeaders;
using platform::SSLSocket;
using testsupport::TlsTestServer;
using Clock = std::chrono::steady_clock;
using Ending = TlsTestServer::Ending;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A post that ended by its 1-second time-out: after the second, not much later,
// with the error code of a time-out and the socket closed.
void ExpectTimedOut(const HTTPSecureSocket& client, Clock::time_point start) {
    const double elapsed = SecondsSince(start);
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_GE(elapsed, 1.0);
    EXPECT_LT(elapsed, 1.5);
    EXPECT_FALSE(client.IsConnected());
}

platform::Ref<platform::Dictionary> UpdateCheckForm() {
    auto form = platform::Make<platform::Dictionary>();
    form->SetValue("app_id", "3");
    form->SetValue("ver", "120");
    form->SetValue("regi", "Halvoric");
    return form;
}

// ---- form encoding ------------------------------------------------------------------

TEST(HTTPSecureSocketEncoding, EscapesTheListedCharactersAndTurnsSpacesIntoPlus) {
    EXPECT_EQ(HTTPSecureSocket::EncodeURLString("50% (net)"), "50%25+%28net%29");
    EXPECT_EQ(HTTPSecureSocket::EncodeURLString("a+b c"), "a%2Bb+c");
    EXPECT_EQ(HTTPSecureSocket::EncodeURLString("line\r\nnext"), "line%0D%0Anext");
    EXPECT_EQ(HTTPSecureSocket::EncodeURLString("%25"), "%2525");
    EXPECT_EQ(HTTPSecureSocket::EncodeURLString(""), "");
    EXPECT_EQ(HTTPSecureSocket::EncodeURLString("%&=,/\\][{}`~-_()*^$#!+;<>\r\n"),
              "%25%26%3D%2C%2F%5C%5D%5B%7B%7D%60%7E%2D%5F%28%29%2A%5E%24%23%21%2B%3B%3C%3E%0D%0A");
}

TEST(HTTPSecureSocketEncoding, LeavesEveryOtherBytePassUnchanged) {
    const std::string unchanged = "AZaz09.:?@|\"'\t\xE6\x97\xA5\xE6\x9C\xAC\x7F\x80\xFF";
    EXPECT_EQ(HTTPSecureSocket::EncodeURLString(unchanged), unchanged);
}

TEST(HTTPSecureSocketEncoding, FormDataJoinsEncodedPairsInInsertionOrder) {
    HTTPSecureSocket client;
    // Keys are field names sent as written; only values are encoded.
    EXPECT_EQ(client.EncodeFormData(*UpdateCheckForm()), "app_id=3&ver=120&regi=Halvoric");

    platform::Dictionary form;
    EXPECT_EQ(client.EncodeFormData(form), "");
    form.SetValue("z_key", "a&b=c d_e");
    EXPECT_EQ(client.EncodeFormData(form), "z_key=a%26b%3Dc+d%5Fe");
    form.SetValue("a", "");
    EXPECT_EQ(client.EncodeFormData(form), "z_key=a%26b%3Dc+d%5Fe&a=");
}

// ---- URLs and headers ----------------------------------------------------------------

TEST(HTTPSecureSocketURL, TakesServerPathAndPortFromTheURL) {
    HTTPSecureSocket client;
    client.ParseURL("https://service.example");
    EXPECT_EQ(client.Server(), "service.example");
    EXPECT_EQ(client.Path(), "/");
    EXPECT_EQ(client.Address(), "service.example");
    EXPECT_EQ(client.Port(), 443);

    client.ParseURL("https://service.example:8443/www/ssl/vcheck.php?x=1");
    EXPECT_EQ(client.Server(), "service.example:8443");
    EXPECT_EQ(client.Path(), "/www/ssl/vcheck.php?x=1");
    EXPECT_EQ(client.Address(), "service.example");
    EXPECT_EQ(client.Port(), 8443);

    client.ParseURL("service.example/a/b");
    EXPECT_EQ(client.Server(), "service.example");
    EXPECT_EQ(client.Path(), "/a/b");

    client.ParseURL("https://h:0/x");
    EXPECT_EQ(client.Port(), 443);
    client.ParseURL("https://h:abc/x");
    EXPECT_EQ(client.Port(), 443);
    EXPECT_EQ(client.Address(), "h");
    client.ParseURL("https://h:81:82/x");
    EXPECT_EQ(client.Port(), 81);

    client.DefaultPort = 8000;
    client.ParseURL("https://h/");
    EXPECT_EQ(client.Port(), 8000);
}

TEST(HTTPSecureSocketURL, DeterminesTheLineEnd) {
    EXPECT_EQ(HTTPSecureSocket::DetermineEOLCharacter("a\nb\r\nc"), "\r\n");
    EXPECT_EQ(HTTPSecureSocket::DetermineEOLCharacter("a\rb\nc"), "\n");
    EXPECT_EQ(HTTPSecureSocket::DetermineEOLCharacter("a\rb"), "\r");
    EXPECT_EQ(HTTPSecureSocket::DetermineEOLCharacter("ab"), "\r\n");
}

TEST(InternetHeadersTest, RequestHeadersStartWithAcceptAndReplaceInPlace) {
    HTTPSecureSocket client;
    EXPECT_EQ(client.RequestHeaders().FormatHTTPHeaders(), "Accept: */*\r\nAccept-Language: en");

    InternetHeaders headers;
    headers.SetHeader("A", "1");
    headers.SetHeader("B", "2");
    headers.SetHeader("A", "");
    EXPECT_EQ(headers.FormatHTTPHeaders(), "A: \r\nB: 2");
}

TEST(InternetHeadersTest, RepeatedNamesAreNumberedAndWrittenUnderTheirName) {
    InternetHeaders headers;
    headers.AppendHeader("Set-Cookie", "a");
    headers.AppendHeader("Set-Cookie", "b");
    headers.AppendHeader("X", "x");
    headers.AppendHeader("Set-Cookie", "c");
    EXPECT_EQ(headers.NameCount("Set-Cookie"), 3);
    EXPECT_EQ(headers.Value("Set-Cookie:1"), "b");
    EXPECT_EQ(headers.FormatHTTPHeaders(), "Set-Cookie: a\r\nSet-Cookie: b\r\nX: x\r\nSet-Cookie: c");

    headers.SetHeader("Set-Cookie", "only");
    EXPECT_EQ(headers.NameCount("Set-Cookie"), 1);
    EXPECT_EQ(headers.FormatHTTPHeaders(), "Set-Cookie: only\r\nX: x");

    headers.AppendHeader("X", "y");
    headers.Delete("X");
    EXPECT_EQ(headers.NameCount("X"), 0);
    EXPECT_EQ(headers.FormatHTTPHeaders(), "Set-Cookie: only");
}

TEST(InternetHeadersTest, ParsesAReplyHeaderBlock) {
    InternetHeaders headers;
    headers.ParseHeaders(
        "HTTP/1.1 200 OK\r\nContent-Type:   text/plain\r\nX-Long: first\r\n second\r\n\tthird\r\n"
        "no colon here\r\nX-Time: 10:20:30\r\nEmpty:");
    EXPECT_EQ(headers.Headers.Count(), 4);
    EXPECT_EQ(headers.Value("Content-Type"), "text/plain");
    EXPECT_EQ(headers.Value("X-Long"), "first second third");
    EXPECT_EQ(headers.Value("X-Time"), "10:20:30");
    EXPECT_TRUE(headers.Headers.HasKey("Empty"));

    InternetHeaders lf;
    lf.ParseHeaders("HTTP/1.0 404 Not Found\nServer: test\n");
    EXPECT_EQ(lf.Value("Server"), "test");
}

TEST(InternetHeadersTest, AHeaderBlockAsLargeAsTheBodyLimitIsReadQuickly) {
    // About 170 000 lines, most of them one name over and over.
    std::string block = "HTTP/1.1 200 OK\r\n";
    int lines = 0;
    while (static_cast<std::int64_t>(block.size()) < HTTPSecureSocket::kMaxBodyBytes - 16) {
        block += lines % 1000 == 999 ? "Other: z\r\n" : "A: v\r\n";
        ++lines;
    }
    InternetHeaders headers;
    const auto start = Clock::now();
    headers.ParseHeaders(block);
    // A fraction of a second even under sanitizers; counting the copies
    // again for each line took hours.
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(headers.Headers.Count(), lines);
    EXPECT_EQ(headers.NameCount("Other"), lines / 1000);
    EXPECT_EQ(headers.NameCount("A"), lines - lines / 1000);
    EXPECT_TRUE(headers.Headers.HasKey("A:" + std::to_string(lines - lines / 1000 - 1)));
}

TEST(InternetHeadersTest, ParsingGoesOnNumberingTheCopiesTheTableHolds) {
    InternetHeaders headers;
    headers.AppendHeader("A", "first");
    headers.AppendHeader("A", "second");
    headers.ParseHeaders("HTTP/1.0 200 OK\nA: third\nB: b\nA: fourth");
    EXPECT_EQ(headers.NameCount("A"), 4);
    EXPECT_EQ(headers.Value("A:2"), "third");
    EXPECT_EQ(headers.Value("A:3"), "fourth");
    EXPECT_EQ(headers.FormatHTTPHeaders(), "A: first\r\nA: second\r\nA: third\r\nB: b\r\nA: fourth");
}

// The end of a header block as the client's rule defines it for all bytes at
// once: the doubled line end that DetermineEOLCharacter names, else LF LF,
// else CR LF CR LF, else CR CR.
halvoric::HeaderBlockEnd::Found HeaderEndAtOnce(const std::string& text) {
    const std::string eol = HTTPSecureSocket::DetermineEOLCharacter(text);
    for (const std::string& candidate : {eol, std::string("\n"), std::string("\r\n"), std::string("\r")}) {
        const std::size_t at = text.find(candidate + candidate);
        if (at != std::string::npos) return {static_cast<std::int64_t>(at) + 1, candidate};
    }
    return {};
}

TEST(HeaderBlockEndTest, FindsTheSameEndWhereverTheBytesAreSplit) {
    const std::string replies[] = {
        "HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody\r\n\r\n",
        "HTTP/1.0 200 OK\nA: b\n\nbody",
        "HTTP/1.0 200 OK\rA: b\r\rbody",
        "HTTP/1.0 200 OK\r\nA: b\n\nbody\r\n\r\n",  // CR LF named, LF LF first
        "HTTP/1.0 200 OK\nA: b\r\rC: d\n\nbody",      // LF named, CR CR before LF LF
        "HTTP/1.0 200 OK\r\nA: \r\r\n",
        "no end at all\r\n",
    };
    for (const std::string& reply : replies) {
        // Growing one byte at a time: each search agrees with the rule for
        // the bytes so far, and the end is found as soon as it is there.
        halvoric::HeaderBlockEnd search;
        halvoric::HeaderBlockEnd::Found found;
        std::size_t length = 0;
        while (found.position == 0 && length < reply.size()) {
            const std::string prefix = reply.substr(0, ++length);
            found = search.Search(prefix);
            const auto expected = HeaderEndAtOnce(prefix);
            ASSERT_EQ(found.position, expected.position) << reply << " at " << length;
            ASSERT_EQ(found.eol, expected.eol) << reply << " at " << length;
        }
        // Split once at every place.
        for (std::size_t split = 0; split <= reply.size(); ++split) {
            halvoric::HeaderBlockEnd halves;
            const std::string first = reply.substr(0, split);
            found = halves.Search(first);
            const bool inFirst = found.position != 0;
            if (!inFirst) found = halves.Search(reply);
            const auto expected = HeaderEndAtOnce(inFirst ? first : reply);
            EXPECT_EQ(found.position, expected.position) << reply << " split at " << split;
            EXPECT_EQ(found.eol, expected.eol) << reply << " split at " << split;
        }
    }
}

// ---- requests against a test server ----------------------------------------------------

class HTTPSecureSocketTest : public ::testing::Test {
protected:
    void SetUp() override { SSLSocket::AddTrustAnchorForTesting(TlsTestServer::CaCertificatePem()); }
    void TearDown() override {
        SSLSocket::ClearTrustAnchorsForTesting();
        SSLSocket::ClearAddressesForTesting();
    }

    // Posts the update check's form to `url` the way the owner does.
    std::string Post(HTTPSecureSocket& client, const std::string& url, int timeoutSeconds,
                     platform::Ref<platform::Dictionary> form = UpdateCheckForm()) {
        client.SetSecure(true);
        client.SetFormData(form);
        return client.Post(url, timeoutSeconds);
    }
};

TEST_F(HTTPSecureSocketTest, SendsTheUpdateCheckRequestByteForByte) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nfalse"));
    HTTPSecureSocket client;
    EXPECT_EQ(Post(client, server.Url("/www/ssl/vcheck.php", "localhost"), 10), "false");
    client.Close();

    const std::string host = "localhost:" + std::to_string(server.Port());
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0],
              "POST /www/ssl/vcheck.php HTTP/1.0\r\n"
              "Accept: */*\r\n"
              "Accept-Language: en\r\n"
              "Host: " + host + "\r\n"
              "Content-type: application/x-www-form-urlencoded\r\n"
              "Content-length: 30\r\n"
              "\r\n"
              "app_id=3&ver=120&regi=Halvoric");
    EXPECT_EQ(client.ErrorCode(), 0);
    EXPECT_EQ(client.HTTPStatusCode(), 200);
    EXPECT_TRUE(client.PageComplete());
    ASSERT_TRUE(client.PageHeaders());
    EXPECT_EQ(client.PageHeaders()->Value("Content-Type"), "text/plain");
}

TEST_F(HTTPSecureSocketTest, EmptyAndMissingFormsAndURLsWithoutPathOrScheme) {
    const std::string reply = "HTTP/1.0 200 OK\r\n\r\nok";
    {
        TlsTestServer server(TlsTestServer::Reply(reply));
        HTTPSecureSocket client;
        EXPECT_EQ(Post(client, server.Url(""), 5, platform::Make<platform::Dictionary>()), "ok");
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Requests()[0],
                  "POST / HTTP/1.0\r\nAccept: */*\r\nAccept-Language: en\r\nHost: 127.0.0.1:" +
                      std::to_string(server.Port()) +
                      "\r\nContent-type: application/x-www-form-urlencoded\r\nContent-length: 0\r\n\r\n");
    }
    {
        TlsTestServer server(TlsTestServer::Reply(reply));
        HTTPSecureSocket client;
        const std::string host = "127.0.0.1:" + std::to_string(server.Port());
        EXPECT_EQ(Post(client, host + "/k?a=1", 5, nullptr), "ok");
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Requests()[0],
                  "POST /k?a=1 HTTP/1.0\r\nAccept: */*\r\nAccept-Language: en\r\nHost: " + host +
                      "\r\nContent-type: \r\nContent-length: 0\r\n\r\n");
    }
}

TEST_F(HTTPSecureSocketTest, SplitsLineFeedAndCrLfRepliesAtTheFirstBlankLine) {
    struct Case {
        std::string reply;
        std::string body;
        std::string contentType;
    };
    const Case cases[] = {
        {"HTTP/1.0 200 OK\nContent-Type: text/plain\n\ntrue", "true", "text/plain"},
        {"HTTP/1.1 200 OK\r\nContent-Type: a/b\r\n\r\nline one\r\n\r\nline two\r\n", "line one\r\n\r\nline two\r\n",
         "a/b"},
        {"HTTP/1.0 200 OK\nX: y\n\nbody with\r\na CR LF", "body with\r\na CR LF", ""},
        {"HTTP/1.0 200 OK\rContent-Type: c/d\r\rbody", "body", "c/d"},
    };
    for (const Case& c : cases) {
        TlsTestServer server(TlsTestServer::Reply(c.reply));
        HTTPSecureSocket client;
        EXPECT_EQ(Post(client, server.Url("/p"), 5), c.body) << c.reply;
        EXPECT_EQ(client.HTTPStatusCode(), 200);
        ASSERT_TRUE(client.PageHeaders());
        EXPECT_EQ(client.PageHeaders()->Value("Content-Type"), c.contentType);
    }
}

TEST_F(HTTPSecureSocketTest, AHeaderBlockInPiecesIsSplitOnlyOnceTheBlankLineHasCome) {
    TlsTestServer::Script script;
    script.steps = {{0, "HTTP/1.1 200 OK\r"},
                    {60, "\nContent-Type: te"},
                    {60, "xt/plain\r\n"},
                    {60, "\r"},
                    {60, "\nbo"},
                    {60, "dy"}};
    TlsTestServer server(script);
    HTTPSecureSocket client;
    EXPECT_EQ(Post(client, server.Url("/p"), 5), "body");
    EXPECT_EQ(client.PageHeaders()->Value("Content-Type"), "text/plain");
}

TEST_F(HTTPSecureSocketTest, HeaderBytesDoNotRestartTheTimeOut) {
    // Pieces of the header block every 400 ms: the time-out of 1 s runs out
    // before the blank line comes, since nothing reaches the body.
    TlsTestServer::Script script;
    script.steps = {{0, "HTTP/1.0 200 OK\r\n"}, {400, "A: 1\r\n"}, {400, "B: 2\r\n"}, {400, "\r\ntrue"}};
    TlsTestServer server(script);
    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, server.Url("/p"), 1), "");
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_LT(SecondsSince(start), 1.5);
    EXPECT_EQ(client.HTTPStatusCode(), 0);
}

TEST_F(HTTPSecureSocketTest, ACloseBeforeTheHeaderBlockEndsReturnsEverythingReceived) {
    const std::string partial = "HTTP/1.0 200 OK\r\nContent-Type: text/pl";
    TlsTestServer server(TlsTestServer::Reply(partial));
    HTTPSecureSocket client;
    EXPECT_EQ(Post(client, server.Url("/p"), 5), partial);
    EXPECT_EQ(client.ErrorCode(), 0);
    EXPECT_FALSE(client.PageHeaders());
    EXPECT_EQ(client.HTTPStatusCode(), 0);
}

TEST_F(HTTPSecureSocketTest, ACloseWithNothingOrOnlyHeadersReturnsTheEmptyBody) {
    for (const std::string& reply : {std::string(), std::string("HTTP/1.0 204 No Content\r\n\r\n")}) {
        TlsTestServer server(TlsTestServer::Reply(reply));
        HTTPSecureSocket client;
        EXPECT_EQ(Post(client, server.Url("/p"), 5), "");
        EXPECT_EQ(client.ErrorCode(), 0);
        EXPECT_TRUE(client.PageComplete());
    }
}

TEST_F(HTTPSecureSocketTest, ErrorStatusesReturnTheirBody) {
    for (const auto& [status, body] :
         std::vector<std::pair<int, std::string>>{{500, "true"}, {404, "not here"}, {401, "who?"}}) {
        TlsTestServer server(TlsTestServer::Reply("HTTP/1.1 " + std::to_string(status) + " Oops\r\n\r\n" + body));
        HTTPSecureSocket client;
        EXPECT_EQ(Post(client, server.Url("/p"), 5), body);
        EXPECT_EQ(client.HTTPStatusCode(), status);
        EXPECT_EQ(client.ErrorCode(), 0);
    }
}

TEST_F(HTTPSecureSocketTest, AContentLengthSmallerThanTheBodyLimitsNothing) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\nContent-length: 5\r\n\r\n0123456789AB"));
    HTTPSecureSocket client;
    EXPECT_EQ(Post(client, server.Url("/p"), 5), "0123456789AB");
}

TEST_F(HTTPSecureSocketTest, AConnectionThatBreaksWhileUpEndsTheReply) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\npart", Ending::Abort));
    HTTPSecureSocket client;
    EXPECT_EQ(Post(client, server.Url("/p"), 5), "part");
    EXPECT_EQ(client.ErrorCode(), 0);
}

TEST_F(HTTPSecureSocketTest, AServerThatNeverAnswersTheConnectionTimesOut) {
    TlsTestServer server(TlsTestServer::NeverHandshake());
    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, server.Url("/p"), 1), "");
    ExpectTimedOut(client, start);
}

TEST_F(HTTPSecureSocketTest, ASilenceLongerThanTheTimeOutAfterConnectingReturnsEmpty) {
    TlsTestServer::Script script;
    script.steps = {{2000, "HTTP/1.0 200 OK\r\n\r\ntrue"}};
    TlsTestServer server(script);
    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, server.Url("/p"), 1), "");
    ExpectTimedOut(client, start);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(HTTPSecureSocketTest, ABodyTrickledSlowerThanTheTimeOutAllowsInTotalArrivesWhole) {
    // Four seconds in all against a time-out of two: within the overall limit
    // of three times the time-out.
    TlsTestServer server(TlsTestServer::Trickle("HTTP/1.0 200 OK\r\n\r\n", "01234567", 500));
    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, server.Url("/p"), 2), "01234567");
    EXPECT_EQ(client.ErrorCode(), 0);
    EXPECT_GE(SecondsSince(start), 3.5);
}

TEST_F(HTTPSecureSocketTest, ABodyTrickledForeverEndsAtThreeTimesTheTimeOut) {
    // A byte every 100 ms for a minute: the time-out of 1 s never runs out.
    const std::string endless(600, 'x');
    TlsTestServer server(TlsTestServer::Trickle("HTTP/1.0 200 OK\r\n\r\n", endless, 100));
    HTTPSecureSocket client;
    const auto start = Clock::now();
    const std::string body = Post(client, server.Url("/p"), 1);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 3.0);
    EXPECT_LT(elapsed, 3.75);
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.PageComplete());
    // What came is kept.
    EXPECT_GE(body.size(), 10u);
    EXPECT_EQ(body, endless.substr(0, body.size()));
}

TEST_F(HTTPSecureSocketTest, ThirtyThousandCopiesOfOneHeaderAreReadWithinTheTimeOutAndAllKept) {
    std::string reply = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 30000; ++i) reply += "X-Flood: " + std::to_string(i) + "\r\n";
    reply += "\r\ntrue";
    TlsTestServer server(TlsTestServer::Reply(reply));
    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, server.Url("/p"), 1), "true");
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(client.ErrorCode(), 0);
    EXPECT_EQ(client.HTTPStatusCode(), 200);
    ASSERT_TRUE(client.PageHeaders());
    const InternetHeaders& headers = *client.PageHeaders();
    EXPECT_EQ(headers.Headers.Count(), 30000);
    EXPECT_EQ(headers.NameCount("X-Flood"), 30000);
    EXPECT_EQ(headers.Value("X-Flood"), "0");
    EXPECT_EQ(headers.Value("X-Flood:1"), "1");
    EXPECT_EQ(headers.Value("X-Flood:29999"), "29999");
    EXPECT_EQ(headers.Headers.Key(12345), "X-Flood:12345");
}

TEST_F(HTTPSecureSocketTest, AFirstAddressThatNeverAnswersLeavesTheLaunchReportsSecondForTheNext) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\ntrue"));
    const auto unanswered = testsupport::UnansweredListener::OnLoopback(server.Port());
    if (!unanswered) GTEST_SKIP() << "no address on which a listener can be left unanswered";
    SSLSocket::SetAddressesForTesting(TlsTestServer::kServiceName, {unanswered->Address(), "127.0.0.1"});

    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, server.Url("/www/ssl/kcheck.php", TlsTestServer::kServiceName), 1), "true");
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(client.ErrorCode(), 0);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].substr(0, 34), "POST /www/ssl/kcheck.php HTTP/1.0\r");
}

TEST_F(HTTPSecureSocketTest, AServerKeepingTheConnectionOpenAfterTheReplyTimesOutWithTheBody) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\ntrue", Ending::KeepOpen));
    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, server.Url("/p"), 1), "true");
    ExpectTimedOut(client, start);
}

TEST_F(HTTPSecureSocketTest, ABodyPastOneMebibyteIsCutAndTheConnectionClosed) {
    const std::string body(HTTPSecureSocket::kMaxBodyBytes + 100 * 1024, 'x');
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\n" + body, Ending::KeepOpen));
    HTTPSecureSocket client;
    const auto start = Clock::now();
    const std::string result = Post(client, server.Url("/p"), 10);
    EXPECT_EQ(result.size(), static_cast<std::size_t>(HTTPSecureSocket::kMaxBodyBytes));
    EXPECT_EQ(result, body.substr(0, result.size()));
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kBodyTooLarge);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_LT(SecondsSince(start), 5.0);

    // Exactly the limit is a complete reply.
    TlsTestServer exact(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\n" + body.substr(0, result.size())));
    HTTPSecureSocket second;
    EXPECT_EQ(Post(second, exact.Url("/p"), 10).size(), result.size());
    EXPECT_EQ(second.ErrorCode(), 0);
}

TEST_F(HTTPSecureSocketTest, ConnectionFailuresReturnEmptyWithTheSocketsCode) {
    struct Case {
        std::string name;
        TlsTestServer::Certificate certificate;
        std::int32_t code;
    };
    const Case cases[] = {
        {"another name", TlsTestServer::Certificate::OtherName, SSLSocket::kCertificateRejected},
        {"untrusted", TlsTestServer::Certificate::SelfSigned, SSLSocket::kCertificateRejected},
    };
    for (const Case& c : cases) {
        TlsTestServer::Script script = TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\ntrue");
        script.certificate = c.certificate;
        TlsTestServer server(script);
        HTTPSecureSocket client;
        EXPECT_EQ(Post(client, server.Url("/p", "localhost"), 10), "") << c.name;
        EXPECT_EQ(client.ErrorCode(), c.code) << c.name;
        EXPECT_TRUE(server.Requests().empty()) << c.name;
    }

    HTTPSecureSocket refused;
    auto start = Clock::now();
    EXPECT_EQ(Post(refused, "https://127.0.0.1:" + std::to_string(TlsTestServer::UnusedPort()) + "/p", 10), "");
    EXPECT_EQ(refused.ErrorCode(), SSLSocket::kConnectionFailed);
    EXPECT_LT(SecondsSince(start), 2.0);

    HTTPSecureSocket unresolved;
    start = Clock::now();
    EXPECT_EQ(Post(unresolved, "https://" + TlsTestServer::UnresolvableName() + "/www/ssl/vcheck.php", 10), "");
    EXPECT_EQ(unresolved.ErrorCode(), SSLSocket::kNameNotResolved);
    EXPECT_LT(SecondsSince(start), 5.0);
}

TEST_F(HTTPSecureSocketTest, TwoRequestsUseTwoConnections) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\ntrue"));
    for (int i = 0; i < 2; ++i) {
        HTTPSecureSocket client;
        EXPECT_EQ(Post(client, server.Url("/www/ssl/kcheck.php"), 1), "true");
        client.Close();
    }
    EXPECT_EQ(server.Connections(), 2);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[0], server.Requests()[1]);
}

}  // namespace
