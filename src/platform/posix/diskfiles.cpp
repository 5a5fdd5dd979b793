#include "platform/diskfiles.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <list>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace v2bsp {
namespace {

constexpr int kTemporaryAttempts = 100;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// Writes all of `text` to `fd`, going on after short writes and interruptions.
std::error_code writeAll(int fd, std::string_view text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t wrote = ::write(fd, data, left);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        data += wrote;
        left -= static_cast<std::size_t>(wrote);
    }
    return {};
}

// A random name, not derived from the process, so that nothing planted in
// advance can stand in its way.
std::string temporaryName() {
    unsigned char bytes[8] = {};
    if (::getentropy(bytes, sizeof bytes) != 0) {
        // No randomness to be had: the clock and the address of a local still differ per call.
        const auto mix = static_cast<unsigned long long>(::clock()) ^ reinterpret_cast<std::uintptr_t>(&bytes);
        std::memcpy(bytes, &mix, sizeof bytes);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name = ".v2bsp-";
    for (const unsigned char byte : bytes) {
        name += kDigits[byte >> 4];
        name += kDigits[byte & 15];
    }
    return name + ".tmp";
}

// The temporary files that have a name, for the handlers of the signals
// that end the process. Every change of the names a run makes (a temporary
// file created, linked, renamed or removed, and its entry in the registry)
// happens inside a NameChange: with these signals blocked in its thread, and
// counted. A handler first marks the process as ending, so that no change
// begins after it, then waits for the changes in flight to end; only then
// does it read the registry, which nothing changes any more, and remove what
// it names. So no thread links or creates a name after the handler's pass,
// however many threads write, and the registry may grow without a bound.
// Nothing inside a change allocates: a handler that waits for it may have
// interrupted its thread inside the allocator.
struct Temporary {
    int folder;
    std::string name;
};
std::mutex temporariesMutex;
std::list<Temporary>* temporaries = new std::list<Temporary>;  // never freed: a handler may read it at exit
std::atomic<bool> ending{false};
std::atomic<int> changing{0};

sigset_t endingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signalNumber);
    return signals;
}

class NameChange {
public:
    NameChange() {
        const sigset_t signals = endingSignals();
        ::pthread_sigmask(SIG_BLOCK, &signals, &earlier_);
        changing.fetch_add(1);
        if (ending.load()) {
            // The process is ending: the handler waits for no one but the
            // changes already begun, and this one never begins.
            changing.fetch_sub(1);
            for (;;) ::pause();
        }
    }
    ~NameChange() {
        changing.fetch_sub(1);
        ::pthread_sigmask(SIG_SETMASK, &earlier_, nullptr);
    }
    NameChange(const NameChange&) = delete;
    NameChange& operator=(const NameChange&) = delete;

private:
    sigset_t earlier_;
};

// A fresh random temporary name in `folder`, in a registry entry of its own,
// made (and freed) outside any NameChange; add() and remove(), inside one,
// move the entry into the registry and out again without allocating.
class TemporaryName {
public:
    explicit TemporaryName(int folder) : entry_{{folder, temporaryName()}}, at_(entry_.begin()) {}
    const char* name() const { return at_->name.c_str(); }
    void add() {
        std::lock_guard lock(temporariesMutex);
        temporaries->splice(temporaries->end(), entry_, at_);
    }
    void remove() {
        std::lock_guard lock(temporariesMutex);
        entry_.splice(entry_.end(), *temporaries, at_);
    }

private:
    std::list<Temporary> entry_;  // holds the entry while it is not registered
    std::list<Temporary>::iterator at_;
};

