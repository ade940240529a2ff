#include "formats/textheader.h"

#include "atomicsave.hpp"
#include "vexa_reason.hpp"
#include "vexa_types.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <zlib.h>

namespace vexa::textheader {

static_assert(std::endian::native == std::endian::little, "samples are kept little-endian");

namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr openAt(const std::string& path, std::int64_t offset)
{
    FilePtr f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (f && offset > 0 && fseeko(f.get(), off_t(offset), SEEK_SET) != 0)
        f.reset();
    return f;
}

// Bytes of a data part: plainly stored, or unpacked from zlib or gzip (several gzip
// members follow each other as one stream).
class Source {
public:
    Source(std::FILE* file, bool packed)
        : file_(file)
        , packed_(packed)
    {
        if (packed_)
            ready_ = inflateInit2(&stream_, 15 + 32) == Z_OK;
    }
    ~Source()
    {
        if (packed_ && ready_)
            inflateEnd(&stream_);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Up to size bytes; fewer only at the end of the data. bad() tells a broken stream.
    std::size_t read(void* out, std::size_t size)
    {
        if (!packed_)
            return std::fread(out, 1, size, file_);
        if (!ready_ || ended_)
            return 0;
        auto* dest = static_cast<unsigned char*>(out);
        std::size_t done = 0;
        while (done < size) {
            if (stream_.avail_in == 0) {
                const std::size_t got = std::fread(input_, 1, sizeof input_, file_);
                if (got == 0) {
                    ended_ = true;
                    break;
                }
                stream_.next_in = input_;
                stream_.avail_in = uInt(got);
            }
            const std::size_t chunk
                = std::min<std::size_t>(size - done, std::numeric_limits<uInt>::max() / 2);
            stream_.next_out = dest + done;
            stream_.avail_out = uInt(chunk);
            const int rc = inflate(&stream_, Z_NO_FLUSH);
            done += chunk - stream_.avail_out;
            if (rc == Z_STREAM_END) {
                // Another gzip member may follow; anything else ends the data.
                if (stream_.avail_in == 0 && std::feof(file_)) {
                    ended_ = true;
                    break;
                }
                if (inflateReset(&stream_) != Z_OK) {
                    ended_ = true;
                    break;
                }
                continue;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                bad_ = true;
                ended_ = true;
                break;
            }
            if (rc == Z_BUF_ERROR && stream_.avail_in != 0 && stream_.avail_out != 0) {
                bad_ = true;
                ended_ = true;
                break;
            }
        }
        return done;
    }
    bool bad() const { return bad_ || (!packed_ && std::ferror(file_)); }

private:
    std::FILE* file_;
    bool packed_;
    bool ready_ = false;
    bool ended_ = false;
    bool bad_ = false;
    z_stream stream_ {};
    unsigned char input_[1 << 16];
};

// Numbers of an ASCII part, one word at a time.
class Words {
public:
    explicit Words(Source& source)
        : source_(source)
    {
    }
    bool next(std::string& word)
    {
        word.clear();
        int c;
        while ((c = get()) >= 0 && (std::isspace(c) || c == ','))
            ;
        while (c >= 0 && !std::isspace(c) && c != ',') {
            if (word.size() > 64)
                return false;
            word += char(c);
            c = get();
        }
        return !word.empty();
    }

private:
    int get()
    {
        if (at_ == size_) {
            size_ = source_.read(buffer_, sizeof buffer_);
            at_ = 0;
            if (size_ == 0)
                return -1;
        }
        return buffer_[at_++];
    }
    Source& source_;
    unsigned char buffer_[1 << 14];
    std::size_t at_ = 0, size_ = 0;
};

template <typename T> void storeClamped(void* out, std::size_t index, double v)
{
    T value;
    if constexpr (std::is_floating_point_v<T>) {
        value = T(v);
    } else {
        if (std::isnan(v))
            v = 0;
        v = std::clamp(
            v, double(std::numeric_limits<T>::lowest()), double(std::numeric_limits<T>::max()));
        value = T(std::llround(v));
    }
    std::memcpy(static_cast<unsigned char*>(out) + index * sizeof(T), &value, sizeof(T));
}

void storeValue(void* out, std::size_t index, int type, double v)
{
    switch (type) {
    case TYPEDATA_S8:
        storeClamped<std::int8_t>(out, index, v);
        break;
    case TYPEDATA_U16:
        storeClamped<std::uint16_t>(out, index, v);
        break;
    case TYPEDATA_S16:
        storeClamped<std::int16_t>(out, index, v);
        break;
    case TYPEDATA_U32:
        storeClamped<std::uint32_t>(out, index, v);
        break;
    case TYPEDATA_S32:
        storeClamped<std::int32_t>(out, index, v);
        break;
    case TYPEDATA_F32:
        storeClamped<float>(out, index, v);
        break;
    case TYPEDATA_F64:
        storeClamped<double>(out, index, v);
        break;
    default: // U8, and the bytes of colour
        storeClamped<std::uint8_t>(out, index, v);
        break;
    }
}

void swapBytes(unsigned char* data, std::size_t count, int size)
{
    if (size == 2)
        for (std::size_t i = 0; i < count; ++i)
            std::swap(data[2 * i], data[2 * i + 1]);
    else if (size == 4)
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char* p = data + 4 * i;
            std::swap(p[0], p[3]);
            std::swap(p[1], p[2]);
        }
    else if (size == 8)
        for (std::size_t i = 0; i < count; ++i)
            std::reverse(data + 8 * i, data + 8 * i + 8);
}

// Size of one stored component.
int componentBytes(const FormatHeader& header, const SampleLayout& layout)
{
    return layout.components > 1 ? 1 : vexaTypeSize(header.typeData);
}

std::uint64_t sampleCount(const FormatHeader& header)
{
    return std::uint64_t(header.width) * std::uint64_t(header.height) * std::uint64_t(header.depth);
}

// A reason about a data part, naming the opened file first and the data file when
// it is another one.
std::string partReason(const SampleLayout& layout, const DataPart& part, const std::string& text)
{
    if (layout.headerPath.empty() || layout.headerPath == part.path)
        return fileReason(part.path, text);
    return fileReason(layout.headerPath, text + " (" + part.path + ")");
}

std::string shortData(const SampleLayout& layout, const DataPart& part)
{
    return partReason(layout, part,
        "données incomplètes : le fichier contient moins d'échantillons que l'entête n'en "
        "annonce");
}

} // namespace

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trimmed(std::string_view text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::vector<std::string> words(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
            ++at;
        std::size_t end = at;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])))
            ++end;
        if (end > at)
            out.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return out;
}

