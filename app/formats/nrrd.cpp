// NRRD: "NRRD000n" then "field: value" lines; the samples follow a blank line in the
// same file (.nrrd) or live in the files named by "data file" (.nhdr).
#include "formats/formats.h"
#include "formats/textheader.h"

#include "vexa_reason.hpp"
#include "vexa_types.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>

namespace vexa {

namespace {

using namespace textheader;

constexpr int kMaxDataFiles = 1 << 16;

bool sniffNrrd(const std::string& path, const std::string& head)
{
    (void)path;
    return head.size() >= 8 && head.compare(0, 7, "NRRD000") == 0 && head[7] >= '1'
        && head[7] <= '9';
}

int nrrdType(const std::string& word)
{
    static const std::map<std::string, int> kTypes = {
        { "signed char", TYPEDATA_S8 },
        { "int8", TYPEDATA_S8 },
        { "int8_t", TYPEDATA_S8 },
        { "uchar", TYPEDATA_U8 },
        { "unsigned char", TYPEDATA_U8 },
        { "uint8", TYPEDATA_U8 },
        { "uint8_t", TYPEDATA_U8 },
        { "short", TYPEDATA_S16 },
        { "short int", TYPEDATA_S16 },
        { "signed short", TYPEDATA_S16 },
        { "signed short int", TYPEDATA_S16 },
        { "int16", TYPEDATA_S16 },
        { "int16_t", TYPEDATA_S16 },
        { "ushort", TYPEDATA_U16 },
        { "unsigned short", TYPEDATA_U16 },
        { "unsigned short int", TYPEDATA_U16 },
        { "uint16", TYPEDATA_U16 },
        { "uint16_t", TYPEDATA_U16 },
        { "int", TYPEDATA_S32 },
        { "signed int", TYPEDATA_S32 },
        { "int32", TYPEDATA_S32 },
        { "int32_t", TYPEDATA_S32 },
        { "uint", TYPEDATA_U32 },
        { "unsigned int", TYPEDATA_U32 },
        { "uint32", TYPEDATA_U32 },
        { "uint32_t", TYPEDATA_U32 },
        { "float", TYPEDATA_F32 },
        { "double", TYPEDATA_F64 },
    };
    const auto it = kTypes.find(word);
    return it == kTypes.end() ? 0 : it->second;
}

// "(1,0,0)" vectors of "space directions" or "space origin"; "none" gives no vector.
std::vector<std::vector<double>> vectors(const std::string& text)
{
    std::vector<std::vector<double>> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find_first_of("(n", at);
        if (open == std::string::npos)
            break;
        if (text[open] == 'n') {
            out.emplace_back();
            at = open + 4;
            continue;
        }
        const std::size_t close = text.find(')', open);
        if (close == std::string::npos)
            break;
        std::vector<double> v;
        std::string inner = text.substr(open + 1, close - open - 1);
        for (char& c : inner)
            if (c == ',')
                c = ' ';
        for (const std::string& w : words(inner)) {
            double d = 0;
            v.push_back(toDouble(w, d) ? d : 0);
        }
        out.push_back(v);
        at = close + 1;
    }
    return out;
}

struct NrrdState {
    SampleLayout layout;
};

bool fail(std::string* reason, const std::string& path, const std::string& text)
{
    setReason(reason, fileReason(path, text));
    return false;
}

bool probeNrrd(const std::string& path, FormatHeader& header, std::string* reason)
{
    std::string text;
    if (!readStart(path, kMaxHeaderBytes, text))
        return fail(reason, path, "fichier illisible");
    if (!sniffNrrd(path, text))
        return fail(reason, path, "entête NRRD absent");
    std::map<std::string, std::string> fields;
    std::string info;
    std::size_t at = 0;
    std::int64_t dataStart = -1;
    bool first = true;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            // A header cut by the read limit would lose fields.
            if (text.size() == kMaxHeaderBytes)
                return fail(reason, path, "entête NRRD trop long");
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first) {
            first = false;
            continue;
        }
        if (line.empty()) {
            dataStart = std::int64_t(at);
            break;
        }
        if (line[0] == '#')
            continue;
        info += line + "\n";
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos || line.find(":=") == colon)
            continue; // key/value pairs
        fields[lowered(trimmed(line.substr(0, colon)))] = trimmed(line.substr(colon + 2));
    }
    auto field = [&](const char* name) -> std::string {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    };

    std::int64_t dimension = 0;
    if (!toInt64(field("dimension"), dimension) || dimension < 1 || dimension > 16)
        return fail(reason, path, "champ « dimension » absent ou invalide");
    const std::string typeWord = lowered(field("type"));
    const int type = nrrdType(typeWord);
    if (type == 0)
        return fail(reason, path,
            typeWord.empty() ? "champ « type » absent"
                             : "type « " + typeWord + " » non pris en charge");
    std::vector<std::int64_t> sizes;
    for (const std::string& w : words(field("sizes"))) {
        std::int64_t s = 0;
        if (!toInt64(w, s) || s < 1 || s > std::numeric_limits<std::int32_t>::max())
            return fail(reason, path, "taille invalide dans « sizes » : " + w);
        sizes.push_back(s);
    }
    if (std::int64_t(sizes.size()) != dimension)
        return fail(reason, path, "« sizes » ne donne pas une taille par axe");

    // A first axis of 3 or 4 bytes that is not a space axis holds colour.
    const std::vector<std::string> kinds = words(lowered(field("kinds")));
    SampleLayout layout;
    layout.headerPath = path;
    std::size_t firstSpace = 0;
    if (type == TYPEDATA_U8 && dimension >= 3 && (sizes[0] == 3 || sizes[0] == 4)
        && (kinds.empty() || (kinds[0] != "domain" && kinds[0] != "space"))) {
        layout.components = int(sizes[0]);
        firstSpace = 1;
    }
    std::int64_t w = 1, h = 1, d = 1;
    for (std::size_t i = firstSpace; i < sizes.size(); ++i) {
        const std::size_t axis = i - firstSpace;
        if (axis == 0)
            w = sizes[i];
        else if (axis == 1)
            h = sizes[i];
        else if (d > std::numeric_limits<std::int32_t>::max() / sizes[i])
            return fail(reason, path, "dimensions trop grandes dans l'entête");
        else
            d *= sizes[i];
    }
    const int sampleType = layout.components > 1 ? TYPEDATA_RGBA : type;
    if (!sizesAcceptable(path, w, h, d, sampleType, reason))
        return false;

    const std::string encoding = lowered(field("encoding"));
    if (encoding == "raw")
        layout.encoding = Encoding::Raw;
    else if (encoding == "gzip" || encoding == "gz")
        layout.encoding = Encoding::Gzip;
    else if (encoding == "ascii" || encoding == "text" || encoding == "txt")
        layout.encoding = Encoding::Ascii;
    else
        return fail(reason, path,
            encoding.empty() ? "champ « encoding » absent"
                             : "codage « " + encoding + " » non pris en charge");
    const std::string endian = lowered(field("endian"));
    if (!endian.empty() && endian != "little" && endian != "big")
        return fail(reason, path, "champ « endian » invalide : " + endian);
    layout.bigEndian = endian == "big";

    std::int64_t byteSkip = 0, lineSkip = 0;
    if (!field("byte skip").empty() && (!toInt64(field("byte skip"), byteSkip) || byteSkip < -1))
        return fail(reason, path, "champ « byte skip » invalide");
    if (!field("line skip").empty()
        && (!toInt64(field("line skip"), lineSkip) || lineSkip < 0 || lineSkip > 1000000))
        return fail(reason, path, "champ « line skip » invalide");
    if (byteSkip == -1 && layout.encoding != Encoding::Raw)
        return fail(reason, path, "« byte skip: -1 » n'est permis qu'avec le codage raw");

    std::string dataFile = field("data file");
    if (dataFile.empty())
        dataFile = field("datafile");
    std::vector<std::string> files;
    if (dataFile.empty()) {
        if (dataStart < 0)
            return fail(reason, path, "ni données après l'entête ni fichier de données nommé");
        files.push_back(path);
    } else if (dataFile.rfind("LIST", 0) == 0) {
        // The file names follow the header, one a line.
        for (const std::string& name : words(text.substr(std::min(at, text.size())))) {
            if (files.size() >= std::size_t(kMaxDataFiles))
                return fail(reason, path, "trop de fichiers de données");
            files.push_back(besideHeader(path, name));
        }
    } else {
        const std::vector<std::string> parts = words(dataFile);
        if (parts.size() >= 4 && parts[0].find('%') != std::string::npos) {
            std::int64_t from = 0, to = 0, step = 0;
            if (!toInt64(parts[1], from) || !toInt64(parts[2], to) || !toInt64(parts[3], step)
                || step == 0 || (to - from) / step < 0 || (to - from) / step >= kMaxDataFiles)
                return fail(reason, path, "liste de fichiers de données invalide");
            // The name pattern takes one integer and nothing else.
            const std::string& pattern = parts[0];
            const std::size_t pct = pattern.find('%');
            if (pattern.find('%', pct + 1) != std::string::npos
                || pattern.find_first_not_of("0123456789", pct + 1) == std::string::npos
                || pattern[pattern.find_first_not_of("0123456789", pct + 1)] != 'd')
                return fail(reason, path, "modèle de nom de fichier de données invalide");
            for (std::int64_t i = from; step > 0 ? i <= to : i >= to; i += step) {
                char name[4096];
                std::snprintf(name, sizeof name, pattern.c_str(), int(i));
                files.push_back(besideHeader(path, name));
            }
        } else {
            files.push_back(besideHeader(path, dataFile));
        }
    }
    if (files.empty())
        return fail(reason, path, "aucun fichier de données");
    // Each file holds an equal share of the slowest axis.
    const std::int64_t slowest = sizes.back();
    if (files.size() > 1 && (slowest % std::int64_t(files.size()) != 0 || sizes.size() < 2))
        return fail(reason, path, "le nombre de fichiers de données ne divise pas le dernier axe");
    for (const std::string& file : files) {
        DataPart part;
        part.path = file;
        part.offset = byteSkip == -1 ? -1 : file == path ? dataStart + byteSkip : byteSkip;
        layout.parts.push_back(part);
    }
    if (lineSkip > 0) {
        // Lines skipped before the bytes: only their lengths are read.
        for (DataPart& part : layout.parts) {
            std::FILE* f = std::fopen(part.path.c_str(), "rb");
            if (!f)
                return fail(reason, part.path, "fichier de données introuvable ou illisible");
            if (part.path == path)
                std::fseek(f, long(dataStart), SEEK_SET);
            std::int64_t lines = 0;
            int c;
            while (lines < lineSkip && (c = std::fgetc(f)) != EOF)
                if (c == '\n')
                    ++lines;
            const std::int64_t pos = std::ftell(f);
            std::fclose(f);
            if (lines < lineSkip)
                return fail(reason, part.path, "moins de lignes que « line skip » n'en saute");
            part.offset = byteSkip == -1 ? -1 : pos + byteSkip;
        }
    }

    header = FormatHeader();
    header.width = int(w);
    header.height = int(h);
    header.depth = int(d);
    header.typeData = sampleType;
    if (!rawPartsComplete(header, layout, reason))
        return false;

    // Spacing from "spacings", or the lengths of "space directions".
    std::vector<double> spacing;
    for (const std::string& s : words(field("spacings"))) {
        double v = NAN;
        spacing.push_back(toDouble(s, v) ? v : NAN);
    }
    if (spacing.empty())
        for (const std::vector<double>& v : vectors(field("space directions"))) {
            double sum = 0;
            for (double c : v)
                sum += c * c;
            spacing.push_back(v.empty() ? NAN : std::sqrt(sum));
        }
    for (std::size_t i = firstSpace; i < spacing.size() && i - firstSpace < 3; ++i)
        if (std::isfinite(spacing[i]) && spacing[i] > 0)
            header.spacing[i - firstSpace] = spacing[i];
    const std::vector<std::vector<double>> origin = vectors(field("space origin"));
    if (!origin.empty())
        for (std::size_t i = 0; i < origin[0].size() && i < 3; ++i)
            header.origin[i] = origin[0][i];
    header.info = info;
    auto state = std::make_shared<NrrdState>();
    state->layout = std::move(layout);
    header.state = state;
    return true;
}

