// The HTTP requests the usage statistics go through, against a loopback server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <thread>

#include "Platform/HTTPRequest.h"
#include "Platform/RunLoop.h"
#include "Support/LoopbackHttpServer.h"

using hvn::HTTPRequest;
using hvn::HTTPRequestOptions;
using hvn::HTTPResponse;
using hvn::test::LoopbackHttpServer;

namespace {

class HTTPRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        ASSERT_TRUE(server.running());
        hvn::RunLoop::main().reset();
        hvn::RunLoop::main().bindToCurrentThread();
    }

    // Starts a request and runs the main loop until its completion has run (at most 10 s).
    std::optional<HTTPResponse> fetch(const std::string& url, const HTTPRequestOptions& options = {}) {
        std::optional<HTTPResponse> got;
        HTTPRequest::get(url, options, [&](const HTTPResponse& r) { got = r; });
        hvn::RunLoop::main().runUntil([&] { return got.has_value(); }, 10);
        return got;
    }

    LoopbackHttpServer server;
};

}  // namespace

TEST_F(HTTPRequestTest, AnswersOnTheMainThreadWithStatusFieldsAndBody) {
    LoopbackHttpServer::Reply reply;
    reply.status = 404;
    reply.body = "not here";
    reply.fields = {{"X-Thing", "one"}};
    server.setDefaultReply(reply);

    HTTPRequestOptions options;
    options.headerFields = {{"Accept-Language", "fr-ch"}, {"X-Empty", ""}};
    bool ran = false;
    std::thread::id ranOn;
    HTTPResponse got;
    auto request = HTTPRequest::get(server.url("/page?q=1"), options, [&](const HTTPResponse& r) {
        ran = true;
        ranOn = std::this_thread::get_id();
        got = r;
    });
    EXPECT_FALSE(ran) << "the completion must not run inside get()";
    EXPECT_FALSE(request->isFinished());
    ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return ran; }, 10));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(request->isFinished());

    // A status of an error is still an answer.
    EXPECT_TRUE(got.ok()) << got.error;
    EXPECT_EQ(got.statusCode, 404);
    EXPECT_EQ(got.body, "not here");
    EXPECT_EQ(got.headerField("x-thing"), std::optional<std::string>("one"));
    EXPECT_EQ(got.headerField("DATE"), std::optional<std::string>("Wed, 14 May 2014 12:00:00 GMT"));
    EXPECT_FALSE(got.headerField("X-Missing"));

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/page?q=1");
    EXPECT_EQ(requests[0].headerValues("Accept-Language"), std::vector<std::string>{"fr-ch"});
    EXPECT_EQ(requests[0].headerValues("X-Empty"), std::vector<std::string>{""});
}

TEST_F(HTTPRequestTest, ABodyPastTheBoundFailsWithOrWithoutALength) {
    HTTPRequestOptions options;
    options.maxResponseBytes = 1000;
    for (bool withLength : {true, false}) {
        LoopbackHttpServer::Reply reply;
        reply.body = std::string(200000, 'x');
        reply.contentLength = withLength;
        server.setDefaultReply(reply);
        auto got = fetch(server.url("/big"), options);
        ASSERT_TRUE(got) << "no answer, withLength " << withLength;
        EXPECT_FALSE(got->ok()) << "withLength " << withLength;
        EXPECT_NE(got->error.find("larger than 1000 bytes"), std::string::npos) << got->error;
        EXPECT_TRUE(got->body.empty());
    }
    // Exactly at the bound is fine.
    LoopbackHttpServer::Reply reply;
    reply.body = std::string(1000, 'y');
    reply.contentLength = false;
    server.setDefaultReply(reply);
    auto got = fetch(server.url("/edge"), options);
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->ok()) << got->error;
    EXPECT_EQ(got->body.size(), 1000u);
}

TEST_F(HTTPRequestTest, HeadersOnlyEndsAfterTheHeaderWhateverTheBody) {
    LoopbackHttpServer::Reply reply;
    reply.body = std::string(3 * 1024 * 1024, 'z');
    server.setDefaultReply(reply);
    HTTPRequestOptions options;
    options.headersOnly = true;
    options.maxResponseBytes = 10;
    auto got = fetch(server.url("/"), options);
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->ok()) << got->error;
    EXPECT_EQ(got->statusCode, 200);
    EXPECT_TRUE(got->body.empty());
    EXPECT_TRUE(got->headerField("Date"));
}

TEST_F(HTTPRequestTest, RedirectsAreFollowedAndOnlyTheLastResponseCounts) {
    LoopbackHttpServer::Reply first;
    first.status = 302;
    first.fields = {{"Location", "/final"}, {"X-Which", "first"}};
    first.body = "";
    server.setReply("/start", first);
    LoopbackHttpServer::Reply last;
    last.fields = {{"X-Which", "final"}};
    last.body = "arrived";
    server.setReply("/final", last);

    auto got = fetch(server.url("/start"));
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->ok()) << got->error;
    EXPECT_EQ(got->body, "arrived");
    int which = 0;
    for (const auto& [name, value] : got->headerFields) {
        if (name == "X-Which") {
            ++which;
            EXPECT_EQ(value, "final");
        }
    }
    EXPECT_EQ(which, 1);
    EXPECT_EQ(server.targets(), (std::vector<std::string>{"/start", "/final"}));

    // A redirect may not leave http and https.
    first.fields = {{"Location", "file:///etc/passwd"}};
    server.setReply("/start", first);
    got = fetch(server.url("/start"));
    ASSERT_TRUE(got);
    EXPECT_FALSE(got->ok());
}

