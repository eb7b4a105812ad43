#include "Support/ConcurrentProcesses.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace hvn::test {

std::vector<int> runInProcessesAtOnce(int count, const std::function<int(int index)>& fn) {
    std::vector<int> codes(static_cast<size_t>(count), -1);
    int gate[2];
    if (::pipe(gate) != 0) return codes;
    std::vector<pid_t> pids(static_cast<size_t>(count), -1);
    std::fflush(nullptr);
    for (int i = 0; i < count; ++i) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(gate[1]);
            // Every child is released at once, when the parent closes its end of the pipe.
            char c;
            while (::read(gate[0], &c, 1) < 0) {
            }
            ::close(gate[0]);
            int rc = 125;
            try {
                rc = fn(i);
            } catch (...) {
            }
            std::fflush(nullptr);
            ::_exit(rc);
        }
        pids[static_cast<size_t>(i)] = pid;
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (int i = 0; i < count; ++i) {
        pid_t pid = pids[static_cast<size_t>(i)];
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            codes[static_cast<size_t>(i)] = WEXITSTATUS(status);
    }
    return codes;
}

}  // namespace hvn::test
