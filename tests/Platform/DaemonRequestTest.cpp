// The daemon's request decoder and replies, the framing both sides share, and the client's
// side of the requests over a socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Platform/DaemonConnection.h"
#include "Platform/DaemonRequest.h"
#include "Platform/PropertyList.h"
#include "Support/TestRoots.h"

using namespace hvn;

namespace {

Value request(const std::string& selector, Array arguments) {
    return Value(Dictionary{{"selector", Value(selector)}, {"arguments", Value(std::move(arguments))}});
}

// The value as it arrives after a trip through a binary property list.
Value throughTheWire(const Value& v) {
    auto parsed = PropertyList::parse(PropertyList::serialize(v, PlistFormat::Binary));
    return parsed ? *parsed : Value();
}

std::string frame(const std::string& body) {
    const uint32_t n = static_cast<uint32_t>(body.size());
    std::string out{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                    static_cast<char>(n)};
    return out + body;
}

}  // namespace

TEST(DaemonRequestTest, EveryRequestComesBackAsItWasSentAndOddPathsKeepTheirBytes) {
    const std::string odd = "/home/u/Library/Caches/bad\xff\xfe name\nline";
    ASSERT_FALSE(DaemonPath::isValidUTF8(odd));

    DaemonRequest remove;
    remove.kind = DaemonRequest::Kind::RemoveFile;
    remove.flag = true;
    remove.paths = {{"/a/b", FileIdentity{64769, 1234}}, {odd, std::nullopt}};
    DaemonRequest lipo;
    lipo.kind = DaemonRequest::Kind::LipoApp;
    lipo.paths = {{odd, std::nullopt}, {"/Applications/X.app/Contents/MacOS/X", std::nullopt}};
    DaemonRequest sw;
    sw.kind = DaemonRequest::Kind::SetServerDisable;
    sw.path = odd;
    DaemonRequest asks;
    asks.kind = DaemonRequest::Kind::RespondsToSelector;
    asks.selector = kLipoAppSelector;
    DaemonRequest stop;

    for (const DaemonRequest& r : {remove, lipo, sw, asks, stop}) {
        std::string error;
        auto back = DaemonRequest::decode(throughTheWire(r.encode()), &error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(back->kind, r.kind);
        EXPECT_EQ(back->selector, r.selector);
        EXPECT_EQ(back->path, r.path);
        EXPECT_EQ(back->flag, r.flag);
        ASSERT_EQ(back->paths.size(), r.paths.size());
        for (size_t i = 0; i < r.paths.size(); ++i) {
            EXPECT_EQ(back->paths[i].path, r.paths[i].path);
            EXPECT_EQ(back->paths[i].foundIn, r.paths[i].foundIn);
        }
    }
    // The odd path went as data, the others as strings.
    const Value encoded = remove.encode();
    const Array& paths = encoded["arguments"].asArray()[0].asArray();
    EXPECT_TRUE(paths[0].isString());
    EXPECT_TRUE(paths[1].isData());
    // A batch that knows no folder sends the two-argument form.
    DaemonRequest plain = remove;
    for (auto& p : plain.paths) p.foundIn.reset();
    EXPECT_EQ(plain.encode()["arguments"].asArray().size(), 2u);
    // A stop request without arguments at all is taken too.
    EXPECT_TRUE(DaemonRequest::decode(Value(Dictionary{{"selector", Value("stopRemove")}})));
}

TEST(DaemonRequestTest, MalformedRequestsAreErrorsWithTheirReason) {
    const Value okPaths(Array{Value("/a")});
    Array tooMany(DaemonRequest::kMaxPaths + 1, Value("/a"));
    struct Case {
        const char* what;
        Value message;
        const char* reason;  // a part of the error text
    };
    const std::vector<Case> cases = {
        {"not a dictionary", Value(Array{Value("stopRemove")}), "not a dictionary"},
        {"no selector", Value(Dictionary{{"arguments", Value(Array{})}}), "no selector"},
        {"selector of another type", Value(Dictionary{{"selector", Value(3)}}), "no selector"},
        {"unknown selector", request("removeItem:", {}), "unrecognized selector removeItem:"},
        {"control bytes in an unknown selector", request("x\n\x1b", {}), "unrecognized selector x??"},
        {"arguments of another type",
         Value(Dictionary{{"selector", Value("stopRemove")}, {"arguments", Value("x")}}), "not an array"},
        {"stop with arguments", request("stopRemove", {Value(1)}), "takes no arguments"},
        {"remove without flag", request(kRemoveFileSelector, {okPaths}), "takes 2 or 3 arguments, not 1"},
        {"remove with a number flag", request(kRemoveFileSelector, {okPaths, Value(1)}),
         "argument 2 is not a bool"},
        {"remove of one string", request(kRemoveFileSelector, {Value("/a"), Value(true)}),
         "argument 1 is not an array"},
        {"empty path", request(kRemoveFileSelector, {Value(Array{Value("")}), Value(true)}), "argument 1"},
        {"path of another type", request(kRemoveFileSelector, {Value(Array{Value(5)}), Value(true)}),
         "argument 1"},
        {"NUL inside a path",
         request(kRemoveFileSelector, {Value(Array{Value(Data{'/', 'a', 0, 'b'})}), Value(true)}),
         "argument 1"},
        {"path too long",
         request(kLipoAppSelector,
                 {Value(Array{Value("/" + std::string(DaemonRequest::kMaxPathLength, 'a'))})}),
         "argument 1"},
        {"too many paths", request(kLipoAppSelector, {Value(tooMany)}), "at most 100000 paths"},
        {"found-in list of another length",
         request(kRemoveFileSelector, {okPaths, Value(false), Value(Array{Value("1:2"), Value("3:4")})}),
         "one found-in folder per path"},
        {"found-in without inode",
         request(kRemoveFileSelector, {okPaths, Value(false), Value(Array{Value("1:")})}),
         "<device>:<inode>"},
        {"found-in with letters",
         request(kRemoveFileSelector, {okPaths, Value(false), Value(Array{Value("1:2x")})}),
         "<device>:<inode>"},
        {"found-in as a number",
         request(kRemoveFileSelector, {okPaths, Value(false), Value(Array{Value(7)})}), "<device>:<inode>"},
        {"switch without flag", request(kSetServerDisableSelector, {Value("/x.plist")}), "takes 2"},
        {"switch of a list", request(kSetServerDisableSelector, {okPaths, Value(true)}),
         "argument 1 is not a path"},
        {"question without selector", request(kRespondsToSelector, {}), "takes 1"},
        {"question about a number", request(kRespondsToSelector, {Value(1)}), "argument 1 is not a selector"},
        {"question in bytes that are not text", request(kRespondsToSelector, {Value("lipo\xff:")}),
         "argument 1 is not a selector"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(DaemonRequest::decode(c.message, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
    // Paths the gate will judge are not judged here: relative ones and ".." pass.
    auto r =
        DaemonRequest::decode(request(kRemoveFileSelector, {Value(Array{Value("a/../b")}), Value(false)}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->paths[0].path, "a/../b");
}

TEST(DaemonRequestTest, OnlyRootAndTheServedUserAreServed) {
    EXPECT_TRUE(DaemonRequest::mayServe(0, 1000));
    EXPECT_TRUE(DaemonRequest::mayServe(1000, 1000));
    EXPECT_FALSE(DaemonRequest::mayServe(1001, 1000));
    EXPECT_FALSE(DaemonRequest::mayServe(65534, 1000));
    EXPECT_TRUE(DaemonRequest::mayServe(0, 0));
    EXPECT_FALSE(DaemonRequest::mayServe(1000, 0));
}

TEST(DaemonRequestTest, RepliesCarryRefusalsAndErrorsAsValidPropertyLists) {
    const std::string odd = "/h/bad\xc0\xaf";
    std::map<std::string, std::string> refused{{"/h", "Refusing to remove /h: it is a protected folder"},
                                               {odd, "Refusing to remove /h/bad\xc0\xaf: a link"}};
    Value reply = throughTheWire(DaemonReply::result(DaemonReply::removeFileResult(refused)));
    std::string error;
    auto result = DaemonReply::resultOf(reply, &error);
    ASSERT_TRUE(result) << error;
    auto back = DaemonReply::refusedPaths(*result);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.at("/h"), refused.at("/h"));
    // The path keeps its bytes; the reason, which is text, loses only what is not UTF-8.
    EXPECT_EQ(back.at(odd), "Refusing to remove /h/bad??: a link");

    Value e = throughTheWire(DaemonReply::error("no \xff here"));
    EXPECT_FALSE(DaemonReply::resultOf(e, &error));
    EXPECT_EQ(error, "no ? here");
    EXPECT_EQ(DaemonReply::resultOf(Value(Dictionary{})), Value());
    EXPECT_FALSE(DaemonReply::resultOf(Value("x")));
    EXPECT_TRUE(DaemonReply::refusedPaths(Value(true)).empty());
    // Malformed entries are skipped, good ones kept.
    Value mixed(Dictionary{
        {"refused", Value(Array{Value(1), Value(Dictionary{{"path", Value("/a")}}),
                                Value(Dictionary{{"path", Value("/b")}, {"reason", Value("r")}})})}});
    EXPECT_EQ(DaemonReply::refusedPaths(mixed), (std::map<std::string, std::string>{{"/b", "r"}}));
}

TEST(DaemonRequestTest, Utf8CheckRejectsOverlongSurrogateAndOutOfRangeForms) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"", true},
        {"plain /path", true},
        {"\xc3\xa9t\xc3\xa9", true},  // été
        {"\xe4\xb8\xad", true},       // 中
        {"\xf0\x9f\x98\x80", true},   // U+1F600
        {"\xf4\x8f\xbf\xbf", true},   // U+10FFFF
        {"\xc0\xaf", false},          // overlong "/"
        {"\xe0\x80\xaf", false},      // overlong "/"
        {"\xf0\x80\x80\xaf", false},  // overlong "/"
        {"\xed\xa0\x80", false},      // a surrogate
        {"\xf4\x90\x80\x80", false},  // past U+10FFFF
        {"\xc3", false},              // cut short
        {"\xe4\xb8", false},          // cut short
        {"\x80", false},              // a lone continuation byte
        {"\xc3\x28", false},          // no continuation
        {"\xff", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DaemonPath::isValidUTF8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    EXPECT_TRUE(DaemonPath::toValue("\xc3\xa9").isString());
    EXPECT_TRUE(DaemonPath::toValue("\xc0\xaf").isData());
    EXPECT_EQ(DaemonPath::fromValue(Value(3)), std::nullopt);
}

TEST(DaemonRequestTest, FramesAreFoundWholeOrWaitedForAndOversizedOnesAreToldApart) {
    const std::string f = frame("abc") + "rest";
    EXPECT_EQ(DaemonConnection::parseFrame(f.data(), 3).status, DaemonConnection::FrameStatus::Incomplete);
    EXPECT_EQ(DaemonConnection::parseFrame(f.data(), 6).status, DaemonConnection::FrameStatus::Incomplete);
    auto whole = DaemonConnection::parseFrame(f.data(), f.size());
    EXPECT_EQ(whole.status, DaemonConnection::FrameStatus::Complete);
    EXPECT_EQ(whole.bodyLength, 3u);
    const std::string big("\x01\x00\x00\x01", 4);
    auto over = DaemonConnection::parseFrame(big.data(), big.size(), 0x1000000);
    EXPECT_EQ(over.status, DaemonConnection::FrameStatus::Oversized);
    EXPECT_EQ(over.bodyLength, 0x1000001u);
    const std::string empty = frame("");
    EXPECT_EQ(DaemonConnection::parseFrame(empty.data(), empty.size()).status,
              DaemonConnection::FrameStatus::Complete);
}

TEST(DaemonRequestTest, ReadingAStreamTellsMalformedTruncatedOversizedAndClosedApart) {
    using RS = DaemonConnection::ReadStatus;
    auto pair = [] {
        std::array<int, 2> fds{};
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds.data()), 0);
        return fds;
    };
    auto send = [](int fd, const std::string& bytes) {
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    };
    const std::string good = PropertyList::serialize(Value(Dictionary{{"k", Value(1)}}), PlistFormat::Binary);

    // A body that is no property list, then a good message: the stream stays in step.
    auto fds = pair();
    send(fds[0], frame("not a plist") + frame("") + frame(good));
    EXPECT_EQ(DaemonConnection::readFrame(fds[1]).status, RS::Malformed);
    EXPECT_EQ(DaemonConnection::readFrame(fds[1]).status, RS::Malformed);
    auto r = DaemonConnection::readFrame(fds[1]);
    ASSERT_EQ(r.status, RS::Message) << r.errorText;
    EXPECT_EQ(r.message, Value(Dictionary{{"k", Value(1)}}));
    close(fds[0]);
    EXPECT_EQ(DaemonConnection::readFrame(fds[1]).status, RS::Closed);
    close(fds[1]);

    // Cut off inside the body, and inside the header.
    for (const std::string& part : {frame(good).substr(0, good.size()), std::string("\0\0", 2)}) {
        fds = pair();
        send(fds[0], part);
        close(fds[0]);
        r = DaemonConnection::readFrame(fds[1]);
        EXPECT_EQ(r.status, RS::Truncated) << r.errorText;
        close(fds[1]);
    }

    // A header announcing more than the reader takes: nothing of the body is waited for.
    fds = pair();
    send(fds[0], std::string("\x00\x10\x00\x01", 4));
    r = DaemonConnection::readFrame(fds[1], 0x100000);
    EXPECT_EQ(r.status, RS::Oversized);
    EXPECT_EQ(r.errorText, "malformed message length 1048577");
    close(fds[0]);
    close(fds[1]);

    // Nothing in time.
    fds = pair();
    timeval t{0, 1000};
    setsockopt(fds[1], SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    EXPECT_EQ(DaemonConnection::readFrame(fds[1]).status, RS::Failed);
    close(fds[0]);
    close(fds[1]);
}

namespace {

// A daemon on the test's socket that answers removals with a refusal of every path whose
// last component is "refuse-me", and records the requests.
class RecordingDaemon {
public:
    explicit RecordingDaemon(const std::string& path) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        if (bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(listen_, 4) == 0) {
            thread_ = std::thread([this] { serve(); });
        }
    }
    ~RecordingDaemon() {
        shutdown(listen_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(listen_);
    }
    std::vector<DaemonRequest> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<Value> raw() {
        std::lock_guard lock(mutex_);
        return raw_;
    }

private:
    void serve() {
        int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        while (auto message = DaemonConnection::readMessage(fd)) {
            auto r = DaemonRequest::decode(*message);
            {
                std::lock_guard lock(mutex_);
                raw_.push_back(*message);
                if (r) requests_.push_back(*r);
            }
            Value reply = DaemonReply::error("malformed");
            if (r && r->kind == DaemonRequest::Kind::RemoveFile) {
                std::map<std::string, std::string> refused;
                for (const auto& p : r->paths) {
                    if (p.path.size() >= 9 && p.path.substr(p.path.size() - 9) == "refuse-me") {
                        refused[p.path] = "Refusing to remove " + p.path + ": test";
                    }
                }
                reply = DaemonReply::result(DaemonReply::removeFileResult(refused));
            } else if (r) {
                reply = DaemonReply::result(true);
            }
            DaemonConnection::writeMessage(fd, reply);
        }
        close(fd);
    }

    int listen_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<DaemonRequest> requests_;
    std::vector<Value> raw_;
};

}  // namespace

TEST(DaemonRequestTest, TheClientSendsFoldersOddPathsAsDataSplitsLargeBatchesAndReadsRefusals) {
    test::TempRoots roots;
    RecordingDaemon daemon(DaemonConnection::socketPath());
    auto proxy = DaemonConnection::rootProxyForName();
    ASSERT_NE(proxy, nullptr);

    const std::string odd = "/h/x\xff/refuse-me";
    std::vector<RemovalBatch::Request> batch = {{"/h/a", FileIdentity{1, 2}}, {odd, std::nullopt}};
    for (int i = 0; i < 45000; ++i) batch.push_back({"/h/many/" + std::to_string(i), FileIdentity{1, 3}});
    auto refused = proxy->removeFileFoundIn(batch, true);
    EXPECT_EQ(refused,
              (std::map<std::string, std::string>{{odd, "Refusing to remove /h/x?/refuse-me: test"}}));

    // The old form and the other requests still go through.
    proxy->removeFile({"/h/b"}, false);
    proxy->lipoApp({odd});
    EXPECT_TRUE(proxy->setServerDisable(odd, true));

    auto requests = daemon.requests();
    ASSERT_EQ(requests.size(), 6u);
    size_t sent = 0;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(requests[i].kind, DaemonRequest::Kind::RemoveFile);
        EXPECT_TRUE(requests[i].flag);
        EXPECT_LE(requests[i].paths.size(), 20000u);
        sent += requests[i].paths.size();
    }
    EXPECT_EQ(sent, batch.size());
    EXPECT_EQ(requests[0].paths[0].foundIn, (FileIdentity{1, 2}));
    EXPECT_EQ(requests[0].paths[1].path, odd);
    EXPECT_EQ(requests[0].paths[1].foundIn, std::nullopt);
    EXPECT_EQ(requests[2].paths.back().path, "/h/many/44999");
    EXPECT_TRUE(daemon.raw()[0]["arguments"].asArray()[0].asArray()[1].isData());
    EXPECT_EQ(requests[3].paths.size(), 1u);
    EXPECT_FALSE(requests[3].flag);
    EXPECT_EQ(requests[4].kind, DaemonRequest::Kind::LipoApp);
    EXPECT_EQ(requests[4].paths[0].path, odd);
    EXPECT_EQ(requests[5].path, odd);
}
