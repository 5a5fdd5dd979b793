// The one seam through which an extraction touches the file system for output.
//
// The extraction never opens an output file itself: it asks an OutputFiles for
// a folder and for whole files, so tests can hand it one that fails.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace v2bsp {

// The text of one file, handed over in pieces so that no file need be held whole.
class TextSource {
public:
    virtual ~TextSource() = default;
    // Replaces `chunk` by the next piece; false when there is none left.
    virtual bool next(std::string& chunk) = 0;
};

class OutputFiles {
public:
    virtual ~OutputFiles() = default;

    // Creates `folder` (one level; its parent must exist). A folder already there
    // is success; anything else already there fails with EEXIST ("File exists"),
    // and a symbolic link there is refused, never followed.
    virtual std::error_code createfolder(const std::filesystem::path& folder) = 0;

    // Makes `folder` and its missing parents, following links: the folder the
    // user named to hold the output.
    virtual std::error_code createpath(const std::filesystem::path& folder);

    // Makes `file` hold exactly `text`. The text goes to a temporary file in the
    // same folder that is then renamed over `file`, so a failure leaves the
    // earlier file as it was and no temporary file behind, and a link at `file`
    // is replaced, never followed. May be called from several threads at once
    // by a run of more than one job.
    virtual std::error_code replacefile(const std::filesystem::path& file, TextSource& text) = 0;

    // The same for a text held whole.
    std::error_code replacefile(const std::filesystem::path& file, std::string_view text);
};

// The errors of the output that the OS has no number for.
enum class OutputError {
    symboliclink = 1,  // a symbolic link where a folder should be made
};
const std::error_category& outputcategory();
std::error_code make_error_code(OutputError error);

// The real file system. Every file goes through a descriptor of its folder:
// the folders it creates are opened with O_NOFOLLOW once and kept open, and
// every file is made, linked and renamed relative to that descriptor, so
// neither a link planted at a folder's place nor a folder swapped for a link
// during a run can send a file elsewhere. A folder it did not create (the
// parent the user chose) is opened as the user named it, links followed.
//
// Temporary files are unnamed where the file system allows (O_TMPFILE), and
// get a name only for the instant between being linked and renamed into
// place; elsewhere they have a random name. While one has a name it is
// registered, so that installtemporarycleanup's handlers can remove it.
class DiskFiles final : public OutputFiles {
public:
    DiskFiles();
    ~DiskFiles() override;
    DiskFiles(const DiskFiles&) = delete;
    DiskFiles& operator=(const DiskFiles&) = delete;

    std::error_code createfolder(const std::filesystem::path& folder) override;
    std::error_code replacefile(const std::filesystem::path& file, TextSource& text) override;
    using OutputFiles::replacefile;

    // Test hooks: `unnamed` false makes every temporary file a named one;
    // `whilewriting` is called once a temporary file is open and holds a first piece.
    static void settesthooks(bool unnamed, void (*whilewriting)());

private:
    struct Folder {
        std::filesystem::path path;
        int fd;
    };
    // The descriptor of `folder`: one made by createfolder, or `folder` opened as named.
    int folderdescriptor(const std::filesystem::path& folder, std::error_code& failure);

    std::mutex mutex_;
    std::vector<Folder> folders_;
};

// The real file system for a caller that keeps no state between files: each
// call goes through a DiskFiles of its own.
OutputFiles& diskfiles();

// Installs handlers for SIGINT, SIGTERM and SIGHUP (where they are not
// ignored) that remove every registered temporary file and then end the
// process by the same signal. Call once, early, from a program's main.
void installtemporarycleanup();

}  // namespace v2bsp

template <>
struct std::is_error_code_enum<v2bsp::OutputError> : std::true_type {};
