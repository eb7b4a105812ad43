// Speed of the path-rule file scanner on a cache-like tree of 200,000 files.
//
// The tree is generated once (HALVORN_BENCH_TREE, default /tmp/halvorn-bench-cache-tree-200k;
// a ".complete" marker makes later runs reuse it): 40 application cache folders shaped like
// real caches (flat entry folders, two-level hex buckets, deeper nested folders), files of
// 0 to 32 KiB logical length (sparse), a few hidden files.
//
//   bench_FileScanBench                       Google Benchmark runs
//   bench_FileScanBench --make-tree DIR       only make the tree
//   bench_FileScanBench --scan-once MODE DIR  one run over DIR (MODE: norec, rec, walk) and its
//                                             figures, for bench/compare_du.sh
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanFileOperation.h"
#include "Platform/DirectoryWalker.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 200000;
constexpr int kApps = 40;
constexpr int kFilesPerApp = kFiles / kApps;

std::string treePath() {
    const char* p = std::getenv("HALVORN_BENCH_TREE");
    return p && *p ? p : "/tmp/halvorn-bench-cache-tree-200k";
}

void makeFile(const std::string& path, off_t size) {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    if (size > 0 && ::ftruncate(fd, size) != 0) std::perror("ftruncate");
    ::close(fd);
}

std::string hex2(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02x", v & 0xff);
    return b;
}

// Makes the tree unless a complete one is there.
void ensureTree(const std::string& root) {
    if (fs::exists(root + "/.complete")) return;
    std::fprintf(stderr, "making %d files below %s ...\n", kFiles, root.c_str());
    fs::remove_all(root);
    fs::create_directories(root);
    std::mt19937 rng(42);
    std::uniform_int_distribution<off_t> size(0, 32 * 1024);
    int made = 0;
    for (int a = 0; a < kApps; ++a) {
        const std::string app = root + "/com.vendor.app" + std::to_string(a);
        int count = 0;
        auto place = [&](const std::string& folder) {
            fs::create_directories(folder);
            makeFile(folder + "/f_" + std::to_string(count) + (count % 500 == 0 ? ".tmp" : ""), size(rng));
            ++count;
            ++made;
        };
        if (a % 4 == 0) {
            // Flat entry folder (like a browser's cache2/entries).
            while (count < kFilesPerApp) place(app + "/cache2/entries");
        } else if (a % 4 == 1 || a % 4 == 2) {
            // Two-level hex buckets.
            while (count < kFilesPerApp)
                place(app + "/Cache/" + hex2(count % 16) + "/" + hex2((count / 16) % 16));
        } else {
            // Deeper nesting, four-way fan-out.
            while (count < kFilesPerApp) {
                int c = count;
                place(app + "/data/l" + std::to_string(c % 4) + "/m" + std::to_string((c / 4) % 4) + "/n" +
                      std::to_string((c / 16) % 4) + "/o" + std::to_string((c / 64) % 4));
            }
        }
        makeFile(app + "/.lock", 0);
    }
    makeFile(root + "/.complete", 0);
    std::fprintf(stderr, "made %d files\n", made);
}

struct NullDelegate : HVNScanResultDelegate {
    size_t nodes = 0;
    int64_t bytes = 0;
    void finishScan(HVNNodeList results, int32_t) override {
        nodes = results.size();
        bytes = 0;
        for (const auto& n : results) bytes += n->fileSize;
    }
};

// One scan of module 1 over the tree (sub-folders sized whole, or every file reported).
NullDelegate scanOnce(const std::string& root, bool recursion) {
    auto r = std::make_shared<HVNScanInputObject>();
    r->path = root;
    r->isCheck = true;
    r->recursion = recursion;
    NullDelegate d;
    HVNScanFileOperation op({r}, 1, &d);
    op.setBrowserCacheRows({});
    op.setApplications({});
    op.main();
    return d;
}

void BM_FileScanModule1SubFoldersWhole(benchmark::State& state) {
    const std::string root = treePath();
    ensureTree(root);
    for (auto _ : state) {
        auto d = scanOnce(root, false);
        benchmark::DoNotOptimize(d.bytes);
        state.counters["nodes"] = static_cast<double>(d.nodes);
    }
    state.counters["files/s"] = benchmark::Counter(kFiles, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FileScanModule1SubFoldersWhole)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FileScanModule1EveryFile(benchmark::State& state) {
    const std::string root = treePath();
    ensureTree(root);
    for (auto _ : state) {
        auto d = scanOnce(root, true);
        benchmark::DoNotOptimize(d.bytes);
        state.counters["nodes"] = static_cast<double>(d.nodes);
    }
}
BENCHMARK(BM_FileScanModule1EveryFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_DirectoryWalkerTotalSize(benchmark::State& state) {
    const std::string root = treePath();
    ensureTree(root);
    for (auto _ : state) {
        auto r = hvn::DirectoryWalker::totalSize(root);
        benchmark::DoNotOptimize(r.bytes);
    }
    state.counters["files/s"] = benchmark::Counter(kFiles, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DirectoryWalkerTotalSize)->Unit(benchmark::kMillisecond)->UseRealTime();

int scanOnceMain(const std::string& mode, const std::string& root) {
    if (!fs::is_directory(root)) {
        std::fprintf(stderr, "%s is not a folder\n", root.c_str());
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    size_t nodes = 0;
    int64_t bytes = 0;
    if (mode == "walk") {
        auto r = hvn::DirectoryWalker::totalSize(root);
        bytes = static_cast<int64_t>(r.bytes);
        nodes = r.files;
    } else if (mode == "norec" || mode == "rec") {
        auto d = scanOnce(root, mode == "rec");
        nodes = d.nodes;
        bytes = d.bytes;
    } else {
        std::fprintf(stderr, "unknown mode %s (norec, rec, walk)\n", mode.c_str());
        return 2;
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    std::printf("mode=%s seconds=%.4f nodes=%zu bytes=%lld maxrss_kb=%ld\n", mode.c_str(), secs, nodes,
                static_cast<long long>(bytes), ru.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--make-tree") == 0) {
        ensureTree(argv[2]);
        return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "--scan-once") == 0) return scanOnceMain(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
