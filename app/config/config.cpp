#include "config/config.h"

#include "quill.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <memory>
#include <mutex>
#include <string_view>

namespace vexa::config {
namespace {

constexpr int kReadLevel = 10;

struct DocumentCloser {
    void operator()(QuillNode* doc) const { quillDestroy(doc); }
};
using Document = std::unique_ptr<QuillNode, DocumentCloser>;

struct ArrayReleaser {
    void operator()(void* array) const { quillRelease(array); }
};
template <typename T> using QuillArray = std::unique_ptr<T*, ArrayReleaser>;

std::mutex pathMutex;
std::string& storedPath()
{
    static std::string path = defaultConfigPath();
    return path;
}

// A configuration file is small: anything that is not a regular file of sensible size
// (a device, a directory, a runaway log) reads as a missing file.
Document readDocument()
{
    std::string path = configPath();
    struct stat st { };
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxConfigBytes)
        return nullptr;
    return Document(quillRead(path.c_str(), kReadLevel));
}

// Walks the node path from the root: a name found exactly once is descended into; a
// name found never or several times leaves the walk where it is. Null when no descent
// succeeded.
QuillNode* walk(QuillNode* root, std::string_view nodePath)
{
    QuillNode* current = root;
    QuillNode* reached = nullptr;
    while (true) {
        size_t comma = nodePath.find(',');
        std::string name(nodePath.substr(0, comma));
        int count = 0;
        QuillArray<QuillNode> found(quillNodeFindNodes(current, name.c_str(), kReadLevel, &count));
        if (count == 1 && found) {
            current = found.get()[0];
            reached = current;
        }
        if (comma == std::string_view::npos)
            break;
        nodePath.remove_prefix(comma + 1);
    }
    return reached;
}

// Calls use(items, count) with the items of the key in a freshly read document.
template <typename Use> void withItems(int key, Use&& use)
{
    std::optional<KeyLocation> location = keyLocation(key);
    if (!location)
        return;
    Document doc = readDocument();
    if (!doc)
        return;
    QuillNode* node = walk(doc.get(), location->nodePath);
    int count = 0;
    QuillArray<QuillItem> items(quillNodeFindItems(node, location->item, kReadLevel, &count));
    if (!items || count < 0)
        count = 0;
    use(items.get(), count);
}

} // namespace

std::optional<KeyLocation> keyLocation(int key)
{
    switch (key) {
    case PATH_STUDY:
        return KeyLocation { "PATHS,STUDY", "PATH" };
    case LOAD_LIBRARY:
        return KeyLocation { "LIBRARY", "PATH" };
    case WINDOWS_MANAGEMENT:
        return KeyLocation { "WINDOWS", "MANAGEMENT" };
    case WINDOWS_CORRECTION:
        return KeyLocation { "WINDOWS", "CORRECTION" };
    case AUTO_RANGE:
        return KeyLocation { "DISPLAY", "AUTO_RANGE" };
    case FILE_BLOCK_SHARE:
        return KeyLocation { "MEMORY", "FILE_BLOCK_SHARE" };
    default:
        return std::nullopt;
    }
}

std::string defaultConfigPath()
{
    std::string exe(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0 || static_cast<size_t>(n) >= exe.size())
        return kConfigFileName;
    exe.resize(static_cast<size_t>(n));
    size_t slash = exe.find_last_of('/');
    if (slash == std::string::npos)
        return kConfigFileName;
    return exe.substr(0, slash + 1) + kConfigFileName;
}

void setConfigPath(const char* path)
{
    if (!path)
        return;
    std::lock_guard lock(pathMutex);
    storedPath() = path;
}

std::string configPath()
{
    std::lock_guard lock(pathMutex);
    return storedPath();
}

int configCountValues(int key)
{
    int result = 0;
    withItems(key, [&](QuillItem**, int count) { result = count; });
    return result;
}

std::optional<std::string> configValue(int key, int index)
{
    std::optional<std::string> result;
    withItems(key, [&](QuillItem** items, int count) {
        if (index < 0 || index >= count)
            return;
        if (const char* value = quillItemGetValue(items[index]))
            result = value;
    });
    return result;
}

std::vector<std::string> configValues(int key)
{
    std::vector<std::string> result;
    withItems(key, [&](QuillItem** items, int count) {
        for (int i = 0; i < count; ++i)
            if (const char* value = quillItemGetValue(items[i]))
                result.emplace_back(value);
    });
    return result;
}

bool dialogsWithoutOwner()
{
    std::optional<std::string> management = configValue(WINDOWS_MANAGEMENT, 0);
    return management && *management == "MULTIPLE";
}

bool autoRangeEnabled()
{
    std::optional<std::string> value = configValue(AUTO_RANGE, 0);
    if (!value)
        return true;
    std::string word;
    for (char c : *value)
        if (c != ' ' && c != '\t')
            word.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    return word != "0" && word != "NON" && word != "OFF" && word != "FALSE";
}

double fileBlockShare()
{
    constexpr double kDefault = 0.25;
    const std::optional<std::string> value = configValue(FILE_BLOCK_SHARE, 0);
    if (!value)
        return kDefault;
    // Whatever the locale: the interface may have set a decimal comma.
    std::string_view text(*value);
    auto trim = [&] {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
            text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
    };
    trim();
    bool percent = false;
    if (!text.empty() && text.back() == '%') {
        percent = true;
        text.remove_suffix(1);
        trim();
    }
    double share = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), share);
    if (error != std::errc() || end != text.data() + text.size())
        return kDefault;
    if (percent)
        share /= 100;
    return share > 0 && share <= 1 ? share : kDefault;
}

std::string joinCommandLine(int argc, const char* const* argv)
{
    std::string line;
    for (int i = 1; i < argc && argv; ++i) {
        if (!argv[i])
            continue;
        if (!line.empty())
            line.push_back(' ');
        line += argv[i];
    }
    return line;
}

bool applyConfigOption(std::string& commandLine)
{
    static constexpr std::string_view kOption = "-config";
    size_t option = commandLine.find(kOption);
    if (option == std::string::npos)
        return false;
    size_t blank = commandLine.find(' ', option + kOption.size());
    if (blank == std::string::npos)
        return false;
    size_t start = blank + 1;
    size_t end = commandLine.find(' ', start);
    std::string path
        = commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // Everything after the path is dropped for every later use of the command line.
    if (end != std::string::npos)
        commandLine.resize(end);
    if (path.empty())
        return false;
    setConfigPath(path.c_str());
    return true;
}

std::optional<std::string> dataFileArgument(const std::string& commandLine)
{
    static constexpr std::string_view kOption = "-in ";
    size_t option = commandLine.find(kOption);
    if (option == std::string::npos)
        return std::nullopt;
    std::string rest = commandLine.substr(option + kOption.size());
    if (rest.empty())
        return std::nullopt;
    return rest;
}

} // namespace vexa::config
