// The in-memory tree behind the quill handles.
//
// A document owns every node it ever created in one flat list, so that handles stay
// valid until the document is destroyed and destruction never recurses however deep
// the tree is. Items are owned by their node and freed by quillItemDelete.
#pragma once

#include "quill.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

struct Document;

// Documents larger than this are refused before anything is allocated for them: every
// document the program reads (settings, palettes, animations, logical volumes) is
// small, and image files are probed as possible logical volumes.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t { 32 } << 20;
// Nodes and items of one parsed document; bounds the memory a hostile file can claim.
inline constexpr std::size_t kMaxDocumentEntries = std::size_t { 4 } << 20;

} // namespace quill

struct QuillItem {
    QuillNode* owner = nullptr;
    std::string name;
    std::string value;
    // An item added or set with a null value keeps it null (quillItemGetValue answers
    // null); it is written as an empty value.
    bool hasValue = true;
};

struct QuillNode {
    quill::Document* document = nullptr;
    QuillNode* parent = nullptr;
    std::string name;
    std::vector<QuillNode*> children;
    std::vector<std::unique_ptr<QuillItem>> items;
};

namespace quill {

struct Document {
    // nodes[0] is the root; children refer to entries of this list.
    std::vector<std::unique_ptr<QuillNode>> nodes;

    QuillNode* root() const { return nodes.front().get(); }
};

// New document whose root is named rootName.
std::unique_ptr<Document> newDocument(std::string_view rootName);
// New last child of parent, owned by parent's document.
QuillNode* addNode(QuillNode& parent, std::string_view name);
QuillItem* addItem(QuillNode& node, std::string_view name, const char* value);
// Removes the item from its node and frees it.
void deleteItem(QuillItem& item);

// Parses a whole document; null when it is not well-formed or too large.
std::unique_ptr<Document> parseDocument(const char* data, std::size_t size);
// Reads and parses a file; null when missing, unreadable, too large or malformed.
std::unique_ptr<Document> readDocument(const char* path);

// UTF-8 text of the whole document, or false when a name cannot be written as XML.
bool serializeDocument(const Document& doc, std::string& out);
// Writes beside the destination and renames over it once complete.
bool writeDocument(const Document& doc, const char* path);

// Locale-independent conversions of the access layer: "%d", "%f", atol and atof as
// they behave in the "C" locale, whatever locale the program runs in.
std::string formatInt(long value);
std::string formatReal(double value);
long parseInt(const char* text);
double parseReal(const char* text);

} // namespace quill
