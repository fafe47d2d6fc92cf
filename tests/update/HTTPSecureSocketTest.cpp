#include "update/HTTPSecureSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dictionary.h"
#include "platform/Ref.h"
#include "tests/support/TestClock.h"
#include "tests/support/TlsTestServer.h"
#include "update/InternetHeaders.h"

namespace {

using halvoric::HTTPSecureSocket;
using halvoric::InternetHeaders;
using platform::SSLSocket;
using testsupport::TestClock;
using testsupport::TlsTestServer;
using testsupport::WaitUntil;
using Clock = std::chrono::steady_clock;
using Ending = TlsTestServer::Ending;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
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

// Counts the copies that the table is asked to count: the work a parse does
// to number repeated names.
class CountingHeaders : public InternetHeaders {
public:
    std::int32_t NameCount(std::string_view name) const override {
        const std::int32_t count = InternetHeaders::NameCount(name);
        copiesCounted += count;
        return count;
    }
    mutable std::int64_t copiesCounted = 0;
};

// A reply header block of at least `bytes` bytes: the status line, then lines
// of one name over and over with another name on every thousandth line.
std::string RepeatedHeaderBlock(std::int64_t bytes, int& lines) {
    std::string block = "HTTP/1.1 200 OK\r\n";
    lines = 0;
    while (static_cast<std::int64_t>(block.size()) < bytes) {
        block += lines % 1000 == 999 ? "Other: z\r\n" : "A: v\r\n";
        ++lines;
    }
    return block;
}

TEST(InternetHeadersTest, AHeaderBlockAsLargeAsTheBodyLimitIsReadInLinearWork) {
    // Numbering the copies of a name costs no more than a copy counted per
    // line. Counting them again for each line grows with the square of the
    // lines: the block as large as the body limit, about 170 000 lines, took
    // hours. Counted rather than timed, so that the verdict does not depend
    // on the machine; a block of some thousand lines shows it at once.
    int lines = 0;
    const auto parse = [&lines](std::int64_t bytes, CountingHeaders& headers) {
        headers.AppendHeader("A", "before");
        headers.copiesCounted = 0;
        headers.ParseHeaders(RepeatedHeaderBlock(bytes, lines));
    };
    {
        CountingHeaders headers;
        parse(32 * 1024, headers);
        ASSERT_LE(headers.copiesCounted, lines);
    }
    CountingHeaders headers;
    parse(HTTPSecureSocket::kMaxBodyBytes - 16, headers);
    EXPECT_LE(headers.copiesCounted, lines);
    EXPECT_EQ(headers.Headers.Count(), lines + 1);
    EXPECT_EQ(headers.InternetHeaders::NameCount("Other"), lines / 1000);
    EXPECT_EQ(headers.InternetHeaders::NameCount("A"), lines - lines / 1000 + 1);
    EXPECT_EQ(headers.Value("A"), "before");
    EXPECT_TRUE(headers.Headers.HasKey("A:" + std::to_string(lines - lines / 1000)));
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
    // Posts the update check's form to `url` the way the owner does, with the
    // connection settings `settings`.
    std::string Post(HTTPSecureSocket& client, const std::string& url, int timeoutSeconds,
                     platform::Ref<platform::Dictionary> form = UpdateCheckForm()) {
        client.SetSecure(true);
        client.SetConnectionSettings(settings);
        client.SetFormData(form);
        return client.Post(url, timeoutSeconds);
    }

    platform::ConnectionSettings settings = TlsTestServer::TrustingSettings();
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

TEST_F(HTTPSecureSocketTest, ThirtyThousandCopiesOfOneHeaderAreAllKept) {
    // (The work their numbering takes is counted by InternetHeadersTest.)
    std::string reply = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 30000; ++i) reply += "X-Flood: " + std::to_string(i) + "\r\n";
    reply += "\r\ntrue";
    TlsTestServer server(TlsTestServer::Reply(reply));
    HTTPSecureSocket client;
    EXPECT_EQ(Post(client, server.Url("/p"), 10), "true");
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

TEST_F(HTTPSecureSocketTest, ABodyPastOneMebibyteIsCutAndTheConnectionClosed) {
    const std::string body(HTTPSecureSocket::kMaxBodyBytes + 100 * 1024, 'x');
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\n" + body, Ending::KeepOpen));
    HTTPSecureSocket client;
    const std::string result = Post(client, server.Url("/p"), 10);
    EXPECT_EQ(result.size(), static_cast<std::size_t>(HTTPSecureSocket::kMaxBodyBytes));
    EXPECT_EQ(result, body.substr(0, result.size()));
    // Ended by the cut (the server keeps the connection open), not by the
    // time-out, which would have set its own code.
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kBodyTooLarge);
    EXPECT_FALSE(client.IsConnected());

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

    // Each ends with the socket's code as soon as the socket reports it; a
    // wait for the time-out would have ended with the time-out's code.
    HTTPSecureSocket refused;
    EXPECT_EQ(Post(refused, "https://127.0.0.1:" + std::to_string(TlsTestServer::UnusedPort()) + "/p", 10), "");
    EXPECT_EQ(refused.ErrorCode(), SSLSocket::kConnectionFailed);

    HTTPSecureSocket unresolved;
    EXPECT_EQ(Post(unresolved, "https://" + TlsTestServer::UnresolvableName() + "/www/ssl/vcheck.php", 10), "");
    EXPECT_EQ(unresolved.ErrorCode(), SSLSocket::kNameNotResolved);
}

TEST_F(HTTPSecureSocketTest, TwoRequestsUseTwoConnections) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\ntrue"));
    for (int i = 0; i < 2; ++i) {
        HTTPSecureSocket client;
        EXPECT_EQ(Post(client, server.Url("/www/ssl/kcheck.php"), 10), "true");
        client.Close();
    }
    EXPECT_EQ(server.Connections(), 2);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[0], server.Requests()[1]);
}

