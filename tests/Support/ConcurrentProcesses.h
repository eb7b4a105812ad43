// Runs one function in many forked processes that all start at the same moment, for the
// tests of what several processes do to one file at once.
#pragma once

#include <functional>
#include <vector>

namespace hvn::test {

// Forks `count` children; each waits until all are forked, then runs fn(index) and exits
// with its result (a child that throws exits 125). Returns the exit codes in index order,
// -1 for a child that could not be forked or did not exit normally. Call from the test's
// main thread, with no other thread of the test holding a lock the children might need.
std::vector<int> runInProcessesAtOnce(int count, const std::function<int(int index)>& fn);

}  // namespace hvn::test