TEST_F(HTTPRequestTest, UnsafeRequestsAreRefusedWithoutAConnectionAndStillAnsweredLater) {
    HTTPRequestOptions injected;
    injected.headerFields = {{"Accept-Language", "en\r\nX-Injected: 1"}};
    HTTPRequestOptions badName;
    badName.headerFields = {{"Bad Name", "x"}};
    struct Case {
        std::string url;
        HTTPRequestOptions options;
    } cases[] = {
        {"ftp://127.0.0.1:" + std::to_string(server.port()) + "/", {}},
        {"file:///etc/hostname", {}},
        {server.url("/a b"), {}},
        {server.url("/x\r\nHost: elsewhere"), {}},
        {server.url("/"), injected},
        {server.url("/"), badName},
    };
    for (const auto& c : cases) {
        bool ran = false;
        HTTPResponse got;
        HTTPRequest::get(c.url, c.options, [&](const HTTPResponse& r) {
            ran = true;
            got = r;
        });
        EXPECT_FALSE(ran);
        ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return ran; }, 10)) << c.url;
        EXPECT_FALSE(got.ok()) << c.url;
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(HTTPRequestTest, ASilentServerTimesOut) {
    LoopbackHttpServer::Reply reply;
    reply.hang = true;
    server.setDefaultReply(reply);
    HTTPRequestOptions options;
    options.totalTimeoutSeconds = 0.3;
    auto got = fetch(server.url("/slow"), options);
    ASSERT_TRUE(got) << "the request did not end";
    EXPECT_FALSE(got->ok());
    EXPECT_TRUE(got->body.empty());
}

TEST_F(HTTPRequestTest, ACancelledRequestNeverAnswersAndLeavesTheCount) {
    LoopbackHttpServer::Reply reply;
    reply.hang = true;
    server.setDefaultReply(reply);
    const size_t before = HTTPRequest::inFlightCount();
    HTTPRequestOptions options;
    options.totalTimeoutSeconds = 0.5;
    bool ran = false;
    auto request = HTTPRequest::get(server.url("/slow"), options, [&](const HTTPResponse&) { ran = true; });
    EXPECT_EQ(HTTPRequest::inFlightCount(), before + 1);
    // Wait until the server holds the request, so the transfer is really under way.
    ASSERT_TRUE(hvn::RunLoop::main().runUntil([&] { return !server.requests().empty(); }, 10));
    request->cancel();
    request->cancel();
    EXPECT_TRUE(request->isFinished());
    EXPECT_EQ(HTTPRequest::inFlightCount(), before);
    // Past the request's own timeout its answer would have come.
    hvn::RunLoop::main().runUntil([] { return false; }, 1.5);
    EXPECT_FALSE(ran);
    EXPECT_EQ(HTTPRequest::inFlightCount(), before);
}

TEST_F(HTTPRequestTest, AnAnsweredRequestLeavesTheCount) {
    const size_t before = HTTPRequest::inFlightCount();
    auto got = fetch(server.url("/"));
    ASSERT_TRUE(got);
    EXPECT_EQ(HTTPRequest::inFlightCount(), before);
}

TEST(HTTPRequestText, PercentEncodingKeepsOnlyUnreservedCharacters) {
    EXPECT_EQ(HTTPRequest::percentEncode("2.2.0"), "2.2.0");
    EXPECT_EQ(HTTPRequest::percentEncode("a b&c=d/e?f#g%"), "a%20b%26c%3Dd%2Fe%3Ff%23g%25");
    EXPECT_EQ(HTTPRequest::percentEncode("~-._AZaz09"), "~-._AZaz09");
    EXPECT_EQ(HTTPRequest::percentEncode("\xc3\xa9\r\n"), "%C3%A9%0D%0A");
    EXPECT_EQ(HTTPRequest::percentEncode(std::string("\0\xff", 2)), "%00%FF");
    EXPECT_EQ(HTTPRequest::percentEncode(""), "");
}

TEST(HTTPRequestText, DatesParseInTheFormatsOfTheDateField) {
    auto at = [](const char* text) { return HTTPRequest::parseDate(text); };
    ASSERT_TRUE(at("Wed, 14 May 2014 12:00:00 GMT"));
    EXPECT_EQ(at("Wed, 14 May 2014 12:00:00 GMT")->secondsSince1970, 1400068800.0);
    ASSERT_TRUE(at("Sunday, 06-Nov-94 08:49:37 GMT"));
    EXPECT_EQ(at("Sunday, 06-Nov-94 08:49:37 GMT")->secondsSince1970, 784111777.0);
    ASSERT_TRUE(at("Sun Nov  6 08:49:37 1994"));
    EXPECT_EQ(at("Sun Nov  6 08:49:37 1994")->secondsSince1970, 784111777.0);
    EXPECT_FALSE(at(""));
    EXPECT_FALSE(at("   "));
    EXPECT_FALSE(at("not a date"));
    EXPECT_FALSE(HTTPRequest::parseDate(std::string("Wed, 14 May 2014\0 12:00:00 GMT", 30)));
}
