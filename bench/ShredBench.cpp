// Shredding (overwrite, flush, unlink) against GNU `shred -n 1 -u`, the tool people use for
// it, on the same data: 512 files of 256 KiB (128 MiB of data), and a sparse 1 GiB disk
// image holding 8 MiB of data, both built afresh (untimed) before every run.
// Run: build/bench/bench_ShredBench [--benchmark_filter=...]; the data goes in $TMPDIR.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Platform/FileManager.h"
#include "Platform/Shredder.h"

namespace {

std::string benchFolder() {
    static std::string folder = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "halvorn-shred-bench-XXXXXX").string();
        return std::string(mkdtemp(tmpl.data()));
    }();
    return folder;
}

void writeAt(int fd, off_t offset, size_t bytes) {
    std::string block(1 << 20, 'd');
    while (bytes > 0) {
        size_t n = std::min(bytes, block.size());
        if (pwrite(fd, block.data(), n, offset) != static_cast<ssize_t>(n)) return;
        offset += static_cast<off_t>(n);
        bytes -= n;
    }
}

void makeFiles(const std::string& top) {
    std::filesystem::create_directories(top);
    for (int i = 0; i < 512; ++i) {
        int fd = open((top + "/f" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        writeAt(fd, 0, 256 * 1024);
        close(fd);
    }
    sync();
}

void makeImage(const std::string& top) {
    std::filesystem::create_directories(top);
    int fd = open((top + "/vm.img").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    writeAt(fd, 0, 4 << 20);
    writeAt(fd, 700LL << 20, 4 << 20);
    if (ftruncate(fd, 1LL << 30) != 0) std::abort();
    close(fd);
    sync();
}

bool shredItem(const std::string& path) {
    hvn::RemovalOptions o;
    o.beforeUnlinkFile = hvn::Shredder::overwriteForRemoval;
    return hvn::FileManager::removeItem(path, o).removed();
}

bool gnuShred(const std::string& path) {
    std::string cmd = "find '" + path + "' -type f -exec shred -n 1 -u {} + && rm -rf '" + path + "'";
    return std::system(cmd.c_str()) == 0;
}

template <typename Make, typename Shred>
void run(benchmark::State& state, Make make, Shred shred) {
    std::string top = benchFolder() + "/data";
    for (auto _ : state) {
        state.PauseTiming();
        make(top);
        state.ResumeTiming();
        if (!shred(top)) state.SkipWithError("the shredding failed");
    }
}

void BM_Shred_512Files(benchmark::State& s) { run(s, makeFiles, shredItem); }
void BM_GnuShred_512Files(benchmark::State& s) { run(s, makeFiles, gnuShred); }
void BM_Shred_SparseImage(benchmark::State& s) { run(s, makeImage, shredItem); }
void BM_GnuShred_SparseImage(benchmark::State& s) { run(s, makeImage, gnuShred); }

}  // namespace

BENCHMARK(BM_Shred_512Files)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GnuShred_512Files)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Shred_SparseImage)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GnuShred_SparseImage)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(benchFolder());
    return 0;
}
