#include "display/colormap.h"

#include "display/palettelist.h"

#include "quill.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace vexa {

namespace {

struct DocDeleter {
    void operator()(QuillNode* doc) const { quillDestroy(doc); }
};
using Document = std::unique_ptr<QuillNode, DocDeleter>;

// Arrays returned by quill are released with quillRelease.
template <typename T> struct ArrayRelease {
    void operator()(T** array) const { quillRelease(array); }
};
template <typename T> using QuillArray = std::unique_ptr<T*, ArrayRelease<T>>;

void setWhy(std::string* why, std::string text)
{
    if (why)
        *why = std::move(text);
}

std::string_view trimmed(const char* text)
{
    std::string_view v(text);
    const auto first = v.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = v.find_last_not_of(" \t\r\n");
    return v.substr(first, last - first + 1);
}

// The value of the only item named name, null when there is not exactly one.
const char* onlyItemValue(QuillNode* node, const char* name)
{
    int count = 0;
    QuillArray<QuillItem> items(quillNodeFindItems(node, name, 10, &count));
    if (count != 1 || !items)
        return nullptr;
    return quillItemGetValue(items.get()[0]);
}

// A whole value that is a number, locale-independent. A decimal comma (files written
// under a French locale) is accepted as well as a point. NaN and infinities are refused.
bool parseReal(const char* text, double& out)
{
    if (!text)
        return false;
    std::string v(trimmed(text));
    if (v.empty() || v.size() > 64)
        return false;
    if (v.find('.') == std::string::npos) {
        const auto comma = v.find(',');
        if (comma != std::string::npos)
            v[comma] = '.';
    }
    const char* first = v.data();
    if (*first == '+')
        ++first;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, v.data() + v.size(), value);
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

bool parseInt(const char* text, long& out)
{
    if (!text)
        return false;
    std::string_view v = trimmed(text);
    if (!v.empty() && v.front() == '+')
        v.remove_prefix(1);
    long value = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (v.empty() || ec != std::errc() || end != v.data() + v.size())
        return false;
    out = value;
    return true;
}

// Six decimals, as "%f" writes them in the C locale, whatever the process locale.
std::string formatComponent(std::uint8_t byte)
{
    char buffer[32];
    const auto result
        = std::to_chars(buffer, buffer + sizeof buffer, byte / 255.0, std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

} // namespace

std::uint8_t colormapComponentToByte(double c)
{
    if (!(c > 0.0))
        return 0;
    if (c >= 1.0)
        return 255;
    return static_cast<std::uint8_t>(std::min(255.0, std::floor(c * 255.0 + 1e-3)));
}

bool loadColormap(const std::string& path, int variant, PaletteRecord& record, std::string* why)
{
    struct stat info { };
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        setWhy(why, "\"" + path + "\" n'est pas un fichier lisible");
        return false;
    }
    if (info.st_size > kColormapMaxFileBytes) {
        setWhy(why, "\"" + path + "\" est trop grand pour une palette");
        return false;
    }
    Document doc(quillRead(path.c_str(), 10));
    if (!doc) {
        setWhy(why, "\"" + path + "\" n'est pas un document XML bien formé");
        return false;
    }
    const char* rootName = quillNodeGetName(doc.get());
    if (!rootName || std::strcmp(rootName, "COLORMAP") != 0) {
        setWhy(why, "\"" + path + "\" n'est pas une palette : sa racine n'est pas COLORMAP");
        return false;
    }
    long size = 0;
    if (!parseInt(onlyItemValue(doc.get(), "size"), size) || size != 256) {
        setWhy(why, "\"" + path + "\" n'est pas une palette de 256 couleurs");
        return false;
    }
    int titleCount = 0;
    QuillArray<QuillItem> titles(quillNodeFindItems(doc.get(), "title", 10, &titleCount));
    if (titleCount != 1 || !titles) {
        setWhy(why, "\"" + path + "\" n'est pas une palette : il lui faut exactement un titre");
        return false;
    }
    const char* title = quillItemGetValue(titles.get()[0]);

    PaletteRecord rec;
    rec.name = (title && *title) ? title : kPaletteUntitled;
    rec.family = kFamilyColourTable;
    rec.variant = variant;
    rec.table.fill(PaletteColour {});

    int count = 0;
    QuillArray<QuillNode> colours(quillNodeFindNodes(doc.get(), "color", 10, &count));
    const int used = colours ? std::min(count, 256) : 0;
    for (int k = 0; k < used; ++k) {
        QuillNode* node = colours.get()[k];
        long index = -1;
        double r = 0, g = 0, b = 0;
        if (!parseInt(onlyItemValue(node, "index"), index) || index != k)
            continue;
        if (!parseReal(onlyItemValue(node, "r"), r) || !parseReal(onlyItemValue(node, "g"), g)
            || !parseReal(onlyItemValue(node, "b"), b))
            continue;
        rec.table[k].red = colormapComponentToByte(r);
        rec.table[k].green = colormapComponentToByte(g);
        rec.table[k].blue = colormapComponentToByte(b);
    }
    record = std::move(rec);
    return true;
}

PaletteRecord* readColormap(const std::string& path, int variant, std::string* why)
{
    PaletteRecord rec;
    if (!loadColormap(path, variant, rec, why))
        return nullptr;
    return appendPalette(rec);
}

PaletteRecord* importColormap(const std::string& path, std::string* why)
{
    return readColormap(path, nextPaletteVariant(kFamilyColourTable), why);
}

bool writeColormap(const PaletteRecord& record, const std::string& path, const std::string& title)
{
    if (path.empty())
        return false;
    ColourTable table;
    computePalette(record, table);

    Document doc(quillNew("COLORMAP"));
    if (!doc)
        return false;
    const std::string name = title.empty() ? std::string(kPaletteUntitled) : title;
    if (!quillNodeAddItem(doc.get(), "title", name.c_str())
        || !quillNodeAddItem(doc.get(), "size", "256"))
        return false;
    for (int i = 0; i < 256; ++i) {
        QuillNode* node = quillNodeAddNode(doc.get(), "color");
        if (!node)
            return false;
        const std::string index = std::to_string(i);
        if (!quillNodeAddItem(node, "index", index.c_str())
            || !quillNodeAddItem(node, "r", formatComponent(table[i].red).c_str())
            || !quillNodeAddItem(node, "g", formatComponent(table[i].green).c_str())
            || !quillNodeAddItem(node, "b", formatComponent(table[i].blue).c_str()))
            return false;
    }
    return quillWrite(doc.get(), path.c_str()) == 1;
}

} // namespace vexa
