#include "platform/diskfiles.hpp"

#include <windows.h>

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/utf8path.hpp"
#include "platform/win32/winsystem.hpp"

// The native calls that take a name relative to a folder's handle.
extern "C" {
NTSTATUS NTAPI NtCreateFile(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG,
                            ULONG, ULONG, PVOID, ULONG);
NTSTATUS NTAPI NtSetInformationFile(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
}

namespace v2bsp {
namespace {

constexpr int kTemporaryAttempts = 100;
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035L);  // STATUS_OBJECT_NAME_COLLISION
constexpr NTSTATUS kNotAFolder = static_cast<NTSTATUS>(0xC0000103L);     // STATUS_NOT_A_DIRECTORY
constexpr ULONG kCreate = 2;                                             // FILE_CREATE
constexpr ULONG kOpen = 1;                                               // FILE_OPEN
constexpr ULONG kFolderFile = 0x00000001;                                // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronousIo = 0x00000020;                             // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kNotAFolderFile = 0x00000040;                            // FILE_NON_DIRECTORY_FILE
constexpr ULONG kOpenReparsePoint = 0x00200000;                          // FILE_OPEN_REPARSE_POINT
constexpr auto kRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
// WriteFile takes a 32-bit count.
constexpr std::size_t kLargestWrite = std::size_t{1} << 30;

// What a folder's handle is opened for: listing, making files and folders in
// it and reading its attributes. Never FILE_SHARE_DELETE: while the handle is
// held the folder cannot be renamed, removed or swapped for a link.
constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct RenameInformation {  // FILE_RENAME_INFORMATION
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

std::error_code lastError() {
    return systemError(::GetLastError());
}

// Opens `name` in the folder of `folder` (its handle), nothing else in the way.
NTSTATUS openIn(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                ULONG options, HANDLE& opened) {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.data());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    opened = nullptr;
    return ::NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, sharing,
                          disposition, options | kSynchronousIo, nullptr, 0);
}

// Gives the open `file` the name `name` in `folder`, replacing what has it.
NTSTATUS renameInto(HANDLE file, HANDLE folder, std::wstring_view name) {
    std::vector<unsigned char> buffer(sizeof(RenameInformation) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<RenameInformation*>(buffer.data());
    rename->replaceIfExists = TRUE;
    rename->rootDirectory = folder;
    rename->fileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->fileName, name.data(), rename->fileNameLength);
    IO_STATUS_BLOCK io{};
    return ::NtSetInformationFile(file, &io, buffer.data(), static_cast<ULONG>(buffer.size()), kRenameInformation);
}

// Marks the open `file` to be removed when its last handle closes, or clears the mark.
bool markRemoved(HANDLE file, bool removed) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = removed ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool isReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Whether the open `file`, or what `path` names, is a link or a junction. The
// handle's attributes decide on Windows; wine shows the mark on the name only.
bool isLinkOrJunction(HANDLE file, const std::filesystem::path& path) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (file != nullptr && ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) != 0 &&
        isReparsePoint(tag.FileAttributes)) {
        return true;
    }
    return isReparsePoint(::GetFileAttributesW(systemPath(path).c_str()));
}

// Temporary files are marked removed from their first instant: whatever ends
// the process, the system removes them when their handles close. Between a
// file's creation and its mark, and for the moment of its rename, a file is
// unmarked; the console handler waits for such moments to pass and lets none
// begin after it.
SRWLOCK placing = SRWLOCK_INIT;

