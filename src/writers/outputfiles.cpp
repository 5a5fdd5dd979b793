#include "writers/outputfiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

namespace v2bsp {
namespace {

constexpr int kTemporaryAttempts = 100;

std::error_code lastError() { return {errno, std::generic_category()}; }

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

class DiskFiles final : public OutputFiles {
public:
    std::error_code createfolder(const std::filesystem::path& folder) override {
        if (::mkdir(folder.c_str(), 0777) == 0) return {};
        const std::error_code failure = lastError();
        struct stat info {};
        if (failure.value() == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return {};
        }
        return failure;
    }

    std::error_code replacefile(const std::filesystem::path& file, TextSource& text) override {
        // The temporary name is unique to this file and process; O_EXCL refuses
        // anything already there, a link included.
        std::filesystem::path temporary;
        int fd = -1;
        for (int attempt = 0; fd < 0 && attempt < kTemporaryAttempts; ++attempt) {
            temporary = file;
            temporary += ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0 && errno != EEXIST) return lastError();
        }
        if (fd < 0) return lastError();
        std::error_code failure;
        std::string chunk;
        try {
            while (!failure && text.next(chunk)) failure = writeAll(fd, chunk);
        } catch (const std::bad_alloc&) {
            failure = std::make_error_code(std::errc::not_enough_memory);
        }
        if (::close(fd) != 0 && !failure) failure = lastError();
        if (!failure && std::rename(temporary.c_str(), file.c_str()) != 0) failure = lastError();
        if (failure) ::unlink(temporary.c_str());
        return failure;
    }
};

class WholeText final : public TextSource {
public:
    explicit WholeText(std::string_view text) : text_(text) {}
    bool next(std::string& chunk) override {
        if (done_) return false;
        chunk.assign(text_);
        done_ = true;
        return true;
    }

private:
    std::string_view text_;
    bool done_ = false;
};

}  // namespace

std::error_code OutputFiles::replacefile(const std::filesystem::path& file, std::string_view text) {
    WholeText whole(text);
    return replacefile(file, whole);
}

OutputFiles& diskfiles() {
    static DiskFiles files;
    return files;
}

}  // namespace v2bsp
