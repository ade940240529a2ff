// Writing: UTF-8 text produced here, so that every value reads back exactly.
//
// A node's items are written as attributes when their names are all distinct, and
// otherwise all as text elements, in order, before the child nodes. Written this way a
// node always has attributes, child elements or nothing at all, and an item element
// always has text, so reading cannot confuse the two.
#include "quill_document.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quill {
namespace {

bool isNameStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(unsigned char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isXmlName(std::string_view name)
{
    if (name.empty() || !isNameStart(static_cast<unsigned char>(name[0])))
        return false;
    for (char c : name)
        if (!isNameChar(static_cast<unsigned char>(c)))
            return false;
    return true;
}

void appendCharRef(std::string& out, unsigned char c)
{
    out += "&#";
    out += std::to_string(static_cast<int>(c));
    out += ';';
}

void appendAttributeValue(std::string& out, std::string_view value)
{
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            // Raw tabs and line ends in attributes are read back as spaces.
            if (c < 0x20)
                appendCharRef(out, c);
            else
                out += ch;
        }
    }
}

bool isBlank(std::string_view value)
{
    for (char c : value)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return false;
    return true;
}

void appendTextValue(std::string& out, std::string_view value)
{
    if (value.empty()) {
        // An empty element would read back as a node.
        out += "<![CDATA[]]>";
        return;
    }
    // Blank text is dropped by the reader unless it is spelled with references.
    const bool blank = isBlank(value);
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            // A raw carriage return would be read back as a line feed.
            if ((c < 0x20 && c != '\n' && c != '\t') || (blank && (c == ' ' || c < 0x20)))
                appendCharRef(out, c);
            else
                out += ch;
        }
    }
}

bool namesDistinct(const QuillNode& node)
{
    std::unordered_set<std::string_view> seen;
    seen.reserve(node.items.size());
    for (const auto& item : node.items)
        if (!seen.insert(item->name).second)
            return false;
    return true;
}

void appendIndent(std::string& out, std::size_t depth)
{
    // Bounded so that a very deep tree does not cost quadratic space.
    out.append(2 * std::min<std::size_t>(depth, 32), ' ');
}

} // namespace

bool serializeDocument(const Document& doc, std::string& out)
{
    out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    // Explicit stack: trees built by callers may be arbitrarily deep. An entry with
    // close set stands for the end tag of its node.
    struct Step {
        const QuillNode* node;
        std::size_t depth;
        bool close;
    };
    std::vector<Step> pending { { doc.root(), 0, false } };
    while (!pending.empty()) {
        Step step = pending.back();
        pending.pop_back();
        const QuillNode& node = *step.node;
        if (step.close) {
            appendIndent(out, step.depth);
            out += "</" + node.name + ">\n";
            continue;
        }
        if (!isXmlName(node.name))
            return false;
        for (const auto& item : node.items)
            if (!isXmlName(item->name))
                return false;

        appendIndent(out, step.depth);
        out += '<';
        out += node.name;
        const bool asAttributes = namesDistinct(node);
        if (asAttributes) {
            for (const auto& item : node.items) {
                out += ' ';
                out += item->name;
                out += "=\"";
                appendAttributeValue(out, item->value);
                out += '"';
            }
        }
        const bool hasElements = !node.children.empty() || !asAttributes;
        if (!hasElements) {
            out += "/>\n";
            continue;
        }
        out += ">\n";
        if (!asAttributes) {
            for (const auto& item : node.items) {
                appendIndent(out, step.depth + 1);
                out += '<' + item->name + '>';
                appendTextValue(out, item->value);
                out += "</" + item->name + ">\n";
            }
        }
        pending.push_back({ &node, step.depth, true });
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it)
            pending.push_back({ *it, step.depth + 1, false });
    }
    return true;
}

namespace {

bool writeFully(int fd, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Writing through a symbolic link replaces the file it points to, not the link.
std::string resolveTarget(const char* path)
{
    struct stat st { };
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path, nullptr)) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return path;
}

std::string directoryOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

bool writeDocument(const Document& doc, const char* path)
{
    if (!path || !*path)
        return false;
    std::string text;
    if (!serializeDocument(doc, text))
        return false;

    const std::string target = resolveTarget(path);
    struct stat existing { };
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode))
        return false;

    // The temporary file sits beside the target so that rename stays on one file
    // system; its short name keeps clear of the name length limit.
    static std::atomic<unsigned> counter { 0 };
    const std::string dir = directoryOf(target);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "/.quill-" + std::to_string(::getpid()) + "-"
            + std::to_string(counter.fetch_add(1)) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    if (replacing)
        (void)::fchmod(fd, existing.st_mode & 07777);
    bool ok = writeFully(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    // close reports delayed write errors (a full disk on a network file system).
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

} // namespace quill