// ---- the wait's rules, to the tick -------------------------------------------------------

// A client whose connection is played from a script instead of the network:
// each Poll after Connect moves the test clock on by one tick, then plays what
// the script holds for that pass. The pass on which Post returns is thus the
// tick at which the wait ended.
class ScriptedClient : public HTTPSecureSocket {
public:
    enum class Kind { Connected, Bytes, Closed };
    struct Event {
        std::int64_t pass;
        Kind kind;
        std::string bytes;
    };

    ScriptedClient(TestClock& clock, std::vector<Event> script) : clock_(clock), script_(std::move(script)) { SetClock(clock); }

    // Posts the update check's form with `timeoutSeconds`.
    std::string PostWith(std::int32_t timeoutSeconds) {
        SetFormData(UpdateCheckForm());
        return Post("https://service.example/p", timeoutSeconds);
    }

    std::int64_t passes = 0;         // Polls since Connect, one tick each
    std::int64_t closedAtPass = -1;  // when the client closed the connection itself
    std::string written;

    void Connect() override { connecting_ = true; }
    void Poll() override {
        if (!connecting_) return;
        // A wait that would never end fails the test instead of hanging it.
        if (passes >= 100000) throw std::runtime_error("the wait did not end");
        clock_.AdvanceTicks(1);
        ++passes;
        for (const Event& event : script_) {
            if (event.pass != passes || ended_) continue;
            switch (event.kind) {
                case Kind::Connected: Event_Connected(); break;
                case Kind::Bytes:
                    unread_ += event.bytes;
                    Event_DataAvailable();
                    break;
                case Kind::Closed:
                    ended_ = true;
                    Event_Error();
                    break;
            }
        }
    }
    const std::string& Lookahead() const override { return unread_; }
    std::string Read(std::int64_t count) override {
        std::string taken = unread_.substr(0, static_cast<std::size_t>(count));
        unread_.erase(0, taken.size());
        return taken;
    }
    std::string ReadAll() override { return Read(static_cast<std::int64_t>(unread_.size())); }
    void Write(std::string_view data) override { written += data; }
    void Purge() override { unread_.clear(); }
    void Close() override {
        if (connecting_ && !ended_) closedAtPass = passes;
        ended_ = ended_ || connecting_;
    }

private:
    TestClock& clock_;
    std::vector<Event> script_;
    bool connecting_ = false;
    bool ended_ = false;
    std::string unread_;
};

using Kind = ScriptedClient::Kind;
const std::string kReplyHead = "HTTP/1.0 200 OK\r\n\r\n";

class HTTPSecureSocketWaitTest : public ::testing::Test {
protected:
    TestClock clock;
};

