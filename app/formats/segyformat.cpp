// SEG-Y seismic files through segyio.
//
// A cube sorted by inline or crossline opens as a block with inline sections as
// FRONT planes: X = crossline, Y = sample (time downwards), Z = inline. Spacing and
// origin then carry the line numbering (step and first line number) and the sample
// interval and delay in milliseconds, which the writer turns back into numbers.
// Traces that do not form a regular grid open as a 2D image, X = trace, Y = sample.
// Samples are always F32, whatever the stored format.
#include "formats/formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <segyio/segy.h>

#include "vexa_reason.hpp"
#include "vexa_types.h"

#include "atomicsave.hpp"

namespace vexa {

static_assert(
    std::endian::native == std::endian::little, "samples are read for a little-endian host");

namespace {

constexpr int kTextBytes = SEGY_TEXT_HEADER_SIZE;
constexpr int kBinaryEnd = SEGY_TEXT_HEADER_SIZE + SEGY_BINARY_HEADER_SIZE; // 3600
constexpr int kMaxSamples = 32767;

struct SegyFileCloser {
    void operator()(segy_file* fp) const { segy_close(fp); }
};
using SegyFilePtr = std::unique_ptr<segy_file, SegyFileCloser>;

struct SegyState {
    int formatFlags = 0; // format code | SEGY_LSB or SEGY_MSB
    int format = 0;
    int samples = 0;
    int traces = 0;
    long trace0 = 0;
    int traceBytes = 0;
    bool cube = false;
    bool inlineSorted = true;
    int inlines = 1, crosslines = 1;
};

bool endsWithNoCase(const std::string& name, const char* suffix)
{
    const std::size_t n = std::strlen(suffix);
    if (name.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != suffix[i])
            return false;
    return true;
}

bool hasSegyExtension(const std::string& path)
{
    return endsWithNoCase(path, ".sgy") || endsWithNoCase(path, ".segy");
}

int field16(const unsigned char* p, bool little)
{
    return little ? (p[0] | (p[1] << 8)) : ((p[0] << 8) | p[1]);
}

bool supportedFormat(int format)
{
    return format == SEGY_IBM_FLOAT_4_BYTE || format == SEGY_SIGNED_INTEGER_4_BYTE
        || format == SEGY_SIGNED_SHORT_2_BYTE || format == SEGY_IEEE_FLOAT_4_BYTE
        || format == SEGY_SIGNED_CHAR_1_BYTE;
}

// The byte order whose format code is a known one; big-endian when neither is.
bool littleEndianHeader(const unsigned char* binary)
{
    const int big = field16(binary + 24, false);
    const int little = field16(binary + 24, true);
    return !(big >= 1 && big <= 16) && little >= 1 && little <= 16;
}

const char* formatName(int format)
{
    switch (format) {
    case SEGY_IBM_FLOAT_4_BYTE:
        return "virgule flottante IBM 32 bits";
    case SEGY_SIGNED_INTEGER_4_BYTE:
        return "entier signé 32 bits";
    case SEGY_SIGNED_SHORT_2_BYTE:
        return "entier signé 16 bits";
    case SEGY_IEEE_FLOAT_4_BYTE:
        return "virgule flottante IEEE 32 bits";
    case SEGY_SIGNED_CHAR_1_BYTE:
        return "entier signé 8 bits";
    default:
        return "inconnu";
    }
}

bool sniffSegy(const std::string& path, const std::string& head)
{
    if (head.size() < std::size_t(kBinaryEnd))
        return false;
    if (hasSegyExtension(path))
        return true;
    // Without the extension, ask for a textual header starting with 'C' (EBCDIC or
    // ASCII) and a binary header whose format, sample count and interval make sense.
    const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
    if (bytes[0] != 0xC3 && bytes[0] != 'C')
        return false;
    const unsigned char* binary = bytes + kTextBytes;
    const bool little = littleEndianHeader(binary);
    const int format = field16(binary + 24, little);
    const int samples = field16(binary + 20, little);
    const int interval = field16(binary + 16, little);
    return supportedFormat(format) && samples >= 1 && samples <= kMaxSamples && interval >= 1
        && interval <= 32767;
}

std::string trimmedRight(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

// The 40 card images of a textual header, one per line, without trailing blanks.
std::string textLines(const char* text)
{
    std::string out;
    for (int line = 0; line < 40; ++line) {
        std::string card(text + line * 80, 80);
        for (char& c : card)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                c = ' ';
        out += trimmedRight(card);
        out += '\n';
    }
    return out;
}

// Opens path for reading with the byte order of its binary header. The binary header
// comes back in big-endian order whatever the file's order.
SegyFilePtr openSegy(const std::string& path, bool& little, char* binary, std::string* reason)
{
    little = false;
    FILE* raw = std::fopen(path.c_str(), "rb");
    if (!raw) {
        setReason(reason, fileReason(path, withCause("ouverture impossible", errno)));
        return nullptr;
    }
    unsigned char start[kBinaryEnd];
    const std::size_t got = std::fread(start, 1, sizeof start, raw);
    std::fclose(raw);
    if (got < sizeof start) {
        setReason(reason, fileReason(path, "fichier trop court pour un en-tête SEG-Y"));
        return nullptr;
    }
    little = littleEndianHeader(start + kTextBytes);
    SegyFilePtr fp(segy_open(path.c_str(), "rb"));
    if (!fp) {
        setReason(reason, fileReason(path, withCause("ouverture impossible", errno)));
        return nullptr;
    }
    if (segy_set_format(fp.get(), little ? SEGY_LSB : SEGY_MSB) != SEGY_OK
        || segy_binheader(fp.get(), binary) != SEGY_OK) {
        setReason(reason, fileReason(path, "en-tête binaire SEG-Y illisible"));
        return nullptr;
    }
    return fp;
}

// Line numbers of a sorted file and whether every trace sits where the sorting says.
bool regularGrid(segy_file* fp, const SegyState& s, int sorting, std::vector<int>& inlineNumbers,
    std::vector<int>& crosslineNumbers)
{
    inlineNumbers.assign(std::size_t(s.inlines), 0);
    crosslineNumbers.assign(std::size_t(s.crosslines), 0);
    if (segy_inline_indices(fp, SEGY_TR_INLINE, sorting, s.inlines, s.crosslines, 1,
            inlineNumbers.data(), s.trace0, s.traceBytes)
            != SEGY_OK
        || segy_crossline_indices(fp, SEGY_TR_CROSSLINE, sorting, s.inlines, s.crosslines, 1,
               crosslineNumbers.data(), s.trace0, s.traceBytes)
            != SEGY_OK)
        return false;
    std::vector<int> il(std::size_t(s.traces)), xl(std::size_t(s.traces));
    if (segy_field_forall(fp, SEGY_TR_INLINE, 0, s.traces, 1, il.data(), s.trace0, s.traceBytes)
            != SEGY_OK
        || segy_field_forall(
               fp, SEGY_TR_CROSSLINE, 0, s.traces, 1, xl.data(), s.trace0, s.traceBytes)
            != SEGY_OK)
        return false;
    for (int i = 0; i < s.inlines; ++i)
        for (int x = 0; x < s.crosslines; ++x) {
            const std::size_t t = s.inlineSorted ? std::size_t(i) * std::size_t(s.crosslines) + x
                                                 : std::size_t(x) * std::size_t(s.inlines) + i;
            if (il[t] != inlineNumbers[std::size_t(i)] || xl[t] != crosslineNumbers[std::size_t(x)])
                return false;
        }
    return true;
}

std::string lineRange(const std::vector<int>& numbers)
{
    std::string text = std::to_string(numbers.front()) + " à " + std::to_string(numbers.back());
    if (numbers.size() > 1)
        text += " (pas " + std::to_string(numbers[1] - numbers[0]) + ")";
    return text;
}

bool probeSegy(const std::string& path, FormatHeader& header, std::string* reason)
{
    bool little = false;
    char binary[SEGY_BINARY_HEADER_SIZE];
    SegyFilePtr fp = openSegy(path, little, binary, reason);
    if (!fp)
        return false;

    auto state = std::make_shared<SegyState>();
    SegyState& s = *state;
    s.format = segy_format(binary);
    s.samples = segy_samples(binary);
    if (!supportedFormat(s.format)) {
        setReason(reason,
            fileReason(path,
                "format d'échantillons SEG-Y " + std::to_string(s.format) + " non pris en charge"));
        return false;
    }
    if (s.samples < 1 || s.samples > kMaxSamples) {
        setReason(reason,
            fileReason(path,
                "nombre d'échantillons par trace invalide (" + std::to_string(s.samples) + ")"));
        return false;
    }
    s.formatFlags = s.format | (little ? SEGY_LSB : SEGY_MSB);
    s.trace0 = segy_trace0(binary);
    s.traceBytes = segy_trsize(s.format, s.samples);
    struct stat st { };
    if (s.traceBytes <= 0 || s.trace0 < kBinaryEnd || ::stat(path.c_str(), &st) != 0
        || s.trace0 > st.st_size) {
        setReason(reason, fileReason(path, "en-têtes textuels étendus plus longs que le fichier"));
        return false;
    }
    if (segy_set_format(fp.get(), s.formatFlags) != SEGY_OK) {
        setReason(reason, fileReason(path, "format d'échantillons SEG-Y non pris en charge"));
        return false;
    }
    // The grid check reads every trace header: through a mapping, not one small
    // buffered read per header. Plain reads remain when mapping fails.
    segy_mmap(fp.get());
    const int traceRc = segy_traces(fp.get(), &s.traces, s.trace0, s.traceBytes);
    if (traceRc == SEGY_TRACE_SIZE_MISMATCH) {
        setReason(reason,
            fileReason(path,
                "la taille du fichier ne correspond pas à un nombre entier de traces (fichier "
                "tronqué ?)"));
        return false;
    }
    if (traceRc != SEGY_OK || s.traces <= 0) {
        setReason(reason, fileReason(path, "aucune trace dans le fichier"));
        return false;
    }

    // A cube needs one offset and every trace at its grid place; anything else is
    // shown as it is stored.
    std::vector<int> inlineNumbers, crosslineNumbers;
    int sorting = SEGY_UNKNOWN_SORTING;
    int offsets = 0;
    if (segy_sorting(fp.get(), SEGY_TR_INLINE, SEGY_TR_CROSSLINE, SEGY_TR_OFFSET, &sorting,
            s.trace0, s.traceBytes)
            == SEGY_OK
        && sorting != SEGY_UNKNOWN_SORTING
        && segy_offsets(fp.get(), SEGY_TR_INLINE, SEGY_TR_CROSSLINE, s.traces, &offsets, s.trace0,
               s.traceBytes)
            == SEGY_OK
        && offsets == 1
        && segy_lines_count(fp.get(), SEGY_TR_INLINE, SEGY_TR_CROSSLINE, sorting, 1, &s.inlines,
               &s.crosslines, s.trace0, s.traceBytes)
            == SEGY_OK
        && s.inlines > 0 && s.crosslines > 0
        && std::int64_t(s.inlines) * s.crosslines == std::int64_t(s.traces)) {
        s.inlineSorted = sorting == SEGY_INLINE_SORTING;
        s.cube = regularGrid(fp.get(), s, sorting, inlineNumbers, crosslineNumbers);
    }

    float dt = 0;
    if (segy_sample_interval(fp.get(), 4000.0f, &dt) != SEGY_OK || !(dt > 0))
        dt = 4000.0f;
    char traceHeader[SEGY_TRACE_HEADER_SIZE];
    std::int32_t delay = 0;
    if (segy_traceheader(fp.get(), 0, traceHeader, s.trace0, s.traceBytes) == SEGY_OK)
        segy_get_field(traceHeader, SEGY_TR_DELAY_REC_TIME, &delay);

    header = FormatHeader {};
    header.typeData = TYPEDATA_F32;
    header.height = s.samples;
    header.spacing[1] = dt / 1000.0;
    header.origin[1] = delay;
    if (s.cube) {
        header.width = s.crosslines;
        header.depth = s.inlines;
        header.origin[0] = crosslineNumbers.front();
        header.origin[2] = inlineNumbers.front();
        if (s.crosslines > 1 && crosslineNumbers[1] != crosslineNumbers[0])
            header.spacing[0] = crosslineNumbers[1] - crosslineNumbers[0];
        if (s.inlines > 1 && inlineNumbers[1] != inlineNumbers[0])
            header.spacing[2] = inlineNumbers[1] - inlineNumbers[0];
    } else {
        s.inlines = 1;
        s.crosslines = s.traces;
        header.width = s.traces;
        header.depth = 1;
    }

    std::string info = "Format : SEG-Y";
    std::int32_t revision = 0;
    if (segy_get_bfield(binary, SEGY_BIN_SEGY_REVISION, &revision) == SEGY_OK)
        info += " révision " + std::to_string((revision >> 8) & 0xFF);
    info += ", " + std::string(formatName(s.format)) + " (code " + std::to_string(s.format) + "), "
        + (little ? "petit-boutiste" : "gros-boutiste") + "\n";
    char interval[32];
    std::snprintf(interval, sizeof interval, "%g", double(dt) / 1000.0);
    info += "Traces : " + std::to_string(s.traces) + ", " + std::to_string(s.samples)
        + " échantillons par trace, intervalle " + interval + " ms\n";
    if (s.cube) {
        info += "Inlines : " + lineRange(inlineNumbers) + ", " + std::to_string(s.inlines)
            + " lignes\n";
        info += "Crosslines : " + lineRange(crosslineNumbers) + ", " + std::to_string(s.crosslines)
            + " lignes\n";
        info += std::string("Classement : par ") + (s.inlineSorted ? "inline" : "crossline")
            + "\nAxes : X = crossline, Y = échantillon, Z = inline\n";
    } else {
        info += "Géométrie : traces sans grille régulière, image trace × échantillon\n";
    }
    char text[kTextBytes + 1] = {};
    if (segy_read_textheader(fp.get(), text) == SEGY_OK)
        info += "En-tête textuel :\n" + textLines(text);
    const int extended = int((s.trace0 - kBinaryEnd) / kTextBytes);
    if (extended > 0)
        info += "En-têtes textuels étendus : " + std::to_string(extended) + "\n";
    header.info = std::move(info);
    header.state = state;
    return true;
}

// One stored sample as a float; Swap when the file's byte order is not the host's.
template <int Format, bool Swap> float sampleAt(const char* data, std::size_t k)
{
    if constexpr (Format == SEGY_SIGNED_CHAR_1_BYTE) {
        return static_cast<signed char>(data[k]);
    } else if constexpr (Format == SEGY_SIGNED_SHORT_2_BYTE) {
        std::uint16_t v;
        std::memcpy(&v, data + 2 * k, 2);
        if constexpr (Swap)
            v = __builtin_bswap16(v);
        return float(std::int16_t(v));
    } else {
        std::uint32_t v;
        std::memcpy(&v, data + 4 * k, 4);
        if constexpr (Swap)
            v = __builtin_bswap32(v);
        if constexpr (Format == SEGY_SIGNED_INTEGER_4_BYTE)
            return float(std::int32_t(v));
        else
            return std::bit_cast<float>(v);
    }
}

// Writes traces (samples after their header, traceBytes apart) as the block
// columns starting at columns[i].
template <int Format, bool Swap>
void scatter(const char* traces, std::size_t traceBytes, int count, const std::size_t* columns,
    float* out, std::size_t width, std::size_t height)
{
    // Row by row across the traces: the writes of one row are contiguous in an
    // inline-sorted cube, and the group's traces stay in the cache meanwhile.
    const char* data = traces + SEGY_TRACE_HEADER_SIZE;
    for (std::size_t k = 0; k < height; ++k) {
        float* row = out + k * width;
        for (int i = 0; i < count; ++i)
            row[columns[i]] = sampleAt<Format, Swap>(data + std::size_t(i) * traceBytes, k);
    }
}

template <bool Swap>
void scatterFormat(int format, const char* traces, std::size_t traceBytes, int count,
    const std::size_t* columns, float* out, std::size_t width, std::size_t height)
{
    switch (format) {
    case SEGY_SIGNED_SHORT_2_BYTE:
        return scatter<SEGY_SIGNED_SHORT_2_BYTE, Swap>(
            traces, traceBytes, count, columns, out, width, height);
    case SEGY_SIGNED_INTEGER_4_BYTE:
        return scatter<SEGY_SIGNED_INTEGER_4_BYTE, Swap>(
            traces, traceBytes, count, columns, out, width, height);
    case SEGY_SIGNED_CHAR_1_BYTE:
        return scatter<SEGY_SIGNED_CHAR_1_BYTE, Swap>(
            traces, traceBytes, count, columns, out, width, height);
    default:
        return scatter<SEGY_IEEE_FLOAT_4_BYTE, Swap>(
            traces, traceBytes, count, columns, out, width, height);
    }
}

// IBM floats of one trace to native IEEE floats in place. segyio converts from
// big-endian order only, so little-endian ones are put in that order first.
bool ibmToNative(bool little, int samples, char* data)
{
    if (little)
        for (int i = 0; i < samples; ++i) {
            char* v = data + 4 * i;
            std::swap(v[0], v[3]);
            std::swap(v[1], v[2]);
        }
    return segy_to_native(SEGY_IBM_FLOAT_4_BYTE, samples, data) == SEGY_OK;
}

// Reads exactly size bytes at offset; false on an error or an early end of file.
bool preadAll(int fd, char* into, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, into, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        size -= std::size_t(got);
        offset += got;
    }
    return true;
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Reads traces [first, first + count) of an open file and stores sample k of trace t
// at out[columnOf(t) + k * width]. Runs of whole traces (about 1 MiB, so that they
// stay in the cache) come in with one read each; IBM samples are converted in place,
// the others while they are written a few traces at a time row by row, so that
// neighbouring traces (neighbouring X in an inline-sorted file) fill the same cache
// lines instead of one line per sample.
template <typename ColumnOf>
bool scatterTraces(int fd, const SegyState& s, bool little, int first, int count, std::size_t width,
    float* out, ColumnOf columnOf, const std::string& path, std::string* reason)
{
    // segyio's trace size counts the samples only; on disk each has its header.
    const std::size_t traceBytes = std::size_t(s.traceBytes) + SEGY_TRACE_HEADER_SIZE;
    const std::size_t height = std::size_t(s.samples);
    const int batch = int(std::max<std::size_t>(1, (std::size_t(1) << 20) / traceBytes));
    constexpr int kGroup = 64;
    std::vector<char> raw(std::size_t(std::min(batch, count)) * traceBytes);
    std::size_t columns[kGroup];
    const bool ibm = s.format == SEGY_IBM_FLOAT_4_BYTE;
    for (int done = 0; done < count; done += batch) {
        const int n = std::min(batch, count - done);
        const int firstOfRun = first + done;
        if (!preadAll(fd, raw.data(), std::size_t(n) * traceBytes,
                off_t(s.trace0) + off_t(firstOfRun) * off_t(traceBytes))) {
            setReason(reason,
                fileReason(
                    path, "lecture de la trace " + std::to_string(firstOfRun + 1) + " impossible"));
            return false;
        }
        for (int i = 0; ibm && i < n; ++i) {
            if (!ibmToNative(little, s.samples,
                    raw.data() + std::size_t(i) * traceBytes + SEGY_TRACE_HEADER_SIZE)) {
                setReason(reason,
                    fileReason(path,
                        "lecture de la trace " + std::to_string(firstOfRun + i + 1)
                            + " impossible"));
                return false;
            }
        }
        for (int group = 0; group < n; group += kGroup) {
            const int members = std::min(kGroup, n - group);
            for (int i = 0; i < members; ++i)
                columns[i] = columnOf(std::size_t(firstOfRun + group + i));
            const char* data = raw.data() + std::size_t(group) * traceBytes;
            // IBM samples are native floats by now; the others keep the file's order.
            if (ibm || little)
                scatterFormat<false>(ibm ? SEGY_IEEE_FLOAT_4_BYTE : s.format, data, traceBytes,
                    members, columns, out, width, height);
            else
                scatterFormat<true>(
                    s.format, data, traceBytes, members, columns, out, width, height);
        }
    }
    return true;
}

// The probed file opened for reading its samples, once it is checked to still hold the
// traces its header was read with; -1 with a reason otherwise.
int openProbedSegy(const std::string& path, const SegyState& s, bool& little, std::string* reason)
{
    char binary[SEGY_BINARY_HEADER_SIZE];
    SegyFilePtr fp = openSegy(path, little, binary, reason);
    if (!fp)
        return -1;
    int traces = 0;
    if (segy_set_format(fp.get(), s.formatFlags) != SEGY_OK
        || segy_traces(fp.get(), &traces, s.trace0, s.traceBytes) != SEGY_OK
        || traces != s.traces) {
        setReason(reason, fileReason(path, "le fichier a changé depuis la lecture de son en-tête"));
        return -1;
    }
    fp.reset();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        setReason(reason, fileReason(path, withCause("ouverture impossible", errno)));
    return fd;
}

const SegyState* probedState(
    const std::string& path, const FormatHeader& header, const void* samples, std::string* reason)
{
    const auto* s = static_cast<const SegyState*>(header.state.get());
    if (!s || !samples || header.width != s->crosslines || header.depth != s->inlines
        || header.height != s->samples) {
        setReason(reason, fileReason(path, "en-tête SEG-Y non lu avant les échantillons"));
        return nullptr;
    }
    return s;
}

bool readSegy(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    const SegyState* s = probedState(path, header, samples, reason);
    if (!s)
        return false;
    bool little = false;
    const FdCloser file { openProbedSegy(path, *s, little, reason) };
    if (file.fd < 0)
        return false;
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::size_t width = std::size_t(header.width);
    const std::size_t plane = width * std::size_t(s->samples);
    const std::size_t lineLength = std::size_t(s->inlineSorted ? s->crosslines : s->inlines);
    auto column = [&](std::size_t t) {
        if (!s->cube)
            return t;
        const std::size_t major = t / lineLength;
        const std::size_t minor = t % lineLength;
        return s->inlineSorted ? major * plane + minor : minor * plane + major;
    };
    return scatterTraces(file.fd, *s, little, 0, s->traces, width, static_cast<float*>(samples),
        column, path, reason);
}

// ---- Writer ----

template <typename T>
void columnAsFloat(const FormatBlockView& b, std::size_t x, std::size_t z, float* out)
{
    const auto* data = static_cast<const T*>(b.samples);
    const std::size_t width = std::size_t(b.width);
    const std::size_t base = z * width * std::size_t(b.height) + x;
    for (int k = 0; k < b.height; ++k) {
        double v = double(data[base + std::size_t(k) * width]);
        if (b.valueScaleOn)
            v = v * b.valueGain + b.valueOffset;
        out[k] = float(v);
    }
}

void columnAsFloat(const FormatBlockView& b, std::size_t x, std::size_t z, float* out)
{
    switch (b.typeData) {
    case TYPEDATA_U8:
        return columnAsFloat<std::uint8_t>(b, x, z, out);
    case TYPEDATA_S8:
        return columnAsFloat<std::int8_t>(b, x, z, out);
    case TYPEDATA_U16:
        return columnAsFloat<std::uint16_t>(b, x, z, out);
    case TYPEDATA_S16:
        return columnAsFloat<std::int16_t>(b, x, z, out);
    case TYPEDATA_U32:
        return columnAsFloat<std::uint32_t>(b, x, z, out);
    case TYPEDATA_S32:
        return columnAsFloat<std::int32_t>(b, x, z, out);
    case TYPEDATA_F64:
        return columnAsFloat<double>(b, x, z, out);
    default:
        return columnAsFloat<float>(b, x, z, out);
    }
}

bool acceptsSegy(int typeData)
{
    return vexaTypeIsValid(typeData) && typeData != TYPEDATA_RGBA;
}

// Line number i along an axis: the reader's numbering when origin and step are whole
// numbers, 1, 2, 3... otherwise.
bool lineNumbering(double origin, double step, int count, int& first, int& increment)
{
    first = 1;
    increment = 1;
    if (std::isfinite(origin) && std::isfinite(step) && origin == std::floor(origin)
        && step == std::floor(step) && step >= 1) {
        const double last = origin + step * (count - 1);
        if (origin >= INT32_MIN && last <= INT32_MAX) {
            first = int(origin);
            increment = int(step);
        }
    }
    return true;
}

std::string writerTextHeader(const FormatBlockView& b, int dtMicro)
{
    const std::string lines[] = {
        "SEG-Y REV 1, IEEE FLOAT 32 BITS, BIG-ENDIAN, WRITTEN BY VEXA",
        "INLINES " + std::to_string(b.depth) + ", CROSSLINES " + std::to_string(b.width)
            + ", SAMPLES " + std::to_string(b.height),
        "SAMPLE INTERVAL " + std::to_string(dtMicro) + " MICROSECONDS",
        "INLINE NUMBER AT BYTE 189, CROSSLINE NUMBER AT BYTE 193",
    };
    std::string text(std::size_t(kTextBytes), ' ');
    for (int line = 0; line < 40; ++line) {
        std::string card = (line < 9 ? "C " : "C") + std::to_string(line + 1) + " ";
        if (line < int(std::size(lines)))
            card += lines[line];
        if (line == 38)
            card += "SEG Y REV1";
        else if (line == 39)
            card += "END TEXTUAL HEADER";
        text.replace(std::size_t(line) * 80, std::min<std::size_t>(card.size(), 80), card, 0, 80);
    }
    return text;
}

bool writeSegy(const std::string& path, const FormatBlockView& block, std::string* reason)
{
    if (!acceptsSegy(block.typeData) || !block.samples) {
        setReason(reason, fileReason(path, "type d'échantillons impossible à écrire en SEG-Y"));
        return false;
    }
    if (block.width < 1 || block.height < 1 || block.depth < 1) {
        setReason(reason, fileReason(path, "dimensions invalides"));
        return false;
    }
    if (block.height > kMaxSamples) {
        setReason(reason,
            fileReason(path,
                "trop d'échantillons par trace pour le SEG-Y (" + std::to_string(block.height)
                    + ", au plus " + std::to_string(kMaxSamples) + ")"));
        return false;
    }
    const std::int64_t traceCount = std::int64_t(block.width) * block.depth;
    if (traceCount > INT_MAX) {
        setReason(reason, fileReason(path, "trop de traces pour un fichier SEG-Y"));
        return false;
    }
    const double dtWanted = std::round(block.spacing[1] * 1000.0);
    const int dt = (dtWanted >= 1 && dtWanted <= 32767) ? int(dtWanted) : 4000;
    int firstXl = 1, stepXl = 1, firstIl = 1, stepIl = 1;
    lineNumbering(block.origin[0], block.spacing[0], block.width, firstXl, stepXl);
    lineNumbering(block.origin[2], block.spacing[2], block.depth, firstIl, stepIl);
    const double delay = std::round(block.origin[1]);
    const int delayMs = (delay >= -32768 && delay <= 32767) ? int(delay) : 0;

    atomicsave::AtomicFile file;
    if (!file.open(path)) {
        setReason(reason, fileReason(path, withCause("écriture impossible", file.error())));
        return false;
    }
    auto fail = [&](int err) {
        file.discard();
        setReason(reason, fileReason(path, withCause("écriture impossible", err)));
        return false;
    };
    {
        SegyFilePtr fp(segy_open(file.tempPath().c_str(), "r+b"));
        if (!fp
            || segy_set_format(fp.get(), int(SEGY_IEEE_FLOAT_4_BYTE) | int(SEGY_MSB)) != SEGY_OK)
            return fail(errno);
        const std::string text = writerTextHeader(block, dt);
        char binary[SEGY_BINARY_HEADER_SIZE] = {};
        segy_set_bfield(binary, SEGY_BIN_JOB_ID, 1);
        segy_set_bfield(binary, SEGY_BIN_LINE_NUMBER, firstIl);
        segy_set_bfield(binary, SEGY_BIN_TRACES, std::min(block.width, 32767));
        segy_set_bfield(binary, SEGY_BIN_INTERVAL, dt);
        segy_set_bfield(binary, SEGY_BIN_INTERVAL_ORIG, dt);
        segy_set_bfield(binary, SEGY_BIN_SAMPLES, block.height);
        segy_set_bfield(binary, SEGY_BIN_SAMPLES_ORIG, block.height);
        segy_set_bfield(binary, SEGY_BIN_FORMAT, SEGY_IEEE_FLOAT_4_BYTE);
        segy_set_bfield(binary, SEGY_BIN_ENSEMBLE_FOLD, 1);
        segy_set_bfield(binary, SEGY_BIN_SORTING_CODE, 4); // horizontally stacked
        segy_set_bfield(binary, SEGY_BIN_MEASUREMENT_SYSTEM, 1);
        segy_set_bfield(binary, SEGY_BIN_SEGY_REVISION, 0x0100);
        segy_set_bfield(binary, SEGY_BIN_TRACE_FLAG, 1);
        segy_set_bfield(binary, SEGY_BIN_EXT_HEADERS, 0);
        if (segy_write_textheader(fp.get(), 0, text.c_str()) != SEGY_OK
            || segy_write_binheader(fp.get(), binary) != SEGY_OK)
            return fail(errno);

        const int traceBytes = segy_trsize(SEGY_IEEE_FLOAT_4_BYTE, block.height);
        std::vector<float> values(std::size_t(block.height));
        char traceHeader[SEGY_TRACE_HEADER_SIZE];
        int t = 0;
        for (int z = 0; z < block.depth; ++z)
            for (int x = 0; x < block.width; ++x, ++t) {
                std::memset(traceHeader, 0, sizeof traceHeader);
                const int il = firstIl + z * stepIl;
                const int xl = firstXl + x * stepXl;
                segy_set_field(traceHeader, SEGY_TR_SEQ_LINE, t + 1);
                segy_set_field(traceHeader, SEGY_TR_SEQ_FILE, t + 1);
                segy_set_field(traceHeader, SEGY_TR_FIELD_RECORD, il);
                segy_set_field(traceHeader, SEGY_TR_NUMBER_ORIG_FIELD, x + 1);
                segy_set_field(traceHeader, SEGY_TR_ENSEMBLE, t + 1);
                segy_set_field(traceHeader, SEGY_TR_TRACE_ID, 1);
                segy_set_field(traceHeader, SEGY_TR_DATA_USE, 1);
                segy_set_field(traceHeader, SEGY_TR_DELAY_REC_TIME, delayMs);
                segy_set_field(traceHeader, SEGY_TR_SAMPLE_COUNT, block.height);
                segy_set_field(traceHeader, SEGY_TR_SAMPLE_INTER, dt);
                segy_set_field(traceHeader, SEGY_TR_INLINE, il);
                segy_set_field(traceHeader, SEGY_TR_CROSSLINE, xl);
                columnAsFloat(block, std::size_t(x), std::size_t(z), values.data());
                if (segy_write_traceheader(fp.get(), t, traceHeader, kBinaryEnd, traceBytes)
                        != SEGY_OK
                    || segy_from_native(SEGY_IEEE_FLOAT_4_BYTE, block.height, values.data())
                        != SEGY_OK
                    || segy_writetrace(fp.get(), t, values.data(), kBinaryEnd, traceBytes)
                        != SEGY_OK)
                    return fail(errno);
            }
        if (segy_flush(fp.get(), false) != SEGY_OK)
            return fail(errno);
    }
    if (!file.commit()) {
        setReason(reason, fileReason(path, withCause("écriture impossible", file.error())));
        return false;
    }
    return true;
}

} // namespace

bool segyReadPlanes(const std::string& path, const FormatHeader& header, int firstPlane, int planes,
    float* out, std::string* reason)
{
    const SegyState* s = probedState(path, header, out, reason);
    if (!s)
        return false;
    if (!s->cube || firstPlane < 0 || planes < 1 || planes > s->inlines - firstPlane) {
        setReason(reason, fileReason(path, "plans demandés hors du cube SEG-Y"));
        return false;
    }
    bool little = false;
    const FdCloser file { openProbedSegy(path, *s, little, reason) };
    if (file.fd < 0)
        return false;
    const std::size_t width = std::size_t(s->crosslines);
    const std::size_t plane = width * std::size_t(s->samples);
    const std::size_t z0 = std::size_t(firstPlane);
    if (s->inlineSorted) {
        // The planes' traces follow each other in the file.
        auto column = [&](std::size_t t) { return (t / width - z0) * plane + t % width; };
        return scatterTraces(file.fd, *s, little, int(z0 * width), int(std::size_t(planes) * width),
            width, out, column, path, reason);
    }
    // Sorted by crossline: each crossline holds one run of the planes' traces.
    const std::size_t inlines = std::size_t(s->inlines);
    auto column = [&](std::size_t t) { return (t % inlines - z0) * plane + t / inlines; };
    for (std::size_t x = 0; x < width; ++x)
        if (!scatterTraces(file.fd, *s, little, int(x * inlines + z0), planes, width, out, column,
                path, reason))
            return false;
    return true;
}

const FormatReader& segyReader()
{
    static const FormatReader r { "SEG-Y", "*.sgy *.segy", sniffSegy, probeSegy, readSegy };
    return r;
}

const FormatWriter& segyWriter()
{
    static const FormatWriter w { "SEG-Y", ".sgy", "*.sgy *.segy", acceptsSegy, writeSegy };
    return w;
}

} // namespace vexa