extern "C" void removeTemporariesAndDie(int signalNumber) {
    ending.store(true);
    // The changes in flight are a few system calls each.
    while (changing.load() != 0) ::sched_yield();
    for (const Temporary& entry : *temporaries) ::unlinkat(entry.folder, entry.name.c_str(), 0);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

std::error_code writeText(int fd, ByteSource& text, const std::function<void()>& whileWriting) {
    std::error_code failure;
    std::string_view piece;
    bool first = true;
    try {
        while (!failure && text.nextPiece(piece)) {
            failure = writeAll(fd, piece);
            if (first) {
                first = false;
                if (whileWriting) whileWriting();
            }
        }
    } catch (const std::bad_alloc&) {
        failure = std::make_error_code(std::errc::not_enough_memory);
    }
    return failure;
}

// Gives the unnamed file `fd` the name `file` in `folder`: linked there when
// nothing is in the way, else linked under a temporary name and renamed over
// what is there.
std::error_code linkIntoPlace(int folder, int fd, const std::string& file) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    {
        const NameChange change;
        // Where nothing is in the way, the whole file is linked at its own name
        // at once: no name of its own ever shows a part of it.
        if (::linkat(AT_FDCWD, proc.c_str(), folder, file.c_str(), AT_SYMLINK_FOLLOW) == 0) return {};
        if (errno != EEXIST) return lastError();
    }
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        TemporaryName temporary(folder);
        const NameChange change;
        temporary.add();
        if (::linkat(AT_FDCWD, proc.c_str(), folder, temporary.name(), AT_SYMLINK_FOLLOW) != 0) {
            const std::error_code failure = lastError();
            temporary.remove();
            if (failure.value() == EEXIST) continue;
            return failure;
        }
        std::error_code failure;
        if (::renameat(folder, temporary.name(), folder, file.c_str()) != 0) {
            failure = lastError();
            ::unlinkat(folder, temporary.name(), 0);
        }
        temporary.remove();
        return failure;
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code replaceUnnamed(int folder, const std::string& file, ByteSource& text,
                               const std::function<void()>& whileWriting, bool& unsupported) {
    const int fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        return lastError();
    }
    std::error_code failure = writeText(fd, text, whileWriting);
    if (!failure) failure = linkIntoPlace(folder, fd, file);
    if (::close(fd) != 0 && !failure) failure = lastError();
    return failure;
}

std::error_code replaceNamed(int folder, const std::string& file, ByteSource& text,
                             const std::function<void()>& whileWriting) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        TemporaryName temporary(folder);
        int fd = -1;
        std::error_code failure;
        {
            // Registered before it exists, so that no instant shows it unregistered.
            const NameChange change;
            temporary.add();
            fd = ::openat(folder, temporary.name(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0) {
                failure = lastError();
                temporary.remove();
            }
        }
        if (fd < 0) {
            if (failure.value() == EEXIST) continue;
            return failure;
        }
        failure = writeText(fd, text, whileWriting);
        if (::close(fd) != 0 && !failure) failure = lastError();
        const NameChange change;
        if (!failure && ::renameat(folder, temporary.name(), folder, file.c_str()) != 0) failure = lastError();
        if (failure) ::unlinkat(folder, temporary.name(), 0);
        temporary.remove();
        return failure;
    }
    return std::make_error_code(std::errc::file_exists);
}

// The real file system: the folders this object made or opened, each held
// by a descriptor for the object's life.
class DiskFiles final : public OutputFiles {
public:
    explicit DiskFiles(DiskFilesOptions options) : options_(std::move(options)) {}
    ~DiskFiles() override {
        for (const Folder& folder : folders_) ::close(folder.fd);
    }
    DiskFiles(const DiskFiles&) = delete;
    DiskFiles& operator=(const DiskFiles&) = delete;

    std::error_code createFolder(const std::filesystem::path& folder) override;
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& source) override;
    using OutputFiles::replaceFile;
    bool isFile(const std::filesystem::path& file, const FileIdentity& identity) override;
    FileIdentity identity(const std::filesystem::path& path) override;
    std::vector<std::string> fileNames(const std::filesystem::path& folder) override;

private:
    struct Folder {
        std::filesystem::path path;
        int fd;
    };
    // The descriptor of `folder`: one made by createFolder, or `folder` opened as named.
    int folderDescriptor(const std::filesystem::path& folder, std::error_code& failure);

    const DiskFilesOptions options_;
    std::mutex mutex_;
    std::vector<Folder> folders_;
};

}  // namespace