TEST_F(HTTPSecureSocketWaitTest, TheTimeOutEndsTheFirstPassMoreThanItsTicksAfterTheStart) {
    for (const int seconds : {1, 2, 10}) {
        ScriptedClient client(clock, {});
        EXPECT_EQ(client.PostWith(seconds), "");
        EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
        // Sixty ticks a second, and the test is strict: the pass at exactly
        // that many ticks still waits.
        EXPECT_EQ(client.passes, 60 * seconds + 1) << seconds;
        EXPECT_EQ(client.closedAtPass, client.passes);
        EXPECT_EQ(client.written, "");
    }
}

TEST_F(HTTPSecureSocketWaitTest, TheConnectionComingUpRestartsTheTimeOut) {
    ScriptedClient client(clock, {{50, Kind::Connected}});
    EXPECT_EQ(client.PostWith(1), "");
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_EQ(client.passes, 50 + 61);
    EXPECT_EQ(client.closedAtPass, client.passes);
    EXPECT_EQ(client.written.rfind("POST /p HTTP/1.0\r\n", 0), 0u);
}

TEST_F(HTTPSecureSocketWaitTest, HeaderBytesDoNotRestartTheTimeOut) {
    // Pieces of the header block well within a second of each other; its
    // blank line would come after the second since the connection.
    ScriptedClient client(clock, {{10, Kind::Connected},
                                  {20, Kind::Bytes, "HTTP/1.0 200 OK\r\n"},
                                  {40, Kind::Bytes, "A: 1\r\n"},
                                  {60, Kind::Bytes, "B: 2\r\n"},
                                  {70, Kind::Bytes, "C: 3\r\n"},
                                  {80, Kind::Bytes, "\r\ntrue"},
                                  {90, Kind::Closed}});
    EXPECT_EQ(client.PostWith(1), "");
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_EQ(client.passes, 10 + 61);
    EXPECT_EQ(client.HTTPStatusCode(), 0);
    EXPECT_FALSE(client.PageHeaders());
}

