// The one seam through which an extraction touches the file system for output.
//
// The extraction never opens an output file itself: it asks an OutputFiles for
// a folder and for whole files, so tests can hand it one that fails.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

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
    // is success; anything else already there fails with EEXIST ("File exists").
    virtual std::error_code createfolder(const std::filesystem::path& folder) = 0;

    // Makes `file` hold exactly `text`. The text goes to a temporary file in the
    // same folder that is then renamed over `file`, so a failure leaves the
    // earlier file as it was and no temporary file behind, and a link at `file`
    // is replaced, never followed.
    virtual std::error_code replacefile(const std::filesystem::path& file, TextSource& text) = 0;

    // The same for a text held whole.
    std::error_code replacefile(const std::filesystem::path& file, std::string_view text);
};

// The real file system.
OutputFiles& diskfiles();

}  // namespace v2bsp
