// The record behind a "Choix" button: an initial file, a title and the chosen path.
// The chooser window itself belongs to the GUI and is reached through a presenter.
#pragma once

#include "params/paramapi.h"

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct FileSelector {
    enum Option : int {
        kExplorer = 1, // the desktop's own chooser look
        kCreatePrompt = 2, // ask before naming a file that does not exist
        kHideReadOnly = 4,
        kSaveName = 8 // a name to write: new names are accepted, replacing one is asked
    };

    // Empty: the chooser shows every file.
    std::array<char, 1000> filter {};
    // Only the first PARAM_PATH_BUFFER bytes are used, NUL included.
    std::array<char, 1000> fileName {};
    std::array<char, 1000> fileTitle {};
    std::string title;
    int options = kExplorer | kCreatePrompt | kHideReadOnly;
};

namespace vexa::params {

struct FileSelectorDeleter {
    void operator()(FileSelector* selector) const { dozFileDestroy(selector); }
};
using FileSelectorPtr = std::unique_ptr<FileSelector, FileSelectorDeleter>;

// Longest path a selector or a bound path buffer holds, without its NUL.
constexpr size_t kMaxPathChars = PARAM_PATH_BUFFER - 1;

// Copies text into a buffer of capacity bytes, cut to at most maxChars characters and
// NUL-terminated. Returns the number of characters copied.
size_t copyBounded(char* buffer, size_t capacity, std::string_view text, size_t maxChars);

// Stores a chosen path (and its last component as the title). A path longer than
// kMaxPathChars is refused and leaves the selector unchanged: a cut path would name
// another file.
bool setChosenFile(FileSelector& selector, std::string_view path);

// The chooser: shows the selector's title and initial file, answers the chosen path
// or nothing when cancelled. Without a presenter no file is ever chosen.
using FileChooserPresenter = std::function<std::optional<std::string>(const FileSelector&)>;
void setFileChooserPresenter(FileChooserPresenter presenter);

} // namespace vexa::params