TEST_F(HTTPSecureSocketWaitTest, EachGrowthOfTheBodyRestartsTheTimeOut) {
    // Two seconds: 120 ticks, and the overall limit at 360.
    ScriptedClient stalled(clock, {{1, Kind::Connected},
                                   {2, Kind::Bytes, kReplyHead + "a"},
                                   {100, Kind::Bytes, "b"},
                                   {200, Kind::Bytes, "c"}});
    EXPECT_EQ(stalled.PostWith(2), "abc");
    EXPECT_EQ(stalled.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_EQ(stalled.passes, 200 + 121);
    EXPECT_EQ(stalled.closedAtPass, stalled.passes);

    // Growing just within the time-out each time, until the server closes.
    ScriptedClient steady(clock, {{1, Kind::Connected},
                                  {2, Kind::Bytes, kReplyHead + "a"},
                                  {122, Kind::Bytes, "b"},
                                  {242, Kind::Bytes, "c"},
                                  {359, Kind::Closed}});
    EXPECT_EQ(steady.PostWith(2), "abc");
    EXPECT_EQ(steady.ErrorCode(), 0);
    EXPECT_TRUE(steady.PageComplete());
    EXPECT_EQ(steady.passes, 359);
    EXPECT_EQ(steady.closedAtPass, -1);
}

TEST_F(HTTPSecureSocketWaitTest, ARequestEndsAtThreeTimesItsTimeOutHoweverSteadilyTheBodyGrows) {
    std::vector<ScriptedClient::Event> script = {{1, Kind::Connected}, {2, Kind::Bytes, kReplyHead}};
    for (std::int64_t pass = 30; pass <= 3000; pass += 30) script.push_back({pass, Kind::Bytes, "x"});
    for (const int seconds : {1, 2}) {
        ScriptedClient client(clock, script);
        const std::string body = client.PostWith(seconds);
        EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
        EXPECT_EQ(client.passes, 3 * 60 * seconds) << seconds;
        EXPECT_EQ(client.closedAtPass, client.passes);
        EXPECT_EQ(body, std::string(static_cast<std::size_t>(client.passes / 30), 'x'));
    }
}

TEST_F(HTTPSecureSocketWaitTest, ATimeOutOfZeroOrLessSetsNeitherLimit) {
    for (const int seconds : {0, -1}) {
        ScriptedClient client(clock, {{1000, Kind::Connected},
                                      {5000, Kind::Bytes, kReplyHead + "true"},
                                      {20000, Kind::Closed}});
        EXPECT_EQ(client.PostWith(seconds), "true");
        EXPECT_EQ(client.ErrorCode(), 0);
        EXPECT_EQ(client.passes, 20000);
        EXPECT_EQ(client.closedAtPass, -1);
    }
}

// ---- the same rules in real time, against a test server --------------------------------

// Upper bounds give the client this much time, beyond the wait itself, to
// notice that the wait has ended: the margin for a slow, loaded machine.
constexpr double kMarginSeconds = 2.0;

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// A post to a test server, timed from the moment the server had read the
// request.
struct TimedPost {
    std::string body;
    double secondsAfterTheRequest = -1;  // negative: no request was read
};

// Posts with `timeoutSeconds` to a server that plays `script`. The test clock
// is set running in real time the moment the server has read the request; the
// tests that leave it standing until then do not count the time the
// connection takes to come up on this machine, however long that is.
TimedPost PostTimedFromTheRequest(HTTPSecureSocket& client, TlsTestServer::Script script, TestClock& clock,
                                  int timeoutSeconds) {
    script.onRequest = [&clock] { clock.Run(); };
    TlsTestServer server(script);
    client.SetConnectionSettings(TlsTestServer::TrustingSettings());
    client.SetClock(clock);
    client.SetFormData(UpdateCheckForm());
    TimedPost post;
    post.body = client.Post(server.Url("/p"), timeoutSeconds);
    const auto end = Clock::now();
    const auto read = server.RequestTimes();
    if (read.size() == 1) post.secondsAfterTheRequest = SecondsBetween(read[0], end);
    return post;
}

// A post that the time-out (or the overall limit) ended `seconds` after the
// request was read, give or take the margin, with the socket closed.
void ExpectTimedOutAfter(const HTTPSecureSocket& client, const TimedPost& post, double seconds) {
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_GE(post.secondsAfterTheRequest, seconds);
    EXPECT_LT(post.secondsAfterTheRequest, seconds + kMarginSeconds);
}

TEST_F(HTTPSecureSocketTest, AServerThatNeverAnswersTheConnectionTimesOut) {
    // On the real clock throughout. Nothing answers the TCP connection, so the
    // client has nothing to do but wait: setting up TLS, which can take
    // seconds on a loaded machine under the sanitizers, could outlast the
    // second, and no time-out ends a Poll in the middle of it.
    const int port = TlsTestServer::UnusedPort();
    const auto unanswered = testsupport::UnansweredListener::OnLoopback(port);
    if (!unanswered) GTEST_SKIP() << "no address on which a listener can be left unanswered";
    settings = TlsTestServer::TrustingSettings({unanswered->Address()});
    HTTPSecureSocket client;
    const auto start = Clock::now();
    EXPECT_EQ(Post(client, "https://" + std::string(TlsTestServer::kServiceName) + ":" + std::to_string(port) + "/p", 1),
              "");
    const double elapsed = SecondsSince(start);
    EXPECT_EQ(client.ErrorCode(), HTTPSecureSocket::kTimedOut);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_GE(elapsed, 1.0);
    EXPECT_LT(elapsed, 1.0 + kMarginSeconds);
}

TEST_F(HTTPSecureSocketTest, ASilenceAfterConnectingTimesOutThatLongAfterTheConnection) {
    // The server reads the request and never answers. Connecting takes one
    // second of the test clock, moved on as the server starts the handshake,
    // before the connection can come up. So a time-out that runs from the
    // connection has all of its two seconds left once the request is read;
    // one that ran from the start would have used up the first second.
    TestClock clock;
    TlsTestServer::Script script = TlsTestServer::Reply("", Ending::KeepOpen);
    script.onHandshake = [&clock] { clock.Advance(std::chrono::seconds(1)); };
    HTTPSecureSocket client;
    const TimedPost post = PostTimedFromTheRequest(client, script, clock, 2);
    EXPECT_EQ(post.body, "");
    ExpectTimedOutAfter(client, post, 2.0);
}

TEST_F(HTTPSecureSocketTest, AServerKeepingTheConnectionOpenAfterTheReplyTimesOutWithTheBody) {
    TestClock clock;
    HTTPSecureSocket client;
    const TimedPost post =
        PostTimedFromTheRequest(client, TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\ntrue", Ending::KeepOpen), clock, 1);
    EXPECT_EQ(post.body, "true");
    // The body came after the request was read; the second ran from there.
    ExpectTimedOutAfter(client, post, 1.0);
}

TEST_F(HTTPSecureSocketTest, ABodyTrickledLongerThanTheTimeOutArrivesWhole) {
    // Three seconds in all against a time-out of two, each byte well within
    // it, and within the overall limit of six.
    TestClock clock;
    HTTPSecureSocket client;
    const TimedPost post =
        PostTimedFromTheRequest(client, TlsTestServer::Trickle("HTTP/1.0 200 OK\r\n\r\n", "012345", 500), clock, 2);
    EXPECT_EQ(post.body, "012345");
    EXPECT_EQ(client.ErrorCode(), 0);
    EXPECT_GE(post.secondsAfterTheRequest, 3.0);
}

TEST_F(HTTPSecureSocketTest, ABodyTrickledForeverEndsAtThreeTimesTheTimeOut) {
    // A byte every 100 ms for a minute: the time-out of 1 s never runs out.
    TestClock clock;
    const std::string endless(600, 'x');
    HTTPSecureSocket client;
    const TimedPost post =
        PostTimedFromTheRequest(client, TlsTestServer::Trickle("HTTP/1.0 200 OK\r\n\r\n", endless, 100), clock, 1);
    ExpectTimedOutAfter(client, post, 3.0);
    EXPECT_FALSE(client.PageComplete());
    // What came is kept.
    EXPECT_GE(post.body.size(), 10u);
    EXPECT_EQ(post.body, endless.substr(0, post.body.size()));
}

TEST_F(HTTPSecureSocketTest, HeaderBytesDoNotRestartTheTimeOut) {
    // Pieces of the header block every 250 ms, for longer than the overall
    // limit: the time-out of 1 s runs out before the blank line comes, since
    // nothing reaches the body. Were the pieces taken as progress, only the
    // overall limit (3 s) or the body would end the wait.
    TestClock clock;
    TlsTestServer::Script script;
    script.steps.push_back({0, "HTTP/1.0 200 OK\r\n"});
    for (int piece = 0; piece < 13; ++piece) script.steps.push_back({250, "A" + std::to_string(piece) + ": v\r\n"});
    script.steps.push_back({250, "\r\ntrue"});
    HTTPSecureSocket client;
    const TimedPost post = PostTimedFromTheRequest(client, script, clock, 1);
    EXPECT_EQ(post.body, "");
    EXPECT_EQ(client.HTTPStatusCode(), 0);
    ExpectTimedOutAfter(client, post, 1.0);
}

TEST_F(HTTPSecureSocketTest, AFirstAddressThatNeverAnswersLeavesTheLaunchReportsSecondForTheNext) {
    TlsTestServer server(TlsTestServer::Reply("HTTP/1.0 200 OK\r\n\r\ntrue"));
    const auto unanswered = testsupport::UnansweredListener::OnLoopback(server.Port());
    if (!unanswered) GTEST_SKIP() << "no address on which a listener can be left unanswered";
    settings = TlsTestServer::TrustingSettings({unanswered->Address(), "127.0.0.1"});

    // The clock moves only by the quarter second after which the next address
    // is tried: the report must get through within its second however long
    // the handshake takes here. Should no connection come, the clock is moved
    // past the second, and the report times out.
    TestClock clock;
    const std::int64_t start = clock.Ticks();
    bool connected = false;
    std::thread mover([&] {
        clock.WaitForReads(50);  // the client polls: its first attempt is under way
        clock.Advance(std::chrono::milliseconds(250));
        connected = WaitUntil([&] { return server.Connections() > 0; });
        if (!connected) clock.SetTicks(start + 61);
    });
    HTTPSecureSocket client;
    client.SetClock(clock);
    const std::string body = Post(client, server.Url("/www/ssl/kcheck.php", TlsTestServer::kServiceName), 1);
    mover.join();
    EXPECT_TRUE(connected) << "the next address was not tried a quarter second after the first";
    EXPECT_EQ(body, "true");
    EXPECT_EQ(client.ErrorCode(), 0);
    EXPECT_LT(clock.Ticks() - start, 60);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].substr(0, 34), "POST /www/ssl/kcheck.php HTTP/1.0\r");
}

}  // namespace
