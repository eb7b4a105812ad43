// The prepared matching against a plain walk of the list, on random signature lists and
// files (fixed seeds): the same answer for every file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "Sentrel/SignatureFixtures.h"
#include "Sentrel/VirusManager.h"
#include "Support/TestRoots.h"

namespace {

// The matching rule, walked signature by signature: stop at the first signature longer than
// the file; compare a signature only when S + L < length; the first equal one is the answer.
// Absent entries, empty signatures and negative start indexes are skipped.
std::string reference(const std::string& file, const std::vector<HVNVirusCodeObjPtr>& list) {
    const uint64_t n = file.size();
    for (const auto& s : list) {
        if (!s) continue;
        const uint64_t L = s->virus_code.size();
        if (n < L) break;
        if (L == 0 || s->start_index < 0) continue;
        const uint64_t S = static_cast<uint64_t>(s->start_index);
        if (S >= n || S + L >= n) continue;
        if (std::memcmp(file.data() + S, s->virus_code.data(), L) == 0) return s->virus_name;
    }
    return "";
}

struct Generator {
    explicit Generator(uint32_t seed) : rng(seed) {}
    std::mt19937 rng;

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    bool chance(int percent) { return uniform(0, 99) < percent; }

    // Bytes from a small alphabet, so that leading bytes collide often.
    std::string bytes(size_t n, int alphabet) {
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>('a' + uniform(0, alphabet - 1));
        return s;
    }

    // With `near`, every signature starts within maxStart (one read window).
    std::vector<HVNVirusCodeObjPtr> list(int count, int alphabet, int maxStart, bool near = false) {
        std::vector<HVNVirusCodeObjPtr> out;
        for (int i = 0; i < count; ++i) {
            if (chance(3)) {
                out.push_back(nullptr);
                continue;
            }
            const int length = chance(5) ? 0 : chance(30) ? uniform(1, 7) : uniform(8, 40);
            // Mostly near the start, some far (another read window), a few negative.
            int64_t start = near || chance(80) ? uniform(0, maxStart) : chance(80) ? uniform(20000, 70000) : -uniform(1, 5);
            auto s = sigtest::sig("sig" + std::to_string(i), bytes(static_cast<size_t>(length), alphabet), start);
            // The length column mostly agrees; sometimes not at all.
            if (chance(10)) s->bytes = uniform(0, 60);
            out.push_back(std::move(s));
        }
        // Ordered by the length column, as the query gives them.
        std::stable_sort(out.begin(), out.end(), [](const HVNVirusCodeObjPtr& a, const HVNVirusCodeObjPtr& b) {
            return (a ? a->bytes : 0) < (b ? b->bytes : 0);
        });
        return out;
    }

    // A file, with copies of some signatures planted at their offsets (some ending exactly
    // on the last byte, some cut short).
    std::string file(const std::vector<HVNVirusCodeObjPtr>& list, int alphabet, int maxStart) {
        size_t size = chance(10) ? static_cast<size_t>(uniform(0, 12))
                      : chance(85) ? static_cast<size_t>(uniform(0, maxStart + 60))
                                   : static_cast<size_t>(uniform(20000, 72000));
        std::string f = bytes(size, alphabet);
        const int plants = uniform(0, 4);
        for (int p = 0; p < plants && !list.empty(); ++p) {
            const auto& s = list[static_cast<size_t>(uniform(0, static_cast<int>(list.size()) - 1))];
            if (!s || s->start_index < 0 || s->virus_code.empty()) continue;
            const size_t S = static_cast<size_t>(s->start_index);
            const size_t L = s->virus_code.size();
            if (chance(20)) f.resize(S + L);  // ends on the last byte
            if (S + L > f.size()) f.resize(S + L + static_cast<size_t>(uniform(0, 3)), 'z');
            std::memcpy(f.data() + S, s->virus_code.data(), chance(10) ? L - 1 : L);
        }
        return f;
    }
};

class SignatureIndexPropertyTest : public hvn::test::RootsTest {};

}  // namespace

TEST_F(SignatureIndexPropertyTest, PreparedAnswersEqualThePlainWalk) {
    const std::string path = roots.base() + "/f";
    int folder = ::open(roots.base().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    size_t matched = 0, checked = 0;
    for (uint32_t seed = 1; seed <= 80; ++seed) {
        Generator g(seed);
        const int alphabet = g.uniform(2, 6);
        const int maxStart = g.uniform(0, 300);
        // Half the lists keep to one read window, where a listed file's length comes from the
        // reads alone; the others also have far, negative and oversized entries.
        auto list = g.list(g.uniform(0, 120), alphabet, maxStart, seed % 2 == 0);
        VirusManager manager;
        manager.prepareVirusCodes(list);
        for (int i = 0; i < 60; ++i) {
            const std::string contents = g.file(list, alphabet, maxStart);
            sigtest::writeBytes(path, contents);
            const std::string expected = reference(contents, list);
            const std::string where = "seed " + std::to_string(seed) + " file " + std::to_string(i) + " (" +
                                      std::to_string(contents.size()) + " bytes)";
            ASSERT_EQ(manager.checkVirus(path, list), expected) << where;
            ASSERT_EQ(manager.checkPreparedAt(folder, "f"), expected) << where;
            ASSERT_EQ(manager.checkPreparedFileAt(folder, "f"), expected) << where;
            matched += !expected.empty();
            ++checked;
        }
    }
    ::close(folder);
    // The generator must exercise both outcomes for the comparison to mean anything.
    EXPECT_GT(matched, checked / 5);
    EXPECT_LT(matched, checked);
}

TEST_F(SignatureIndexPropertyTest, OneManagerAcrossChangingLists) {
    // The manager keeps the preparation of the last list: switching lists back and forth,
    // and changing one in place (a replaced signature, a longer list), never gives the
    // answer of another list.
    const std::string path = roots.base() + "/f";
    Generator g(4242);
    VirusManager manager;
    std::vector<std::vector<HVNVirusCodeObjPtr>> lists;
    for (int i = 0; i < 4; ++i) lists.push_back(g.list(40, 3, 64));
    for (int round = 0; round < 300; ++round) {
        auto& list = lists[static_cast<size_t>(g.uniform(0, 3))];
        if (g.chance(10) && !list.empty()) list[static_cast<size_t>(g.uniform(0, static_cast<int>(list.size()) - 1))] = g.list(1, 3, 64)[0];
        if (g.chance(5)) list.push_back(sigtest::sig("late", g.bytes(50, 3), 0));
        const std::string contents = g.file(list, 3, 64);
        sigtest::writeBytes(path, contents);
        ASSERT_EQ(manager.checkVirus(path, list), reference(contents, list)) << "round " << round;
    }
}
