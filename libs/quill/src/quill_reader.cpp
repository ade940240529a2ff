// Reading: pugixml parses, then the element tree is mirrored into nodes and items.
//
// An element that has no attributes and no child elements but holds text (character
// data or CDATA) is an item of its parent, named after the element. Every other element
// is a node, including an empty element such as <A/>: an empty element has no value to
// give, and configuration trees use empty nodes as place holders. Whitespace-only text is
// dropped by the parser, so <A> </A> is an empty node too; the writer protects such
// values with CDATA. Text mixed with child elements or attributes is not part of the
// tree. Comments, processing instructions and the document type are skipped.
#include "quill_document.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quill {
namespace {

bool isTextItem(const pugi::xml_node& element)
{
    if (element.first_attribute())
        return false;
    bool hasText = false;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
        switch (child.type()) {
        case pugi::node_element:
            return false;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            hasText = true;
            break;
        default:
            break;
        }
    }
    return hasText;
}

std::string textOf(const pugi::xml_node& element)
{
    std::string text;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += child.value();
    return text;
}

// Mirrors the element tree without recursion: nesting depth comes from the file.
std::unique_ptr<Document> mirror(const pugi::xml_node& rootElement)
{
    auto doc = newDocument(rootElement.name());
    std::size_t entries = 1;
    std::vector<std::pair<pugi::xml_node, QuillNode*>> pending;
    pending.emplace_back(rootElement, doc->root());
    while (!pending.empty()) {
        auto [element, node] = pending.back();
        pending.pop_back();
        for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
            if (++entries > kMaxDocumentEntries)
                return nullptr;
            addItem(*node, a.name(), a.value());
        }
        // Children are collected first and pushed in reverse so that nodes are
        // visited, and thus stored, in document order.
        std::size_t firstPending = pending.size();
        for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element)
                continue;
            if (++entries > kMaxDocumentEntries)
                return nullptr;
            if (isTextItem(c)) {
                addItem(*node, c.name(), textOf(c).c_str());
            } else {
                QuillNode* child = addNode(*node, c.name());
                pending.emplace_back(c, child);
            }
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstPending), pending.end());
    }
    return doc;
}

bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Cheap test on the first bytes, so that probing a large binary file as a possible
// document costs one small read.
bool mayBeXml(const unsigned char* p, std::size_t n)
{
    if (n >= 2 && ((p[0] == 0xFE && p[1] == 0xFF) || (p[0] == 0xFF && p[1] == 0xFE)))
        return true; // UTF-16 or UTF-32 byte order mark
    if (n >= 2 && ((p[0] == 0 && p[1] == '<') || (p[0] == '<' && p[1] == 0)))
        return true; // UTF-16 without a mark
    if (n >= 4 && p[0] == 0 && p[1] == 0 && (p[2] == 0xFE || p[3] == '<'))
        return true; // UTF-32 big-endian
    std::size_t i = 0;
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        i = 3;
    while (i < n && isSpace(p[i]))
        ++i;
    // A prefix made only of blanks is decided by the parser.
    return i == n || p[i] == '<';
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool readFully(int fd, char* dst, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = ::read(fd, dst + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

std::unique_ptr<Document> parseDocument(const char* data, std::size_t size)
{
    if (!data || size == 0 || size > kMaxDocumentBytes)
        return nullptr;
    if (!mayBeXml(reinterpret_cast<const unsigned char*>(data), std::min<std::size_t>(size, 256)))
        return nullptr;
    pugi::xml_document xml;
    pugi::xml_parse_result result
        = xml.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto);
    if (!result)
        return nullptr;
    // pugixml accepts several top-level elements; a document has exactly one.
    pugi::xml_node rootElement;
    for (pugi::xml_node n = xml.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
            return nullptr;
        if (n.type() != pugi::node_element)
            continue;
        if (rootElement)
            return nullptr;
        rootElement = n;
    }
    if (!rootElement)
        return nullptr;
    return mirror(rootElement);
}

std::unique_ptr<Document> readDocument(const char* path)
{
    if (!path || !*path)
        return nullptr;
    FdCloser file { ::open(path, O_RDONLY | O_CLOEXEC) };
    if (file.fd < 0)
        return nullptr;
    struct stat st { };
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0
        || static_cast<unsigned long long>(st.st_size) > kMaxDocumentBytes)
        return nullptr;
    const auto size = static_cast<std::size_t>(st.st_size);
    unsigned char first[256];
    const std::size_t head = std::min<std::size_t>(size, sizeof first);
    if (!readFully(file.fd, reinterpret_cast<char*>(first), head) || !mayBeXml(first, head))
        return nullptr;
    std::vector<char> buffer(size);
    std::memcpy(buffer.data(), first, head);
    if (!readFully(file.fd, buffer.data() + head, size - head))
        return nullptr;
    return parseDocument(buffer.data(), size);
}

} // namespace quill
