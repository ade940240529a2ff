// Writing: UTF-8 text produced here, so that every value reads back exactly.
//
// A node's items are written as attributes when their names are all distinct, and
// otherwise all as text elements, in order, before the child nodes. Written this way a
// node always has attributes, child elements or nothing at all, and an item element
// always has text, so reading cannot confuse the two.
#include "quill_document.h"

#include "atomicsave.hpp"

#include <algorithm>
#include <string_view>
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

// A failed save leaves the old file as it was and errno at the cause, which callers
// turn into a reason for the user.
bool writeDocument(const Document& doc, const char* path)
{
    if (!path || !*path)
        return false;
    std::string text;
    if (!serializeDocument(doc, text))
        return false;
    return atomicsave::saveBytes(path, text.data(), text.size());
}

} // namespace quill