BOOL WINAPI endOnConsoleEvent(DWORD) {
    ::AcquireSRWLockExclusive(&placing);
    // The status Windows' own handler ends a process with; wine's would end it with 0.
    ::ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

// A random name, not derived from the process, so that nothing planted in
// advance can stand in its way.
std::wstring temporaryName() {
    static std::mutex mutex;
    static std::random_device random;
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring name = L".v2bsp-";
    std::lock_guard lock(mutex);
    for (int i = 0; i < 4; ++i) {
        const unsigned value = random();
        for (int shift = 0; shift < 16; shift += 4) name += kDigits[(value >> shift) & 15];
    }
    return name + L".tmp";
}

std::error_code writeText(HANDLE file, ByteSource& text, const std::function<void()>& whileWriting) {
    std::string_view piece;
    bool first = true;
    try {
        while (text.nextPiece(piece)) {
            while (!piece.empty()) {
                const DWORD count = static_cast<DWORD>(std::min(piece.size(), kLargestWrite));
                DWORD wrote = 0;
                if (::WriteFile(file, piece.data(), count, &wrote, nullptr) == 0) return lastError();
                piece.remove_prefix(wrote);
            }
            if (first) {
                first = false;
                if (whileWriting) whileWriting();
            }
        }
    } catch (const std::bad_alloc&) {
        return systemError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return {};
}

struct Handle {
    HANDLE value = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : value(handle) {}
    Handle(Handle&& other) noexcept : value(std::exchange(other.value, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(value, other.value);
        return *this;
    }
    ~Handle() {
        if (value != nullptr && value != INVALID_HANDLE_VALUE) ::CloseHandle(value);
    }
};

// The real file system: the folders this object made or opened, each held
// by a handle for the object's life.
class DiskFiles final : public OutputFiles {
public:
    explicit DiskFiles(DiskFilesOptions options) : options_(std::move(options)) {}

    std::error_code createFolder(const std::filesystem::path& folder) override;
    std::error_code createPath(const std::filesystem::path& folder) override;
    std::error_code replaceFile(const std::filesystem::path& file, ByteSource& source) override;
    using OutputFiles::replaceFile;
    bool isFile(const std::filesystem::path& file, const FileIdentity& identity) override;
    FileIdentity identity(const std::filesystem::path& path) override;
    std::vector<std::string> fileNames(const std::filesystem::path& folder) override;

private:
    struct Folder {
        std::filesystem::path path;
        Handle handle;
    };
    // The handle of `folder`: one made by createFolder, or `folder` opened as named.
    HANDLE folderHandle(const std::filesystem::path& folder, std::error_code& failure);
    FileIdentity identityOf(const std::filesystem::path& path, ULONG options);

    const DiskFilesOptions options_;
    std::mutex mutex_;
    std::vector<Folder> folders_;
};

}  // namespace

HANDLE DiskFiles::folderHandle(const std::filesystem::path& folder, std::error_code& failure) {
    const std::filesystem::path key = folder.empty() ? "." : folder;
    std::lock_guard lock(mutex_);
    for (const Folder& known : folders_) {
        if (known.path == key) return known.handle.value;
    }
    Handle opened(::CreateFileW(systemPath(key).c_str(), kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (opened.value == INVALID_HANDLE_VALUE) {
        failure = lastError();
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(opened.value, &info) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        failure = systemError(ERROR_DIRECTORY);
        return nullptr;
    }
    folders_.push_back({key, std::move(opened)});
    return folders_.back().handle.value;
}

std::error_code DiskFiles::createFolder(const std::filesystem::path& folder) {
    {
        // A held folder cannot be removed while it is held.
        std::lock_guard lock(mutex_);
        for (const Folder& known : folders_) {
            if (known.path == folder) return {};
        }
    }
    std::error_code failure;
    const HANDLE parent = folderHandle(folder.parent_path(), failure);
    if (parent == nullptr) return failure;
    const std::wstring name = folder.filename().native();
    Handle made;
    NTSTATUS status = openIn(parent, name, kFolderAccess, kFolderSharing, kCreate, kFolderFile, made.value);
    if (status == kNameCollision) {
        // What is there is opened itself, a link or junction included, and looked at.
        status =
            openIn(parent, name, kFolderAccess, kFolderSharing, kOpen, kFolderFile | kOpenReparsePoint, made.value);
    }
    if (status == kNotAFolder) {
        if (isLinkOrJunction(nullptr, folder)) return OutputError::linkOrJunction;
        return systemError(ERROR_ALREADY_EXISTS);
    }
    if (!NT_SUCCESS(status)) {
        made.value = nullptr;
        return ntError(status);
    }
    if (isLinkOrJunction(made.value, folder)) return OutputError::linkOrJunction;
    std::lock_guard lock(mutex_);
    folders_.push_back({folder, std::move(made)});
    return {};
}

std::error_code DiskFiles::createPath(const std::filesystem::path& folder) {
    std::error_code failure;
    std::filesystem::path full = std::filesystem::absolute(folder, failure);
    if (failure) return failure;
    // The missing folders, from the innermost out, then made from the outermost in.
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = full.lexically_normal(); at.has_relative_path(); at = at.parent_path()) {
        if (at.filename().empty()) continue;
        const DWORD attributes = ::GetFileAttributesW(systemPath(at).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) break;
        missing.push_back(at);
    }
    for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
        if (::CreateDirectoryW(systemPath(*at).c_str(), nullptr) == 0 && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return lastError();
        }
    }
    const DWORD attributes = ::GetFileAttributesW(systemPath(full).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return lastError();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return systemError(ERROR_ALREADY_EXISTS);
    return {};
}

std::error_code DiskFiles::replaceFile(const std::filesystem::path& file, ByteSource& source) {
    std::error_code failure;
    const HANDLE folder = folderHandle(file.parent_path(), failure);
    if (folder == nullptr) return failure;
    const std::wstring name = file.filename().native();
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        Handle temporary;
        ::AcquireSRWLockShared(&placing);
        const NTSTATUS status = openIn(folder, temporaryName(), DELETE | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES, 0,
                                       kCreate, kNotAFolderFile, temporary.value);
        const bool marked = NT_SUCCESS(status) && markRemoved(temporary.value, true);
        ::ReleaseSRWLockShared(&placing);
        if (status == kNameCollision) continue;
        if (!NT_SUCCESS(status)) {
            temporary.value = nullptr;
            return ntError(status);
        }
        if (!marked) return lastError();
        failure = writeText(temporary.value, source, options_.whileWriting);
        if (failure) return failure;
        ::AcquireSRWLockShared(&placing);
        if (!markRemoved(temporary.value, false)) {
            failure = lastError();
        } else if (const NTSTATUS renamed = renameInto(temporary.value, folder, name); !NT_SUCCESS(renamed)) {
            failure = ntError(renamed);
            markRemoved(temporary.value, true);
        }
        ::ReleaseSRWLockShared(&placing);
        return failure;
    }
    return systemError(ERROR_FILE_EXISTS);
}

// The identity of what `path` names, opened in its folder's handle with `options`.
FileIdentity DiskFiles::identityOf(const std::filesystem::path& path, ULONG options) {
    std::error_code failure;
    const HANDLE folder = folderHandle(path.parent_path(), failure);
    if (folder == nullptr) return {};
    Handle opened;
    const NTSTATUS status =
        openIn(folder, path.filename().native(), FILE_READ_ATTRIBUTES,
               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpen, options, opened.value);
    if (!NT_SUCCESS(status)) {
        opened.value = nullptr;
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(opened.value, &info) == 0) return {};
    return {info.dwVolumeSerialNumber, std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow, true};
}

bool DiskFiles::isFile(const std::filesystem::path& file, const FileIdentity& identity) {
    return identity.known && identityOf(file, kOpenReparsePoint) == identity;
}

FileIdentity DiskFiles::identity(const std::filesystem::path& path) {
    return identityOf(path, 0);
}

std::vector<std::string> DiskFiles::fileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code failure;
    const HANDLE handle = folderHandle(folder, failure);
    if (handle == nullptr) return names;
    // The listing's place is the handle's: one listing at a time, from its start.
    std::lock_guard lock(mutex_);
    std::vector<std::uint64_t> buffer(8 * 1024);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
    FILE_INFO_BY_HANDLE_CLASS next = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(handle, next, buffer.data(), size) != 0) {
        next = FileIdBothDirectoryInfo;
        for (auto at = reinterpret_cast<const unsigned char*>(buffer.data());;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const DWORD kind = entry->FileAttributes;
            // A link to a file is listed as the file system shows it there (its
            // reparse mark shown or not); a link to a folder is a folder.
            if ((kind & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0) {
                names.push_back(utf8FromWide({entry->FileName, entry->FileNameLength / sizeof(wchar_t)}));
            }
            if (entry->NextEntryOffset == 0) break;
            at += entry->NextEntryOffset;
        }
    }
    return names;
}

std::unique_ptr<OutputFiles> makeDiskFiles(DiskFilesOptions options) {
    return std::make_unique<DiskFiles>(std::move(options));
}

void installTemporaryCleanup() {
    ::SetConsoleCtrlHandler(endOnConsoleEvent, TRUE);
}

// Windows raises no signal for a closed pipe or a file-size limit: the write
// fails with its reason already.
void reportWriteSignalsAsErrors() {}

}  // namespace v2bsp