bool readNrrd(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    FormatHeader fresh;
    const FormatHeader* use = &header;
    if (!header.state) {
        if (!probeNrrd(path, fresh, reason))
            return false;
        use = &fresh;
    }
    const auto& state = *std::static_pointer_cast<NrrdState>(use->state);
    return readSamples(*use, state.layout, samples, reason);
}

bool acceptsAny(int typeData)
{
    return vexaTypeIsValid(typeData) && *textheader::typeWordNrrd(typeData) != '\0';
}

bool writeNrrd(const std::string& path, const FormatBlockView& block, std::string* reason)
{
    if (!acceptsAny(block.typeData)) {
        setReason(reason, fileReason(path, "type d'échantillon non pris en charge en NRRD"));
        return false;
    }
    const bool colour = block.typeData == TYPEDATA_RGBA;
    std::string text = "NRRD0004\n";
    text += std::string("type: ") + typeWordNrrd(block.typeData) + "\n";
    const int axes = (colour ? 1 : 0) + (block.depth > 1 ? 3 : 2);
    text += "dimension: " + std::to_string(axes) + "\n";
    text += "sizes:";
    if (colour)
        text += " 4";
    text += " " + std::to_string(block.width) + " " + std::to_string(block.height);
    if (block.depth > 1)
        text += " " + std::to_string(block.depth);
    text += "\n";
    char number[64];
    text += "spacings:";
    if (colour)
        text += " nan";
    for (int i = 0; i < (block.depth > 1 ? 3 : 2); ++i) {
        std::snprintf(number, sizeof number, " %.17g", block.spacing[i]);
        text += number;
    }
    text += "\n";
    // Kinds always: a scalar first axis of 3 or 4 would otherwise read as colour.
    text += colour ? "kinds: RGBA-color domain domain" : "kinds: domain domain";
    text += block.depth > 1 ? " domain\n" : "\n";
    text += "endian: little\nencoding: raw\n\n";
    return writeHeaderAndSamples(path, text, block, reason);
}

} // namespace

const FormatReader& nrrdReader()
{
    static const FormatReader r { "NRRD", "*.nrrd *.nhdr", sniffNrrd, probeNrrd, readNrrd };
    return r;
}

const FormatWriter& nrrdWriter()
{
    static const FormatWriter w { "NRRD", ".nrrd", "*.nrrd", acceptsAny, writeNrrd };
    return w;
}

} // namespace vexa
