// Switching a launchd job off and on by its program path, as the daemon's
// setServerDisable:disable: request and the startup manager do it.
#include <gtest/gtest.h>

#include "Platform/LaunchdJob.h"

using hvn::Array;
using hvn::Dictionary;
using hvn::LaunchdJob;
using hvn::Value;

namespace {

Value job(Dictionary d) {
    d.emplace("Label", Value("com.example.job"));
    return Value(std::move(d));
}

Value args(std::vector<std::string> words) {
    Array a;
    for (auto& w : words) a.emplace_back(w);
    return Value(std::move(a));
}

}  // namespace

TEST(DaemonRequestJobSwitchTest, DisablingAppendsTheComponentAndEnablingTakesItAway) {
    struct Case {
        const char* what;
        Value before;
        bool disable;
        Value after;
        bool changed;
    };
    const std::vector<Case> cases = {
        {"arguments off", job({{"ProgramArguments", args({"/usr/local/bin/tool", "-x", "y"})}}), true,
         job({{"ProgramArguments", args({"/usr/local/bin/tool/disable", "-x", "y"})}}), true},
        {"arguments on", job({{"ProgramArguments", args({"/usr/local/bin/tool/disable", "-x"})}}), false,
         job({{"ProgramArguments", args({"/usr/local/bin/tool", "-x"})}}), true},
        {"program off", job({{"Program", Value("/opt/a b/run")}, {"KeepAlive", Value(true)}}), true,
         job({{"Program", Value("/opt/a b/run/disable")}, {"KeepAlive", Value(true)}}), true},
        {"program on", job({{"Program", Value("/opt/run/disable")}}), false,
         job({{"Program", Value("/opt/run")}}), true},
        // launchd starts Program; the startup list reads the first argument: both change.
        {"both off", job({{"Program", Value("/bin/p")}, {"ProgramArguments", args({"p", "1"})}}), true,
         job({{"Program", Value("/bin/p/disable")}, {"ProgramArguments", args({"p/disable", "1"})}}), true},
        {"already off", job({{"ProgramArguments", args({"/bin/t/disable"})}}), true,
         job({{"ProgramArguments", args({"/bin/t/disable"})}}), false},
        {"already on", job({{"Program", Value("/bin/t")}}), false, job({{"Program", Value("/bin/t")}}),
         false},
        {"a trailing slash", job({{"Program", Value("/bin/t/")}}), true,
         job({{"Program", Value("/bin/t/disable")}}), true},
        {"a component holding the word", job({{"Program", Value("/bin/t.disabled")}}), false,
         job({{"Program", Value("/bin")}}), true},
        {"the root program", job({{"Program", Value("/disable")}}), false, job({{"Program", Value("/")}}),
         true},
        // An empty Program does not count: launchd takes the first argument then.
        {"empty program", job({{"Program", Value("")}, {"ProgramArguments", args({"/x"})}}), true,
         job({{"Program", Value("")}, {"ProgramArguments", args({"/x/disable"})}}), true},
    };
    for (const Case& c : cases) {
        bool changed = !c.changed;
        std::string error;
        auto out = LaunchdJob::switchedProgram(c.before, c.disable, &changed, &error);
        ASSERT_TRUE(out) << c.what << ": " << error;
        EXPECT_EQ(*out, c.after) << c.what;
        EXPECT_EQ(changed, c.changed) << c.what;
    }
}

TEST(DaemonRequestJobSwitchTest, ListsWithoutAProgramAreRefused) {
    const std::vector<std::pair<const char*, Value>> cases = {
        {"no dictionary", Value(Array{})},
        {"no program", job({})},
        {"arguments empty", job({{"ProgramArguments", Value(Array{})}})},
        {"first argument no text", job({{"ProgramArguments", Value(Array{Value(1)})}})},
        {"program no text", job({{"Program", Value(5)}})},
    };
    for (const auto& [what, plist] : cases) {
        std::string error;
        EXPECT_FALSE(LaunchdJob::switchedProgram(plist, true, nullptr, &error)) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
    std::string error;
    EXPECT_FALSE(
        LaunchdJob::switchedProgram(job({{"ProgramArguments", args({"disable"})}}), false, nullptr, &error));
    EXPECT_NE(error.find("cannot be switched on"), std::string::npos) << error;
    EXPECT_TRUE(LaunchdJob::isDisabledProgram("/a/b/disable"));
    EXPECT_TRUE(LaunchdJob::isDisabledProgram("/a/predisabled/"));
    EXPECT_FALSE(LaunchdJob::isDisabledProgram("/disable/b"));
}
