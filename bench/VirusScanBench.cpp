// The signature scan on a large tree, and what bench/compare_clamscan.sh compares it with.
//
//   bench_VirusScanBench --make-signatures DB NDB [COUNT] [SEED]
//       COUNT (10000) random signatures of 8 to 64 bytes at offsets 0 to 8 KiB: the table
//       HVN_VIRUS_CODE in the SQLite file DB, and the same signatures for ClamAV in NDB
//       (one "Name:0:Offset:Hex" line each).
//   bench_VirusScanBench --plant TREE DB COUNT [SEED]
//       writes COUNT of DB's signatures into COUNT files of TREE, each at its offset and never
//       at the file's end (a file too short is lengthened first); prints "path<TAB>name".
//       The files planted by the previous run (TREE/.planted) are zero-filled first.
//   bench_VirusScanBench --scan TREE DB [THREADS]
//       the internet-security scan (HVNVirusOperation) of TREE with DB's signatures;
//       prints "path<TAB>name" per finding, sorted, and its figures on standard error.
//   bench_VirusScanBench --read-walk TREE [BYTES] [THREADS]
//       the baseline: the same descriptor walk, opening every file and reading its first
//       BYTES (8192); THREADS (1) share the top folders.
//   bench_VirusScanBench [benchmark options]
//       micro benchmarks of one check against 10,000 prepared signatures.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "HVN/Code/Clearer/FMDB/HVNPathDBManager.h"
#include "HVN/Code/Clearer/HVNVirusOperation.h"
#include "Sentrel/VirusManager.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDefaultSignatures = 10000;
constexpr int kMaxOffset = 8 * 1024;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<HVNVirusCodeObjPtr> randomSignatures(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> length(8, 64), offset(0, kMaxOffset), byte(0, 255);
    std::vector<HVNVirusCodeObjPtr> out;
    for (int i = 0; i < count; ++i) {
        auto s = std::make_shared<HVNVirusCodeObj>();
        s->virus_name = "Halvorn.Bench." + std::to_string(i);
        s->virus_code.resize(static_cast<size_t>(length(rng)));
        for (auto& b : s->virus_code) b = static_cast<uint8_t>(byte(rng));
        s->start_index = offset(rng);
        s->bytes = static_cast<int64_t>(s->virus_code.size());
        out.push_back(std::move(s));
    }
    return out;
}

int makeSignatures(const std::string& dbPath, const std::string& ndbPath, int count, uint32_t seed) {
    auto sigs = randomSignatures(count, seed);
    fs::remove(dbPath);
    FMDatabase db(dbPath);
    if (!db.open()) return 1;
    db.executeUpdate("CREATE TABLE HVN_VIRUS_CODE (auto_id INTEGER PRIMARY KEY AUTOINCREMENT, virus_name TEXT, "
                     "virus_code BLOB, start_index INTEGER, bytes INTEGER)");
    db.executeUpdate("BEGIN");
    FILE* ndb = std::fopen(ndbPath.c_str(), "w");
    if (!ndb) return 1;
    for (const auto& s : sigs) {
        db.executeUpdate("INSERT INTO HVN_VIRUS_CODE (virus_name, virus_code, start_index, bytes) VALUES (?, ?, ?, ?)",
                         {hvn::Value(s->virus_name), hvn::Value(s->virus_code), s->start_index, s->bytes});
        std::fprintf(ndb, "%s:0:%lld:", s->virus_name.c_str(), static_cast<long long>(s->start_index));
        for (uint8_t b : s->virus_code) std::fprintf(ndb, "%02x", b);
        std::fputc('\n', ndb);
    }
    db.executeUpdate("COMMIT");
    db.close();
    std::fclose(ndb);
    std::fprintf(stderr, "%d signatures in %s and %s\n", count, dbPath.c_str(), ndbPath.c_str());
    return 0;
}

// Zero-fills a file at its size (holes again, as the tree was made).
bool clear(const std::string& path, off_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, 0) == 0 && ::ftruncate(fd, size) == 0;
    ::close(fd);
    return ok;
}