int DiskFiles::folderDescriptor(const std::filesystem::path& folder, std::error_code& failure) {
    const std::filesystem::path key = folder.empty() ? "." : folder;
    std::lock_guard lock(mutex_);
    for (const Folder& known : folders_) {
        if (known.path == key) return known.fd;
    }
    const int fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        failure = lastError();
        return -1;
    }
    folders_.push_back({key, fd});
    return fd;
}

std::error_code DiskFiles::createFolder(const std::filesystem::path& folder) {
    {
        // A folder made before is used while it is there; one removed during
        // the run is made again.
        std::lock_guard lock(mutex_);
        for (auto it = folders_.begin(); it != folders_.end(); ++it) {
            if (it->path != folder) continue;
            struct stat info {};
            if (::fstat(it->fd, &info) == 0 && info.st_nlink > 0) return {};
            ::close(it->fd);
            folders_.erase(it);
            break;
        }
    }
    std::error_code failure;
    const std::filesystem::path parent = folder.parent_path();
    const int parentFd = folderDescriptor(parent, failure);
    if (parentFd < 0) return failure;
    const std::string name = folder.filename().string();
    if (::mkdirat(parentFd, name.c_str(), 0777) != 0 && errno != EEXIST) return lastError();
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const std::error_code openFailure = lastError();
        struct stat info {};
        if (::fstatat(parentFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(info.st_mode)) return OutputError::symbolicLink;
            if (!S_ISDIR(info.st_mode)) return std::make_error_code(std::errc::file_exists);
        }
        return openFailure;
    }
    std::lock_guard lock(mutex_);
    folders_.push_back({folder, fd});
    return {};
}

std::error_code DiskFiles::replaceFile(const std::filesystem::path& file, ByteSource& source) {
    std::error_code failure;
    const int folder = folderDescriptor(file.parent_path(), failure);
    if (folder < 0) return failure;
    const std::string name = file.filename().string();
    // An unnamed file is linked through /proc; without it, files are named.
    static const bool kLinkable = ::access("/proc/self/fd", X_OK) == 0;
    if (kLinkable && options_.unnamedTemporaries) {
        bool unsupported = false;
        failure = replaceUnnamed(folder, name, source, options_.whileWriting, unsupported);
        // The source is untouched when the file system has no unnamed files.
        if (!unsupported) return failure;
    }
    return replaceNamed(folder, name, source, options_.whileWriting);
}

bool DiskFiles::isFile(const std::filesystem::path& file, const FileIdentity& identity) {
    if (!identity.known) return false;
    std::error_code failure;
    const int folder = folderDescriptor(file.parent_path(), failure);
    struct stat info {};
    if (folder < 0 || ::fstatat(folder, file.filename().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    return static_cast<std::uint64_t>(info.st_dev) == identity.device &&
           static_cast<std::uint64_t>(info.st_ino) == identity.file;
}

FileIdentity DiskFiles::identity(const std::filesystem::path& path) {
    std::error_code failure;
    const int folder = folderDescriptor(path.parent_path(), failure);
    struct stat info {};
    if (folder < 0 || ::fstatat(folder, path.filename().c_str(), &info, 0) != 0) return {};
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), true};
}

std::vector<std::string> DiskFiles::fileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code failure;
    const int fd = folderDescriptor(folder, failure);
    if (fd < 0) return names;
    // The listing reads through a descriptor of its own: the kept one stays untouched.
    const int listing = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return names;
    DIR* const dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        struct stat info {};
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN && ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            type = S_ISREG(info.st_mode) ? DT_REG : S_ISLNK(info.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        // A link to a folder is a folder, as on Windows; a dangling link is listed.
        const bool file = type == DT_REG || (type == DT_LNK && !(::fstatat(fd, entry->d_name, &info, 0) == 0 &&
                                                                   S_ISDIR(info.st_mode)));
        if (file) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

std::unique_ptr<OutputFiles> makeDiskFiles(DiskFilesOptions options) {
    return std::make_unique<DiskFiles>(std::move(options));
}

void installTemporaryCleanup() {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndDie;
        action.sa_mask = endingSignals();
        ::sigaction(signalNumber, &action, nullptr);
    }
}

void reportWriteSignalsAsErrors() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace v2bsp
