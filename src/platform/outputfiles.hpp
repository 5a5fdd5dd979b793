// The one seam through which a run touches the file system for output.
//
// The extraction and the writers never open an output file themselves: they
// ask an OutputFiles for a folder and for whole files, so tests can hand them
// one that fails, and each operating system gives its own (diskfiles.hpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace v2bsp {

// The bytes of one file, handed over in pieces so that no file need be held
// whole. A piece may lie in memory the source does not own (the map image),
// so that bytes the file takes unchanged are never copied in between.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Sets `piece` to the next piece, valid until the next call or the
    // source's end; false when none is left. A piece may be empty.
    virtual bool nextPiece(std::string_view& piece) = 0;
    // The next piece copied into `chunk`; false when none is left.
    bool next(std::string& chunk);
};

// A source that makes each piece in a buffer of its own.
class BufferedSource : public ByteSource {
public:
    bool nextPiece(std::string_view& piece) final;

protected:
    // Replaces `chunk` by the next piece; false when there is none left.
    virtual bool fill(std::string& chunk) = 0;

private:
    std::string buffer_;
};

// What makes a file or folder the same whatever names it has (on POSIX its
// device and inode, on Windows its volume's serial number and its file
// index); `known` false when nothing is known of it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool known = false;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

class OutputFiles {
public:
    virtual ~OutputFiles() = default;

    // Creates `folder` (one level; its parent must exist). A folder already there
    // is success; anything else already there fails (EEXIST, "File exists", or
    // the system's own reason), and a link there is refused, never followed
    // (OutputError::symbolicLink or linkOrJunction).
    virtual std::error_code createFolder(const std::filesystem::path& folder) = 0;

    // Makes `folder` and its missing parents, following links: the folder the
    // user named to hold the output.
    virtual std::error_code createPath(const std::filesystem::path& folder);

    // Makes `file` hold exactly the bytes of `source`. They go to a temporary
    // file in the same folder that then replaces `file`, so a failure leaves
    // the earlier file as it was and no temporary file behind, and a link at
    // `file` is replaced, never followed. May be called from several threads
    // at once by a run of more than one job.
    virtual std::error_code replaceFile(const std::filesystem::path& file, ByteSource& source) = 0;

    // The same for bytes held whole.
    std::error_code replaceFile(const std::filesystem::path& file, std::string_view bytes);

    // Whether the name `file` itself (not a link there) is the file of
    // `identity`. The default knows no file: false.
    virtual bool isFile(const std::filesystem::path& file, const FileIdentity& identity);

    // What the name `path` stands for on the file system, links followed: the
    // identity of the folder or file there, unknown when nothing is there or
    // the system cannot say. Names that differ (in case, short and long forms,
    // links) have one identity when they reach the same folder or file. The
    // default knows none.
    virtual FileIdentity identity(const std::filesystem::path& path);

    // The names of what `folder` holds that is no folder: regular files, and
    // links of every kind but a folder's, none followed; in no particular
    // order, none when it cannot be read. The same names on every system.
    // The default lists none.
    virtual std::vector<std::string> fileNames(const std::filesystem::path& folder);
};

// The errors of the output that the OS has no number for.
enum class OutputError {
    symbolicLink = 1,  // a symbolic link where a folder should be made
    linkOrJunction,    // the same where links and junctions are reparse points
    inputMap,          // the file to be replaced is the map being extracted
};
const std::error_category& outputCategory();
// The name std::error_code looks for, so that an OutputError converts to one.
std::error_code make_error_code(OutputError error);  // NOLINT(readability-identifier-naming)

}  // namespace v2bsp

template <>
struct std::is_error_code_enum<v2bsp::OutputError> : std::true_type {};
