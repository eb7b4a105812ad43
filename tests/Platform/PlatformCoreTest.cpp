#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Platform/Crypto.h"
#include "Platform/NotificationCenter.h"
#include "Platform/OperationQueue.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"
#include "Platform/RunLoop.h"
#include "Support/TestRoots.h"

using namespace hvn;

TEST(ValueTest, PlistRoundTripKeepsEveryTypeInXmlAndBinary) {
    Dictionary d;
    d["bool"] = true;
    d["int"] = -5;
    d["big"] = static_cast<long long>(1) << 40;
    d["real"] = 2.5;
    d["text"] = "一键清理 & <xml>";
    d["date"] = Date{1400000000};  // XML dates keep whole seconds
    d["data"] = Data{0, 1, 255};
    d["array"] = Array{Value("a"), Value(1)};
    d["dict"] = Dictionary{{"k", Value("v")}};
    Value v(d);
    for (auto fmt : {PlistFormat::XML, PlistFormat::Binary}) {
        auto back = PropertyList::parse(PropertyList::serialize(v, fmt));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, v) << back->description();
    }
}

TEST(ValueTest, GarbageIsNotAPlist) {
    EXPECT_FALSE(PropertyList::parse(std::string("not a plist")).has_value());
    EXPECT_FALSE(PropertyList::parse(std::string("bplist00\x01\x02", 10)).has_value());
    EXPECT_FALSE(PropertyList::parse(std::string()).has_value());
}

namespace {

// A binary list of the given objects, the first one on top (offsets and references one byte).
std::string binaryList(const std::vector<std::string>& objects) {
    std::string out = "bplist00", table;
    for (const auto& o : objects) {
        table.push_back(static_cast<char>(out.size()));
        out += o;
    }
    std::string trailer(32, '\0');
    trailer[6] = trailer[7] = 1;
    trailer[15] = static_cast<char>(objects.size());
    trailer[31] = static_cast<char>(out.size());
    return out + table + trailer;
}

}  // namespace

TEST(ValueTest, ListsWithANulInsideATextAreRefused) {
    // UTF-16 "a?b" (0x63: three units), as a string on top and as the key of {"a?b": 1}.
    auto utf16 = [](char middle) {
        return std::string("\x63\x00\x61", 3) + '\0' + middle + std::string("\x00\x62", 2);
    };
    const std::string one("\x10\x01", 2);
    EXPECT_EQ(PropertyList::parse(binaryList({utf16(' ')})), Value("a b"));
    EXPECT_EQ(PropertyList::parse(binaryList({"\xd1\x01\x02", utf16(' '), one})),
              Value(Dictionary{{"a b", Value(1)}}));
    EXPECT_FALSE(PropertyList::parse(binaryList({utf16('\0')})).has_value());
    EXPECT_FALSE(PropertyList::parse(binaryList({"\xd1\x01\x02", utf16('\0'), one})).has_value());

    const std::string xml =
        "<?xml version=\"1.0\"?><plist version=\"1.0\">"
        "<dict><key>a_b</key><string>c_d</string></dict></plist>";
    EXPECT_EQ(PropertyList::parse(xml), Value(Dictionary{{"a_b", Value("c_d")}}));
    for (size_t at : {xml.find("a_b") + 1, xml.find("c_d") + 1}) {
        std::string withNul = xml;
        withNul[at] = '\0';
        EXPECT_FALSE(PropertyList::parse(withNul).has_value());
    }
}

TEST(ValueTest, DatesBeyondWhatAPlistHoldsAreWrittenAtItsEdge) {
    // Whole seconds since 2001 in an int32_t: 1932-12-13T20:45:52Z to 2069-01-19T03:14:07Z.
    const Dictionary d{{"1900", Value(Date{-2208988800})}, {"2100", Value(Date{4102444800})}};
    const Dictionary edges{{"1900", Value(Date{-1169176448})}, {"2100", Value(Date{3125790847})}};
    for (auto fmt : {PlistFormat::XML, PlistFormat::Binary}) {
        EXPECT_EQ(PropertyList::parse(PropertyList::serialize(Value(d), fmt)), Value(edges));
    }
}

TEST(ValueTest, EqualityIsWholeValueAndTyped) {
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(true), Value(1));
    EXPECT_EQ(Value(Dictionary{{"a", Value(1)}}), Value(Dictionary{{"a", Value(1)}}));
    EXPECT_NE(Value(Dictionary{{"a", Value(1)}}), Value(Dictionary{{"a", Value(1)}, {"b", Value()}}));
    EXPECT_TRUE(Value("YES").asBool());
    EXPECT_EQ(Value("42").asInteger(), 42);
}

TEST(RootsTest, ResolvesRulePathsUnderBothRoots) {
    test::TempRoots roots;
    EXPECT_EQ(Roots::resolveRulePath("~/Library/Caches"), roots.home() + "/Library/Caches");
    EXPECT_EQ(Roots::resolveRulePath("/Library/Logs"), roots.root() + "/Library/Logs");
    EXPECT_EQ(Roots::systemPath(roots.root() + "/x"), roots.root() + "/x");
}

