// Logical volume descriptions: an XML document with root "LOGICAL" naming the
// sub-files that make up the volume and where each one sits.
#include "fileio.hpp"
#include "quill.h"
#include "vexafile_internal.hpp"

#include <cerrno>
#include <climits>
#include <sys/stat.h>

namespace vexafile {

namespace {

// Descriptions are small text files; anything larger is not read as one, so that
// probing a multi-gigabyte raw volume does not load it whole.
constexpr int64_t kMaxDescriptionBytes = int64_t(16) << 20;

bool looksLikeXml(const std::string& path)
{
    File f(path, File::Read);
    if (!f.isOpen())
        return false;
    int64_t size = f.size();
    if (size <= 0 || size > kMaxDescriptionBytes)
        return false;
    unsigned char b[64];
    int64_t n = f.readAt(b, sizeof b, 0);
    int64_t i = 0;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        i = 3;
    while (i < n && (b[i] == ' ' || b[i] == '\t' || b[i] == '\r' || b[i] == '\n'))
        ++i;
    return i < n && b[i] == '<';
}

struct QuillDocument {
    QuillNode* doc;
    ~QuillDocument() { quillDestroy(doc); }
};

struct QuillArray {
    void* array;
    ~QuillArray() { quillRelease(array); }
};

bool intItem(QuillNode* node, const char* lower, const char* upper, long* value)
{
    return quillGetIntItem(node, lower, value) || (upper && quillGetIntItem(node, upper, value));
}

} // namespace

std::string resolvePartPath(const std::string& descriptionPath, const std::string& stored)
{
    std::string name = stored;
    for (char& c : name)
        if (c == '\\')
            c = '/';
    if (!name.empty() && name[0] == '/')
        return name;
    size_t slash = descriptionPath.find_last_of('/');
    if (slash == std::string::npos)
        return name;
    return descriptionPath.substr(0, slash + 1) + name;
}

bool fileKeyOf(const std::string& path, FileKey& key)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return false;
    key = { uint64_t(st.st_dev), uint64_t(st.st_ino) };
    return true;
}

namespace {

// The descriptor of a part, read once per header read. Null when the part names a
// description on the chain being read, or its file does not open or has no
// recognised header.
std::shared_ptr<FileDescriptor> partDescriptor(const std::string& path, int depth, HeaderRead& read)
{
    FileKey key;
    if (!fileKeyOf(path, key)) {
        setLastError(path, "Partie introuvable", errno);
        return nullptr;
    }
    for (const FileKey& k : read.chain) {
        if (k == key) {
            setLastError(path, "Description logique qui se contient elle-même : partie ignorée");
            return nullptr;
        }
    }
    // A descriptor read nearer the nesting limit may have lost parts to it; one read
    // at this depth or above is complete for this use.
    auto known = read.parts.find(key);
    if (known != read.parts.end() && known->second.second <= depth)
        return known->second.first;
    std::shared_ptr<FileDescriptor> sub(vexaFileNew(), vexaFileRelease);
    if (!sub)
        return nullptr;
    sub->name = path;
    sub->hasName = true;
    if (!fileIsReadable(path) || !readHeader(*sub, depth, &read))
        sub.reset();
    read.parts[key] = { sub, depth };
    return sub;
}

} // namespace

bool readLogicalDescription(const std::string& path, HeaderInfo& h, int depth, HeaderRead& read)
{
    if (!looksLikeXml(path))
        return false;
    QuillDocument doc { quillRead(path.c_str(), 10) };
    if (!doc.doc)
        return false;
    const char* rootName = quillNodeGetName(doc.doc);
    if (!rootName || std::string(rootName) != "LOGICAL")
        return false;
    long w, hh, z;
    if (!intItem(doc.doc, "width", "WIDTH", &w) || !intItem(doc.doc, "height", "HEIGHT", &hh)
        || !intItem(doc.doc, "depth", "DEPTH", &z))
        return false;
    if (w <= 0 || hh <= 0 || z <= 0 || w > INT_MAX || hh > INT_MAX || z > INT_MAX)
        return false;
    h.dimX = int(w);
    h.dimY = int(hh);
    h.dimZ = int(z);
    h.transpose = h.tiled = 0;
    h.picture = h.tiff = 0;
    h.parts.clear();
    if (depth >= kMaxLogicalDepth)
        return true;
    FileKey self;
    if (!fileKeyOf(path, self))
        return true;
    read.chain.push_back(self);

    int count = 0;
    QuillArray nodes { quillNodeFindNodes(doc.doc, "PART", 10, &count) };
    auto** parts = static_cast<QuillNode**>(nodes.array);
    bool typed = false;
    for (int i = 0; parts && i < count; ++i) {
        QuillNode* node = parts[i];
        const char* stored = quillGetTextItem(node, "NAME");
        long px, py, pz;
        if (!stored || !*stored || !quillGetIntItem(node, "X", &px)
            || !quillGetIntItem(node, "Y", &py) || !quillGetIntItem(node, "Z", &pz))
            continue;
        // The corner first: a long near its limit would overflow the far corner's sum.
        if (px < INT_MIN || py < INT_MIN || pz < INT_MIN || px > INT_MAX || py > INT_MAX
            || pz > INT_MAX)
            continue;
        std::shared_ptr<FileDescriptor> sub
            = partDescriptor(resolvePartPath(path, stored), depth + 1, read);
        if (!sub)
            continue;
        int sw, sh, sd;
        vexaFileGetSizes(sub.get(), &sw, &sh, &sd);
        int64_t x1 = int64_t(px) + sw - 1, y1 = int64_t(py) + sh - 1, z1 = int64_t(pz) + sd - 1;
        if (x1 > INT_MAX || y1 > INT_MAX || z1 > INT_MAX)
            continue;
        auto part = std::make_unique<LogicalPart>();
        part->x0 = int(px);
        part->y0 = int(py);
        part->z0 = int(pz);
        part->x1 = int(x1);
        part->y1 = int(y1);
        part->z1 = int(z1);
        if (!typed) {
            h.nbBits = sub->nbBits;
            h.typeData = sub->typeData;
            h.sign = sub->sign;
            typed = true;
        }
        part->desc = std::move(sub);
        h.parts.push_back(std::move(part));
    }
    read.chain.pop_back();
    return true;
}

} // namespace vexafile