int plant(const std::string& tree, const std::string& dbPath, int count, uint32_t seed) {
    auto sigs = HVNPathDBManager(std::string(), dbPath).getAllVirusCodeObj();
    if (sigs.empty()) return 1;
    // The order of equal lengths is the database's; pick by name instead.
    std::sort(sigs.begin(), sigs.end(), [](const HVNVirusCodeObjPtr& a, const HVNVirusCodeObjPtr& b) {
        return a->virus_name < b->virus_name;
    });
    // What an earlier run planted is undone first (the record keeps each file's size from before).
    const std::string record = tree + "/.planted";
    if (FILE* r = std::fopen(record.c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, r)) {
            std::string l(line);
            auto tab = l.rfind('\t');
            if (tab == std::string::npos) continue;
            clear(l.substr(0, tab), static_cast<off_t>(std::stoll(l.substr(tab + 1))));
        }
        std::fclose(r);
    }
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(tree)) {
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    std::mt19937 rng(seed);
    std::shuffle(files.begin(), files.end(), rng);
    std::uniform_int_distribution<size_t> pick(0, sigs.size() - 1);
    std::uniform_int_distribution<int> slack(1, 4096);
    std::vector<std::pair<std::string, std::string>> planted;
    FILE* r = std::fopen(record.c_str(), "w");
    if (!r) return 1;
    for (int i = 0; i < count && i < static_cast<int>(files.size()); ++i) {
        const auto& s = sigs[pick(rng)];
        const std::string& path = files[static_cast<size_t>(i)];
        int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return 1;
        struct stat st {};
        ::fstat(fd, &st);
        std::fprintf(r, "%s\t%lld\n", path.c_str(), static_cast<long long>(st.st_size));
        std::fflush(r);
        const off_t end = static_cast<off_t>(s->start_index) + static_cast<off_t>(s->virus_code.size());
        if (st.st_size <= end && ::ftruncate(fd, end + slack(rng)) != 0) return 1;
        if (::pwrite(fd, s->virus_code.data(), s->virus_code.size(), s->start_index) !=
            static_cast<ssize_t>(s->virus_code.size())) {
            return 1;
        }
        ::close(fd);
        planted.emplace_back(fs::canonical(path).string(), s->virus_name);
    }
    std::fclose(r);
    std::sort(planted.begin(), planted.end());
    for (const auto& [p, n] : planted) std::printf("%s\t%s\n", p.c_str(), n.c_str());
    return 0;
}

struct Collect : HVNScanResultDelegate {
    HVNNodeList results;
    void finishScan(HVNNodeList r, int32_t) override { results = std::move(r); }
};

int scan(const std::string& tree, const std::string& dbPath, int threads) {
    auto start = std::chrono::steady_clock::now();
    Collect c;
    HVNVirusOperation op(&c);
    op.setStartFolders({tree});
    op.setVirusDatabasePath(dbPath);
    if (threads >= 0) op.setCheckerThreads(threads);
    op.main();
    const double secs = secondsSince(start);
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& n : c.results) found.emplace_back(n->filePath(), n->virusName);
    std::sort(found.begin(), found.end());
    for (const auto& [p, n] : found) std::printf("%s\t%s\n", p.c_str(), n.c_str());
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    std::fprintf(stderr, "scan: seconds=%.3f found=%zu entries=%llu maxrss_kb=%ld\n", secs, found.size(),
                 static_cast<unsigned long long>(HVNVirusOperation::pathUpdateCounter()), ru.ru_maxrss);
    return 0;
}

// The baseline walk: getdents64 and openat like the scan, then open, read and close.
struct ReadWalk {
    size_t bytes;
    uint64_t files = 0;
    uint64_t read = 0;
    std::vector<char> buffer;

    explicit ReadWalk(size_t bytes) : bytes(bytes), buffer(bytes) {}

    void folder(int fd) {
        alignas(8) char entries[32 * 1024];
        for (;;) {
            long n = ::syscall(SYS_getdents64, fd, entries, sizeof entries);
            if (n <= 0) break;
            for (long off = 0; off < n;) {
                auto* d = reinterpret_cast<const struct dirent64*>(entries + off);
                off += d->d_reclen;
                const char* name = d->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
                if (d->d_type == DT_DIR) {
                    int sub = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                    if (sub >= 0) {
                        folder(sub);
                        ::close(sub);
                    }
                } else if (d->d_type == DT_REG) {
                    int f = ::openat(fd, name, O_RDONLY | O_CLOEXEC);
                    if (f < 0) continue;
                    ssize_t got = ::read(f, buffer.data(), bytes);
                    if (got > 0) read += static_cast<uint64_t>(got);
                    ::close(f);
                    ++files;
                }
            }
        }
    }
};

