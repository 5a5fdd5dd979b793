#include "platform/mapfile.hpp"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/utf8path.hpp"
#include "platform/win32/winsystem.hpp"

namespace v2bsp {
namespace {

// ReadFile takes a 32-bit count.
constexpr DWORD kLargestRead = DWORD{1} << 30;

std::error_code lastError() {
    return systemError(::GetLastError());
}

}  // namespace

// One read: `pool` is not needed here.
MapBytes loadMapFile(const std::filesystem::path& path, FileIdentity* identity, WorkerPool*) {
    const std::string shown = shownPath(path);
    if (shown.empty()) throw MapError::file(MapErrorKind::noFile, shown);
    // Backup semantics let a folder be opened too, so that it is named as one.
    const HANDLE file =
        ::CreateFileW(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw MapError::file(MapErrorKind::cannotOpen, shown, lastError());
    struct Closer {
        HANDLE file;
        ~Closer() { ::CloseHandle(file); }
    } closer{file};

    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info) == 0) {
        // A device (NUL, CON, a pipe) has no such information.
        if (::GetFileType(file) != FILE_TYPE_DISK) throw MapError::file(MapErrorKind::notRegular, shown);
        throw MapError::file(MapErrorKind::cannotRead, shown, lastError());
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) throw MapError::file(MapErrorKind::folder, shown);
    if (::GetFileType(file) != FILE_TYPE_DISK) throw MapError::file(MapErrorKind::notRegular, shown);
    const std::uint64_t size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    if (size == 0) throw MapError::file(MapErrorKind::empty, shown);
    if (identity != nullptr) {
        const std::uint64_t index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
        *identity = {info.dwVolumeSerialNumber, index, true};
    }
    if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw MapError::file(MapErrorKind::tooLong, shown);
    }

    MapBytes bytes = mapBytesFor(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kLargestRead));
        DWORD got = 0;
        if (::ReadFile(file, bytes.data() + done, wanted, &got, nullptr) == 0) {
            throw MapError::file(MapErrorKind::cannotRead, shown, lastError());
        }
        if (got == 0) {
            // The file shrank between its length being taken and the read.
            throw MapError::file(MapErrorKind::shrank, shown);
        }
        done += got;
    }
    return bytes;
}

}  // namespace v2bsp
