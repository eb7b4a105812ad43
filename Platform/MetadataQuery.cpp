#include "Platform/MetadataQuery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <unordered_map>

#include "Platform/BundleInfo.h"
#include "Platform/UniformType.h"

namespace hvn {

const Value& MetadataItem::valueForAttribute(const std::string& name) const {
    auto it = attributes_.find(name);
    return it == attributes_.end() ? Value::null() : it->second;
}

const std::string& MetadataItem::path() const {
    return valueForAttribute(kMDItemPath).asString();
}

namespace {

using UniformType::ItemKind;

ItemKind kindFromMode(mode_t m) {
    if (S_ISDIR(m)) return ItemKind::Directory;
    if (S_ISLNK(m)) return ItemKind::SymbolicLink;
    if (S_ISREG(m)) return ItemKind::File;
    return ItemKind::Other;
}

std::optional<ItemKind> kindFromDirent(unsigned char type) {
    switch (type) {
        case DT_DIR:
            return ItemKind::Directory;
        case DT_LNK:
            return ItemKind::SymbolicLink;
        case DT_REG:
            return ItemKind::File;
        case DT_UNKNOWN:
            return std::nullopt;
        default:
            return ItemKind::Other;
    }
}

Date dateOf(const timespec& ts) {
    return Date{static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9};
}

bool isPackage(ItemKind kind, const std::string& name) {
    return kind == ItemKind::Directory && UniformType::isPackageExtension(UniformType::pathExtension(name));
}

std::string joinPath(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

// The item under test. Attributes that need a system call are computed on first use, so
// a predicate on names or types costs no stat of items that do not match.
class Candidate {
public:
    Candidate(std::string path, std::string name, ItemKind kind, const struct stat* st,
              std::optional<int64_t> packageSize)
        : path_(std::move(path)), name_(std::move(name)), kind_(kind), packageSize_(packageSize) {
        if (st) {
            st_ = *st;
            statDone_ = statOk_ = true;
        }
    }
    // The item `name` of the folder dir, whose path is joined only when it is needed (the
    // names and stats of most items of a walk are all a predicate looks at).
    Candidate(const std::string& dir, const std::string& name, ItemKind kind, const struct stat* st)
        : Candidate(std::string(), name, kind, st, std::nullopt) {
        dir_ = &dir;
    }

    // The attribute's value, computed on first use; nullptr for an unknown attribute.
    // Valid as long as the candidate.
    const Value* lookup(const std::string& attr) {
        for (size_t i = 0; i < kAttributeCount; ++i) {
            if (attr != kAttributes[i]) continue;
            if (attr == kMDItemContentTypeTree) return &typeTree();
            if (!slots_[i]) slots_[i] = compute(attr);
            return &*slots_[i];
        }
        return nullptr;
    }

    // Every attribute of the item; nullopt when the item is gone.
    std::optional<Dictionary> allAttributes() {
        if (!stat()) return std::nullopt;
        Dictionary d;
        for (const char* a : kAttributes) {
            const Value* v = lookup(a);
            if (v && !v->isNull()) d.emplace(a, *v);
        }
        return d;
    }

private:
    static constexpr const char* kAttributes[] = {
        kMDItemFSName,      kMDItemDisplayName,         kMDItemPath,
        kMDItemFSSize,      kMDItemFSContentChangeDate, kMDItemContentModificationDate,
        kMDItemContentType, kMDItemContentTypeTree,     kMDItemCFBundleIdentifier,
        kMDItemVersion,     kMDItemLastUsedDate};
    static constexpr size_t kAttributeCount = sizeof kAttributes / sizeof kAttributes[0];

    // The type trees are few and shared: each is turned into a value once per thread.
    const Value& typeTree() const {
        thread_local std::unordered_map<const std::vector<std::string>*, Value> trees;
        const std::vector<std::string>& tree = UniformType::contentTypeTreeRef(name_, kind_);
        auto it = trees.find(&tree);
        if (it == trees.end()) {
            Array a;
            for (const auto& t : tree) a.emplace_back(t);
            it = trees.emplace(&tree, Value(std::move(a))).first;
        }
        return it->second;
    }

    Value compute(const std::string& attr) {
        if (attr == kMDItemFSName) return name_;
        if (attr == kMDItemPath) return path();
        if (attr == kMDItemDisplayName) {
            if (UniformType::contentType(name_, kind_) == "com.apple.application-bundle") {
                return UniformType::deletingPathExtension(name_);
            }
            return name_;
        }
        if (attr == kMDItemContentType) return UniformType::contentTypeTreeRef(name_, kind_).front();
        if (attr == kMDItemFSSize) {
            if (kind_ == ItemKind::Directory) {
                if (packageSize_ && isPackage(kind_, name_))
                    return Value(static_cast<long long>(*packageSize_));
                return Value();
            }
            const struct stat* st = stat();
            return st ? Value(static_cast<long long>(st->st_size)) : Value();
        }
        if (attr == kMDItemFSContentChangeDate || attr == kMDItemContentModificationDate) {
            const struct stat* st = stat();
            return st ? Value(dateOf(st->st_mtim)) : Value();
        }
        if (attr == kMDItemCFBundleIdentifier || attr == kMDItemVersion || attr == kMDItemLastUsedDate) {
            const auto& dict = info();
            if (!dict) return Value();
            if (attr == kMDItemLastUsedDate) return lastUsed(*dict);
            auto it =
                dict->find(attr == kMDItemVersion ? "CFBundleShortVersionString" : "CFBundleIdentifier");
            if (it == dict->end() || !it->second.isString()) return Value();
            return it->second;
        }
        return Value();
    }

    const struct stat* stat() {
        if (!statDone_) {
            statDone_ = true;
            statOk_ = ::lstat(path().c_str(), &st_) == 0;
        }
        return statOk_ ? &st_ : nullptr;
    }

    const std::optional<Dictionary>& info() {
        if (!infoDone_) {
            infoDone_ = true;
            if (isPackage(kind_, name_)) info_ = BundleInfo::infoDictionary(path());
        }
        return info_;
    }

    Value lastUsed(const Dictionary& dict) {
        auto it = dict.find("CFBundleExecutable");
        if (it == dict.end() || !it->second.isString()) return Value();
        const std::string& exe = it->second.asString();
        if (exe.empty() || exe.find('/') != std::string::npos || exe == "." || exe == "..") return Value();
        struct stat st {};
        if (::lstat((path() + "/Contents/MacOS/" + exe).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return Value();
        return dateOf(st.st_atim);
    }

    const std::string& path() {
        if (dir_) {
            path_ = joinPath(*dir_, name_);
            dir_ = nullptr;
        }
        return path_;
    }

    std::string path_, name_;
    const std::string* dir_ = nullptr;
    ItemKind kind_;
    std::optional<int64_t> packageSize_;
    struct stat st_ {};
    bool statDone_ = false, statOk_ = false;
    bool infoDone_ = false;
    std::optional<Dictionary> info_;
    std::optional<Value> slots_[kAttributeCount];
};

// Depth-first walk with an explicit stack of folder frames. Each frame holds the folder's
// listing (read whole, then the folder is closed, so the walk keeps at most one folder
// open whatever the depth) and, inside a package, the running sum of its contents' sizes.
class Walker {
public:
    using Emit = std::function<void(MetadataItem)>;

    Walker(const MetadataPredicate* predicate, const std::atomic<bool>* stop, std::atomic<uint64_t>* visited,
           Emit emit)
        : predicate_(predicate), stop_(stop), visited_(visited), emit_(std::move(emit)) {
        if (predicate_) {
            for (const char* a :
                 {kMDItemFSSize, kMDItemFSContentChangeDate, kMDItemContentModificationDate}) {
                if (predicate_->attributes().count(a)) statAtListing_ = true;
            }
        }
    }

    // Walks below scope, testing every item. With sumRoot, returns the summed sizes of
    // the files and links below scope (a package's size).
    int64_t walk(const std::string& scope, bool sumRoot) {
        std::string root = scope;
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        if (root.empty()) return 0;
        struct stat st {};
        if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
        dev_ = st.st_dev;
        std::vector<Frame> stack;
        Frame top;
        if (!open(root, top, statAtListing_)) return 0;
        top.inPackage = sumRoot;
        top.evaluateSelf = false;
        stack.push_back(std::move(top));

        while (!stack.empty()) {
            if (stopped()) return 0;
            Frame& f = stack.back();
            if (f.next < f.entries.size()) {
                const size_t i = f.next++;
                auto [name, dtype] = f.entries[i];
                const struct stat* listed = nullptr;
                struct stat st;
                if (!f.stats.empty() && dtype != DT_DIR) {
                    if (f.stats[i].st_mode == 0) continue;  // gone since the listing
                    st = f.stats[i];
                    listed = &st;
                }
                visit(stack, f, name, dtype, listed);
                continue;
            }
            Frame done = std::move(stack.back());
            stack.pop_back();
            if (stack.empty()) return done.contentSize;
            if (done.evaluateSelf) {
                std::optional<int64_t> size;
                if (done.isPackage) size = done.contentSize;
                Candidate c(done.path, done.name, ItemKind::Directory, &done.self, size);
                test(c);
            }
            if (stack.back().inPackage) stack.back().contentSize += done.contentSize;
        }
        return 0;
    }

private:
    struct Frame {
        std::string path, name;
        std::vector<std::pair<std::string, unsigned char>> entries;
        // With statAtListing_: each entry's lstat, taken relative to the open folder while
        // it was listed (mode 0: gone since the listing; unused for folders).
        std::vector<struct stat> stats;
        size_t next = 0;
        struct stat self {};
        bool evaluateSelf = true;
        bool isPackage = false;
        bool inPackage = false;
        int64_t contentSize = 0;
    };

    bool stopped() const { return stop_ && stop_->load(std::memory_order_relaxed); }

    // Opens and lists a folder without following a symbolic link; false when it cannot.
    // With statEntries, the entries that are not folders are examined there too: a lookup
    // relative to the open folder costs far less than one of the whole path later.
    static bool open(const std::string& path, Frame& f, bool statEntries) {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        if (::fstat(fd, &f.self) != 0) {
            ::close(fd);
            return false;
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return false;
        }
        while (dirent* e = ::readdir(dir)) {
            const char* n = e->d_name;
            if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
            f.entries.emplace_back(n, e->d_type);
        }
        if (statEntries) {
            // Examined and visited in the folder's own order, which follows the inodes on
            // disk more closely than the names do; results come in no particular order.
            f.stats.resize(f.entries.size());
            const int dfd = ::dirfd(dir);
            for (size_t i = 0; i < f.entries.size(); ++i) {
                if (f.entries[i].second == DT_DIR) continue;
                if (::fstatat(dfd, f.entries[i].first.c_str(), &f.stats[i], AT_SYMLINK_NOFOLLOW) != 0)
                    f.stats[i].st_mode = 0;
            }
        } else {
            std::sort(f.entries.begin(), f.entries.end());
        }
        ::closedir(dir);
        f.path = path;
        return true;
    }

    void visit(std::vector<Frame>& stack, Frame& parent, const std::string& name, unsigned char dtype,
               const struct stat* listed) {
        if (visited_) visited_->fetch_add(1, std::memory_order_relaxed);
        std::optional<ItemKind> kind = kindFromDirent(dtype);
        struct stat st {};
        bool haveStat = false;
        if (listed) {
            st = *listed;
            haveStat = true;
            kind = kindFromMode(st.st_mode);
        } else if (!kind || (parent.inPackage && *kind != ItemKind::Directory)) {
            if (::lstat(joinPath(parent.path, name).c_str(), &st) != 0) return;  // gone since the listing
            haveStat = true;
            kind = kindFromMode(st.st_mode);
        }
        if (*kind == ItemKind::Directory) {
            const std::string path = joinPath(parent.path, name);
            Frame child;
            if (open(path, child, statAtListing_)) {
                child.name = name;
                child.isPackage = isPackage(ItemKind::Directory, name);
                child.inPackage = parent.inPackage || child.isPackage;
                if (child.self.st_dev == dev_) {
                    stack.push_back(std::move(child));  // invalidates parent
                    return;
                }
                // Another file system mounted here: reported, not entered.
                Candidate c(path, name, ItemKind::Directory, &child.self, std::nullopt);
                test(c);
                return;
            }
            // Unreadable (or replaced since the listing): tested as it stands, not entered.
            if (::lstat(path.c_str(), &st) != 0) return;
            Candidate c(path, name, kindFromMode(st.st_mode), &st, std::nullopt);
            test(c);
            return;
        }
        if (parent.inPackage && haveStat && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
            parent.contentSize += st.st_size;
        }
        Candidate c(parent.path, name, *kind, haveStat ? &st : nullptr);
        test(c);
    }

    void test(Candidate& c) {
        if (!predicate_ || !emit_) return;
        if (!predicate_->evaluate([&](const std::string& a) { return c.lookup(a); })) return;
        if (auto attrs = c.allAttributes()) emit_(MetadataItem(std::move(*attrs)));
    }

    const MetadataPredicate* predicate_;
    const std::atomic<bool>* stop_;
    std::atomic<uint64_t>* visited_;
    Emit emit_;
    dev_t dev_ = 0;
    bool statAtListing_ = false;
};

}  // namespace

MetadataQuery::~MetadataQuery() {
    stopQuery();
    std::lock_guard<std::mutex> lock(joinMutex_);
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

bool MetadataQuery::setPredicateFormat(const std::string& text, std::string* error) {
    auto p = MetadataPredicate::parse(text, error);
    if (!p) return false;
    predicate_ = std::move(*p);
    return true;
}

void MetadataQuery::setPredicate(MetadataPredicate predicate) {
    predicate_ = std::move(predicate);
}
void MetadataQuery::setSearchScopes(std::vector<std::string> scopes) {
    scopes_ = std::move(scopes);
}
void MetadataQuery::setProgressHandler(ProgressHandler handler) {
    progress_ = std::move(handler);
}
void MetadataQuery::setFinishHandler(FinishHandler handler) {
    finish_ = std::move(handler);
}

bool MetadataQuery::startQuery() {
    if (started_.exchange(true)) return false;
    gathering_.store(true);
    std::lock_guard<std::mutex> lock(joinMutex_);
    try {
        thread_ = std::thread([this] { gather(); });
    } catch (...) {
        gathering_.store(false);
        return false;
    }
    return true;
}

void MetadataQuery::stopQuery() {
    stopRequested_.store(true);
}

void MetadataQuery::waitUntilFinished() {
    std::lock_guard<std::mutex> lock(joinMutex_);
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
    thread_.join();
}

void MetadataQuery::gather() {
    using SteadyClock = std::chrono::steady_clock;
    SteadyClock::time_point lastProgress{};  // the first results are reported at once
    size_t reported = 0;
    auto report = [&](bool force) {
        size_t n = resultCount();
        if (!progress_ || n == reported) return;
        auto now = SteadyClock::now();
        if (!force && now - lastProgress < std::chrono::milliseconds(100)) return;
        lastProgress = now;
        reported = n;
        progress_(n);
    };
    Walker walker(&predicate_, &stopRequested_, &visited_, [&](MetadataItem item) {
        {
            std::lock_guard<std::mutex> lock(resultsMutex_);
            if (!resultPaths_.insert(item.path()).second) return;
            results_.push_back(std::move(item));
        }
        report(false);
    });
    for (const std::string& scope : scopes_) {
        if (stopRequested_.load()) break;
        walker.walk(scope, false);
    }
    if (!stopRequested_.load()) report(true);
    if (!stopRequested_.load() && finish_) finish_(resultCount());
    gathering_.store(false);
}

size_t MetadataQuery::resultCount() const {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    return results_.size();
}

std::optional<MetadataItem> MetadataQuery::resultAtIndex(size_t index) const {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    if (index >= results_.size()) return std::nullopt;
    return results_[index];
}

std::vector<MetadataItem> MetadataQuery::results() const {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    return results_;
}

std::optional<MetadataItem> MetadataQuery::itemForPath(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    struct stat st {};
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return std::nullopt;
    ItemKind kind = kindFromMode(st.st_mode);
    std::string name = UniformType::lastPathComponent(p);
    std::optional<int64_t> size;
    if (isPackage(kind, name)) size = Walker(nullptr, nullptr, nullptr, nullptr).walk(p, true);
    Candidate c(p, name, kind, &st, size);
    auto attrs = c.allAttributes();
    if (!attrs) return std::nullopt;
    return MetadataItem(std::move(*attrs));
}

std::vector<MetadataItem> MetadataQuery::search(const MetadataPredicate& predicate,
                                                const std::vector<std::string>& scopes,
                                                const std::atomic<bool>* stop) {
    std::vector<MetadataItem> out;
    std::unordered_set<std::string> seen;
    Walker walker(&predicate, stop, nullptr, [&](MetadataItem item) {
        if (seen.insert(item.path()).second) out.push_back(std::move(item));
    });
    for (const std::string& scope : scopes) {
        if (stop && stop->load()) break;
        walker.walk(scope, false);
    }
    return out;
}

}  // namespace hvn