TEST(RootsTest, ProtectsRootsAndTheirTopLevelFolders) {
    test::TempRoots roots;
    EXPECT_TRUE(Roots::isProtectedPath("/"));
    EXPECT_TRUE(Roots::isProtectedPath("/usr"));
    EXPECT_TRUE(Roots::isProtectedPath(roots.home()));
    EXPECT_TRUE(Roots::isProtectedPath(roots.home() + "/Library/"));
    EXPECT_TRUE(Roots::isProtectedPath(roots.home() + "/Library/Caches/.."));
    EXPECT_TRUE(Roots::isProtectedPath(roots.root() + "//Applications"));
    EXPECT_TRUE(Roots::isProtectedPath(""));
    EXPECT_FALSE(Roots::isProtectedPath(roots.home() + "/Library/Caches"));
    EXPECT_FALSE(Roots::isProtectedPath(roots.root() + "/Library/Caches"));
}

TEST(RunLoopTest, ManualClockRunsDelaysAtOnceInOrder) {
    ManualClock clock;
    auto& loop = RunLoop::main();
    loop.reset();
    loop.setClock(&clock);
    std::vector<int> order;
    loop.performAfter(2.0, [&] { order.push_back(2); });
    loop.performAfter(1.0, [&] { order.push_back(1); });
    loop.performOnMainThread([&] { order.push_back(0); });
    EXPECT_TRUE(loop.runUntil([&] { return order.size() == 3; }, 10));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    // A timer past the timeout does not run.
    bool late = false;
    loop.performAfter(50, [&] { late = true; });
    EXPECT_FALSE(loop.runUntil([&] { return late; }, 5));
    loop.reset();
    loop.setClock(nullptr);
}

TEST(RunLoopTest, PostingOnMainThreadIsQueuedNotRunInline) {
    auto& loop = RunLoop::main();
    loop.reset();
    std::atomic<int> seenOnMain{0};
    NotificationCenter::Token tok = NotificationCenter::defaultCenter().addObserver(
        "X_TEST", [&](const Notification&) { seenOnMain += loop.isMainThread() ? 1 : 100; });
    loop.bindToCurrentThread();
    std::thread t([] { NotificationCenter::defaultCenter().postOnMainThread("X_TEST"); });
    t.join();
    EXPECT_EQ(seenOnMain.load(), 0);
    loop.runUntil([&] { return seenOnMain.load() != 0; }, 5);
    EXPECT_EQ(seenOnMain.load(), 1);
    NotificationCenter::defaultCenter().removeObserver(tok);
}

TEST(OperationQueueTest, RunsAllBoundedAndSurvivesThrowingOperations) {
    OperationQueue q;
    q.setMaxConcurrentOperationCount(2);
    std::atomic<int> running{0}, peak{0}, done{0};
    for (int i = 0; i < 20; ++i) {
        q.addOperation([&] {
            int r = ++running;
            int p = peak.load();
            while (r > p && !peak.compare_exchange_weak(p, r)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            --running;
            ++done;
        });
    }
    q.addOperation([] { throw std::runtime_error("boom"); });
    q.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(done.load(), 20);
    EXPECT_LE(peak.load(), 2);
}

TEST(OperationQueueTest, CancelSetsTheFlagOfQueuedOperations) {
    OperationQueue q;
    q.setMaxConcurrentOperationCount(1);
    std::atomic<bool> release{false};
    std::atomic<int> sawCancel{0};
    q.addOperation([&] {
        while (!release) std::this_thread::yield();
    });
    for (int i = 0; i < 3; ++i) {
        q.addOperation(std::make_shared<BlockOperation>([&](const Operation& op) {
            if (op.isCancelled()) ++sawCancel;
        }));
    }
    q.cancelAllOperations();
    release = true;
    q.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(sawCancel.load(), 3);
}

TEST(CryptoTest, KnownDigestsAndAesRoundTrip) {
    EXPECT_EQ(Crypto::digestHex(Crypto::Digest::MD5, "abc", 3), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Crypto::digestHex(Crypto::Digest::SHA1, "abc", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Crypto::toHex(Crypto::hmac(Crypto::Digest::SHA256, "key", 3,
                                         "The quick brown fox jumps over the lazy dog", 43)),
              "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");
    uint8_t key[16] = {1}, iv[16] = {2};
    Data plain{'h', 'i'};
    auto enc = Crypto::aes128cbc(true, plain, key, iv);
    ASSERT_TRUE(enc);
    EXPECT_EQ(enc->size(), 16u);
    EXPECT_EQ(Crypto::aes128cbc(false, *enc, key, iv), plain);
    Data bad = *enc;
    bad.pop_back();
    EXPECT_FALSE(Crypto::aes128cbc(false, bad, key, iv));
}