int readWalk(const std::string& tree, size_t bytes, int threads) {
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> tops;
    uint64_t files = 0, read = 0;
    // The top folders are shared out; the files directly in the tree go to the first thread.
    for (const auto& e : fs::directory_iterator(tree)) {
        if (e.is_directory() && !e.is_symlink()) tops.push_back(e.path().string());
    }
    std::sort(tops.begin(), tops.end());
    std::vector<ReadWalk> walks(static_cast<size_t>(std::max(threads, 1)), ReadWalk(bytes));
    std::vector<std::thread> pool;
    for (size_t t = 0; t < walks.size(); ++t) {
        pool.emplace_back([&, t] {
            for (size_t i = t; i < tops.size(); i += walks.size()) {
                int fd = ::open(tops[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (fd < 0) continue;
                walks[t].folder(fd);
                ::close(fd);
            }
        });
    }
    for (auto& t : pool) t.join();
    for (const auto& w : walks) {
        files += w.files;
        read += w.read;
    }
    std::fprintf(stderr, "read-walk: seconds=%.3f files=%llu bytes=%llu threads=%zu\n", secondsSince(start),
                 static_cast<unsigned long long>(files), static_cast<unsigned long long>(read), walks.size());
    return 0;
}

// --- Micro benchmarks ---

struct MicroFixture {
    std::string dir;
    std::vector<HVNVirusCodeObjPtr> sigs = randomSignatures(kDefaultSignatures, 7);
    MicroFixture() {
        char tmpl[] = "/tmp/halvorn-virus-bench-XXXXXX";
        dir = ::mkdtemp(tmpl);
        for (int size : {100, 4096, 16384, 1 << 20}) {
            std::string p = dir + "/f" + std::to_string(size);
            int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            std::vector<char> data(static_cast<size_t>(size), 'x');
            if (::write(fd, data.data(), data.size()) < 0) std::perror("write");
            ::close(fd);
        }
    }
    ~MicroFixture() { fs::remove_all(dir); }
};

MicroFixture& micro() {
    static MicroFixture f;
    return f;
}

void BM_CheckVirusTenThousandSignatures(benchmark::State& state) {
    auto& f = micro();
    VirusManager manager;
    manager.prepareVirusCodes(f.sigs);
    int fd = ::open(f.dir.c_str(), O_RDONLY | O_DIRECTORY);
    const std::string name = "f" + std::to_string(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(manager.checkPreparedAt(fd, name));
    ::close(fd);
}
BENCHMARK(BM_CheckVirusTenThousandSignatures)->Arg(100)->Arg(4096)->Arg(16384)->Arg(1 << 20);

// As the scan checks a file its folder listing gave as regular: open, read, close.
void BM_CheckListedFileTenThousandSignatures(benchmark::State& state) {
    auto& f = micro();
    VirusManager manager;
    manager.prepareVirusCodes(f.sigs);
    int fd = ::open(f.dir.c_str(), O_RDONLY | O_DIRECTORY);
    const std::string name = "f" + std::to_string(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(manager.checkPreparedFileAt(fd, name));
    ::close(fd);
}
BENCHMARK(BM_CheckListedFileTenThousandSignatures)->Arg(100)->Arg(16384);

void BM_CheckVirusListPassedEachTime(benchmark::State& state) {
    auto& f = micro();
    VirusManager manager;
    const std::string path = f.dir + "/f16384";
    for (auto _ : state) benchmark::DoNotOptimize(manager.checkVirus(path, f.sigs));
}
BENCHMARK(BM_CheckVirusListPassedEachTime);

void BM_PrepareTenThousandSignatures(benchmark::State& state) {
    auto& f = micro();
    for (auto _ : state) {
        VirusManager manager;
        manager.prepareVirusCodes(f.sigs);
    }
}
BENCHMARK(BM_PrepareTenThousandSignatures)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    auto arg = [&](int i, const char* fallback) { return i < argc ? std::string(argv[i]) : std::string(fallback); };
    if (argc >= 4 && std::strcmp(argv[1], "--make-signatures") == 0) {
        return makeSignatures(argv[2], argv[3], std::stoi(arg(4, "10000")), static_cast<uint32_t>(std::stoul(arg(5, "1"))));
    }
    if (argc >= 5 && std::strcmp(argv[1], "--plant") == 0) {
        return plant(argv[2], argv[3], std::stoi(argv[4]), static_cast<uint32_t>(std::stoul(arg(5, "1"))));
    }
    if (argc >= 4 && std::strcmp(argv[1], "--scan") == 0) return scan(argv[2], argv[3], std::stoi(arg(4, "-1")));
    if (argc >= 3 && std::strcmp(argv[1], "--read-walk") == 0) {
        return readWalk(argv[2], std::stoul(arg(3, "8192")), std::stoi(arg(4, "1")));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
