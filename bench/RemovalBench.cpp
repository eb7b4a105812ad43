// Recursive removal against `rm -rf`: a tree of 200 folders of 1000 empty files each
// (200,000 files), plus a 10,000-level chain, built afresh (untimed) before every run.
// Run: build/bench/bench_RemovalBench [--benchmark_filter=...]; the tree goes in $TMPDIR.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Platform/FileManager.h"

namespace {

std::string benchFolder() {
    static std::string folder = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "halvorn-bench-XXXXXX").string();
        return std::string(mkdtemp(tmpl.data()));
    }();
    return folder;
}

void makeWideTree(const std::string& top, int folders, int filesPerFolder) {
    std::filesystem::create_directories(top);
    for (int d = 0; d < folders; ++d) {
        std::string dir = top + "/folder" + std::to_string(d);
        mkdir(dir.c_str(), 0755);
        int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        for (int f = 0; f < filesPerFolder; ++f) {
            std::string name = "file" + std::to_string(f);
            int fd = openat(dfd, name.c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd >= 0) close(fd);
        }
        close(dfd);
    }
    sync();
}

void makeChain(const std::string& top, int depth) {
    std::filesystem::create_directories(top);
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        mkdirat(fd, "d", 0755);
        int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    if (fd >= 0) close(fd);
    sync();
}

template <typename Remove>
void run(benchmark::State& state, bool chain, Remove remove) {
    std::string top = benchFolder() + "/tree";
    for (auto _ : state) {
        state.PauseTiming();
        if (chain) {
            makeChain(top, 10000);
        } else {
            makeWideTree(top, 200, 1000);
        }
        state.ResumeTiming();
        if (!remove(top)) state.SkipWithError("the removal failed");
    }
}

bool removeItem(const std::string& path) {
    return hvn::FileManager::removeItemAtPath(path);
}
bool rmRf(const std::string& path) {
    return std::system(("/bin/rm -rf '" + path + "'").c_str()) == 0;
}

void BM_RemoveItemAtPath_200000Files(benchmark::State& s) {
    run(s, false, removeItem);
}
void BM_RmRf_200000Files(benchmark::State& s) {
    run(s, false, rmRf);
}
void BM_RemoveItemAtPath_Chain10000(benchmark::State& s) {
    run(s, true, removeItem);
}
void BM_RmRf_Chain10000(benchmark::State& s) {
    run(s, true, rmRf);
}

}  // namespace

BENCHMARK(BM_RemoveItemAtPath_200000Files)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RmRf_200000Files)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveItemAtPath_Chain10000)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RmRf_Chain10000)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(benchFolder());
    return 0;
}