bool toInt64(const std::string& word, std::int64_t& value)
{
    if (word.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(word.c_str(), &end, 10);
    if (errno != 0 || end != word.c_str() + word.size())
        return false;
    value = v;
    return true;
}

bool toDouble(const std::string& word, double& value)
{
    if (word.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (end != word.c_str() + word.size() || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

bool endsWith(const std::string& name, std::string_view suffix)
{
    const std::string low = lowered(name);
    return low.size() >= suffix.size()
        && low.compare(low.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool readStart(const std::string& path, std::size_t limit, std::string& out, bool unpack)
{
    out.clear();
    FilePtr f = openAt(path, 0);
    if (!f)
        return false;
    out.resize(limit);
    std::size_t got;
    if (unpack) {
        Source source(f.get(), true);
        got = source.read(out.data(), limit);
    } else {
        got = std::fread(out.data(), 1, limit, f.get());
    }
    out.resize(got);
    return true;
}

bool fileBytes(const std::string& path, std::uint64_t& size)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = std::uint64_t(st.st_size);
    return true;
}

std::string besideHeader(const std::string& headerPath, const std::string& name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    const std::size_t slash = headerPath.rfind('/');
    return slash == std::string::npos ? name : headerPath.substr(0, slash + 1) + name;
}

bool sizesAcceptable(const std::string& path, std::int64_t width, std::int64_t height,
    std::int64_t depth, int typeData, std::string* reason)
{
    constexpr std::int64_t kMaxSide = std::numeric_limits<std::int32_t>::max();
    if (width < 1 || height < 1 || depth < 1 || width > kMaxSide || height > kMaxSide
        || depth > kMaxSide) {
        setReason(reason, fileReason(path, "dimensions invalides dans l'entête"));
        return false;
    }
    if (!vexaTypeIsValid(typeData)) {
        setReason(reason, fileReason(path, "type d'échantillon non pris en charge"));
        return false;
    }
    // Three sides below 2^31 and 8-byte samples stay below 2^96: check by steps.
    const long double bytes
        = (long double)width * (long double)height * (long double)depth * vexaTypeSize(typeData);
    if (bytes > (long double)(std::int64_t(1) << 48)) {
        setReason(reason, fileReason(path, "dimensions trop grandes dans l'entête"));
        return false;
    }
    return true;
}

std::uint64_t partBytes(const FormatHeader& header, const SampleLayout& layout)
{
    const std::uint64_t parts = std::max<std::uint64_t>(1, layout.parts.size());
    return sampleCount(header) * std::uint64_t(layout.components)
        * std::uint64_t(componentBytes(header, layout)) / parts;
}

bool rawPartsComplete(const FormatHeader& header, const SampleLayout& layout, std::string* reason)
{
    if (layout.encoding != Encoding::Raw)
        return true;
    const std::uint64_t need = partBytes(header, layout);
    for (const DataPart& part : layout.parts) {
        std::uint64_t size = 0;
        if (!fileBytes(part.path, size)) {
            setReason(
                reason, partReason(layout, part, "fichier de données introuvable ou illisible"));
            return false;
        }
        const std::uint64_t skip = part.offset > 0 ? std::uint64_t(part.offset) : 0;
        if (size < skip || size - skip < need) {
            setReason(reason, shortData(layout, part));
            return false;
        }
    }
    return true;
}

bool readSamples(
    const FormatHeader& header, const SampleLayout& layout, void* samples, std::string* reason)
{
    if (layout.parts.empty() || !samples) {
        setReason(reason, "Aucun fichier de données");
        return false;
    }
    const std::uint64_t need = partBytes(header, layout);
    const std::uint64_t valuesPerPart = sampleCount(header) * std::uint64_t(layout.components)
        / std::uint64_t(layout.parts.size());
    const int valueBytes = componentBytes(header, layout);
    const int valueType = layout.components > 1 ? TYPEDATA_U8 : header.typeData;
    auto* out = static_cast<unsigned char*>(samples);
    for (std::size_t p = 0; p < layout.parts.size(); ++p) {
        const DataPart& part = layout.parts[p];
        std::int64_t offset = part.offset;
        if (offset < 0) {
            std::uint64_t size = 0;
            if (!fileBytes(part.path, size) || size < need) {
                setReason(reason, shortData(layout, part));
                return false;
            }
            offset = std::int64_t(size - need);
        }
        FilePtr f = openAt(part.path, offset);
        if (!f) {
            setReason(
                reason, partReason(layout, part, "fichier de données introuvable ou illisible"));
            return false;
        }
        Source source(f.get(), layout.encoding == Encoding::Gzip);
        unsigned char* dest = out + p * need;
        for (std::int64_t left = part.unpackedSkip; left > 0;) {
            unsigned char skipped[4096];
            const std::size_t chunk = std::size_t(std::min<std::int64_t>(left, sizeof skipped));
            if (source.read(skipped, chunk) != chunk) {
                setReason(reason, shortData(layout, part));
                return false;
            }
            left -= std::int64_t(chunk);
        }
        if (layout.encoding == Encoding::Ascii) {
            Words words(source);
            std::string word;
            for (std::uint64_t i = 0; i < valuesPerPart; ++i) {
                double v = 0;
                if (!words.next(word)) {
                    setReason(reason, shortData(layout, part));
                    return false;
                }
                if (!toDouble(word, v) && lowered(word) != "nan") {
                    setReason(reason,
                        partReason(layout, part, "valeur illisible dans les données : " + word));
                    return false;
                }
                storeValue(dest, std::size_t(i), valueType, lowered(word) == "nan" ? NAN : v);
            }
        } else {
            const std::size_t got = source.read(dest, std::size_t(need));
            if (got != need) {
                setReason(reason,
                    source.bad() ? partReason(layout, part, "données compressées corrompues")
                                 : shortData(layout, part));
                return false;
            }
            if (layout.bigEndian && valueBytes > 1)
                swapBytes(dest, std::size_t(valuesPerPart), valueBytes);
        }
    }
    if (layout.components == 3) {
        // Three bytes a sample, spread backwards so that no byte is overwritten before
        // it is read; alpha 0 as in decoded colour pictures.
        const std::size_t count = std::size_t(sampleCount(header));
        for (std::size_t i = count; i-- > 0;) {
            const unsigned char r = out[3 * i], g = out[3 * i + 1], b = out[3 * i + 2];
            out[4 * i] = r;
            out[4 * i + 1] = g;
            out[4 * i + 2] = b;
            out[4 * i + 3] = 0;
        }
    }
    return true;
}

bool writeHeaderAndSamples(const std::string& path, const std::string& header,
    const FormatBlockView& block, std::string* reason)
{
    const std::uint64_t bytes = std::uint64_t(block.width) * std::uint64_t(block.height)
        * std::uint64_t(block.depth) * std::uint64_t(vexaTypeSize(block.typeData));
    if (block.width < 1 || block.height < 1 || block.depth < 1 || !block.samples) {
        setReason(reason, fileReason(path, "donnée vide : rien à sauvegarder"));
        return false;
    }
    atomicsave::AtomicFile file;
    if (!file.open(path)) {
        setReason(
            reason, fileReason(path, withCause("Impossible de créer le fichier", file.error())));
        return false;
    }
    if (!file.write(header.data(), header.size()) || !file.write(block.samples, std::size_t(bytes))
        || !file.commit()) {
        setReason(reason, fileReason(path, withCause("Erreur d'écriture", file.error())));
        return false;
    }
    return true;
}

const char* typeWordNrrd(int typeData)
{
    switch (typeData) {
    case TYPEDATA_U8:
    case TYPEDATA_RGBA:
        return "uint8";
    case TYPEDATA_S8:
        return "int8";
    case TYPEDATA_U16:
        return "uint16";
    case TYPEDATA_S16:
        return "int16";
    case TYPEDATA_U32:
        return "uint32";
    case TYPEDATA_S32:
        return "int32";
    case TYPEDATA_F32:
        return "float";
    case TYPEDATA_F64:
        return "double";
    default:
        return "";
    }
}

const char* typeWordMeta(int typeData)
{
    switch (typeData) {
    case TYPEDATA_U8:
    case TYPEDATA_RGBA:
        return "MET_UCHAR";
    case TYPEDATA_S8:
        return "MET_CHAR";
    case TYPEDATA_U16:
        return "MET_USHORT";
    case TYPEDATA_S16:
        return "MET_SHORT";
    case TYPEDATA_U32:
        return "MET_UINT";
    case TYPEDATA_S32:
        return "MET_INT";
    case TYPEDATA_F32:
        return "MET_FLOAT";
    case TYPEDATA_F64:
        return "MET_DOUBLE";
    default:
        return "";
    }
}

} // namespace vexa::textheader
