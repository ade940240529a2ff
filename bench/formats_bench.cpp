// Opening other programs' files: a 512-slice DICOM series of 256 x 256 S16 slices
// (one file per slice, as scanners write them) read into a block, against the same
// files read with plain read(); and a SEG-Y cube opened, probed and read. The files
// are made once in $TMPDIR and removed at the end.
//
// The SEG-Y cube is about 256 MiB; --segy-mib=N changes its size.
//
// A 1 GiB cube (512 inlines x 512 crosslines x 1024 IEEE samples, made only when its
// benchmarks run) opened as a file block: its first open converts it into the cache,
// a warm open finds the conversion and reads one FRONT, RIGHT and TOP section from
// it as the block's sections are read.
#include "formats/formats.h"
#include "formats/segycache.h"
#include "vexa_types.h"
#include "vexafile.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gdcmDataElement.h>
#include <gdcmImage.h>
#include <gdcmImageWriter.h>
#include <gdcmUIDGenerator.h>

using namespace vexa;

namespace {

constexpr int kSlices = 512;
constexpr int kSide = 256;
int gSegyMib = 256;

std::string makeTempDir()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexa_formats_bench_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const char* made = mkdtemp(name.data());
    return made ? made : "";
}

void putString(
    gdcm::DataSet& ds, std::uint16_t group, std::uint16_t element, gdcm::VR vr, std::string value)
{
    if (value.size() % 2)
        value += vr == gdcm::VR::UI ? '\0' : ' ';
    gdcm::DataElement de(gdcm::Tag(group, element));
    de.SetVR(vr);
    de.SetByteValue(value.data(), gdcm::VL(std::uint32_t(value.size())));
    ds.Replace(de);
}

struct DicomSeries {
    std::string dir;
    std::vector<std::string> files;

    DicomSeries()
    {
        dir = makeTempDir();
        gdcm::UIDGenerator uids;
        const std::string study = uids.Generate();
        const std::string series = uids.Generate();
        std::vector<std::int16_t> pixels(std::size_t(kSide) * kSide);
        for (int z = 0; z < kSlices; ++z) {
            for (std::size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = std::int16_t((i * 7 + std::size_t(z) * 13) % 4096 - 1024);
            gdcm::ImageWriter writer;
            gdcm::Image& image = writer.GetImage();
            image.SetNumberOfDimensions(2);
            const unsigned dims[2] = { kSide, kSide };
            image.SetDimensions(dims);
            image.SetPixelFormat(gdcm::PixelFormat::INT16);
            image.SetPhotometricInterpretation(gdcm::PhotometricInterpretation::MONOCHROME2);
            const double origin[3] = { 0, 0, 1.25 * z };
            const double spacing[3] = { 0.7, 0.7, 1.25 };
            const double cosines[6] = { 1, 0, 0, 0, 1, 0 };
            image.SetOrigin(origin);
            image.SetOrigin(2, origin[2]); // the array form keeps two values for a 2D image
            image.SetSpacing(spacing);
            image.SetDirectionCosines(cosines);
            gdcm::DataElement data(gdcm::Tag(0x7FE0, 0x0010));
            data.SetByteValue(reinterpret_cast<const char*>(pixels.data()),
                gdcm::VL(std::uint32_t(pixels.size() * 2)));
            image.SetDataElement(data);
            gdcm::DataSet& ds = writer.GetFile().GetDataSet();
            putString(ds, 0x0008, 0x0016, gdcm::VR::UI, "1.2.840.10008.5.1.4.1.1.2");
            putString(ds, 0x0008, 0x0018, gdcm::VR::UI, uids.Generate());
            putString(ds, 0x0008, 0x0060, gdcm::VR::CS, "CT");
            putString(ds, 0x0020, 0x000D, gdcm::VR::UI, study);
            putString(ds, 0x0020, 0x000E, gdcm::VR::UI, series);
            // Files named out of slice order, as series often are.
            files.push_back(dir + "/IM" + std::to_string((z * 37) % kSlices));
            writer.SetFileName(files.back().c_str());
            if (!writer.Write())
                files.pop_back();
        }
    }

    ~DicomSeries()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

DicomSeries& series()
{
    static DicomSeries s;
    return s;
}

// Plain read() of every byte of the files: the floor any reader stands on.
std::uint64_t readPlain(const std::vector<std::string>& files, std::vector<char>& buffer)
{
    std::uint64_t total = 0;
    for (const std::string& f : files) {
        const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ssize_t got = 0;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0)
            total += std::uint64_t(got);
        ::close(fd);
    }
    return total;
}

void dicomSeriesToBlock(benchmark::State& state)
{
    DicomSeries& s = series();
    if (s.files.size() != std::size_t(kSlices)) {
        state.SkipWithError("série DICOM non écrite");
        return;
    }
    std::vector<char> block;
    for (auto _ : state) {
        FormatHeader header;
        std::string reason;
        if (!dicomReader().probe(s.files.front(), header, &reason)) {
            state.SkipWithError(reason.c_str());
            return;
        }
        block.resize(std::size_t(header.width) * header.height * header.depth
            * std::size_t(vexaTypeSize(header.typeData)));
        if (header.depth != kSlices
            || !dicomReader().read(s.files.front(), header, block.data(), &reason)) {
            state.SkipWithError(reason.empty() ? "série incomplète" : reason.c_str());
            return;
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * kSlices * kSide * kSide * 2);
}

// The probe alone: finding, checking and sorting the slices of the series.
void dicomSeriesProbe(benchmark::State& state)
{
    DicomSeries& s = series();
    for (auto _ : state) {
        FormatHeader header;
        std::string reason;
        if (!dicomReader().probe(s.files.front(), header, &reason) || header.depth != kSlices) {
            state.SkipWithError(reason.empty() ? "série incomplète" : reason.c_str());
            return;
        }
    }
}

void dicomSeriesPlainRead(benchmark::State& state)
{
    DicomSeries& s = series();
    std::vector<char> buffer(1 << 20);
    std::uint64_t bytes = 0;
    for (auto _ : state)
        bytes += readPlain(s.files, buffer);
    state.SetBytesProcessed(std::int64_t(bytes));
}

// The same files read end to end into one buffer the size of the series, kept from one
// iteration to the next like the block above: what landing the bytes in a volume costs
// when nothing is decoded. The 1 MiB buffer of the plain read stays in the cache, which a
// 64 MiB volume cannot.
void dicomSeriesPlainReadIntoBlock(benchmark::State& state)
{
    DicomSeries& s = series();
    std::uint64_t size = 0;
    for (const std::string& f : s.files)
        size += std::filesystem::file_size(f);
    std::vector<char> block(size);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        std::uint64_t at = 0;
        for (const std::string& f : s.files) {
            const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            ssize_t got = 0;
            while (at < size && (got = ::read(fd, block.data() + at, size - at)) > 0)
                at += std::uint64_t(got);
            ::close(fd);
        }
        bytes += at;
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(std::int64_t(bytes));
}

struct SegyCube {
    std::string dir, path;
    std::uint64_t bytes = 0;

    SegyCube()
    {
        dir = makeTempDir();
        path = dir + "/cube.sgy";
        const int samples = 512, crosslines = 512;
        const std::uint64_t traceBytes = 240 + std::uint64_t(samples) * 4;
        const int inlines = std::max<int>(
            1, int((std::uint64_t(gSegyMib) << 20) / (traceBytes * std::uint64_t(crosslines))));
        std::vector<float> values(std::size_t(crosslines) * samples * std::size_t(inlines));
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = float(int(i % 2001) - 1000) * 0.5f;
        FormatBlockView view;
        view.width = crosslines;
        view.height = samples;
        view.depth = inlines;
        view.typeData = TYPEDATA_F32;
        view.samples = values.data();
        view.spacing[1] = 4;
        std::string reason;
        if (segyWriter().write(path, view, &reason))
            bytes = std::filesystem::file_size(path);
    }

    ~SegyCube()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

SegyCube& cube()
{
    static SegyCube c;
    return c;
}

void segyOpenProbeRead(benchmark::State& state)
{
    SegyCube& c = cube();
    if (c.bytes == 0) {
        state.SkipWithError("cube SEG-Y non écrit");
        return;
    }
    std::vector<float> block;
    for (auto _ : state) {
        const std::string head = formatHead(c.path);
        const FormatReader* reader = formatReaderFor(c.path, head);
        FormatHeader header;
        std::string reason;
        if (!reader || !reader->probe(c.path, header, &reason)) {
            state.SkipWithError(reason.empty() ? "SEG-Y non reconnu" : reason.c_str());
            return;
        }
        block.resize(std::size_t(header.width) * header.height * header.depth);
        if (!reader->read(c.path, header, block.data(), &reason)) {
            state.SkipWithError(reason.c_str());
            return;
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * c.bytes));
}

void segyPlainRead(benchmark::State& state)
{
    SegyCube& c = cube();
    std::vector<char> buffer(1 << 20);
    std::uint64_t bytes = 0;
    for (auto _ : state)
        bytes += readPlain({ c.path }, buffer);
    state.SetBytesProcessed(std::int64_t(bytes));
}

struct BigSegyCube {
    static constexpr int kInlines = 512, kCrosslines = 512, kSamples = 1024;
    std::string dir, path, cacheHome;
    bool written = false;

    BigSegyCube()
    {
        dir = makeTempDir();
        path = dir + "/big.sgy";
        cacheHome = dir + "/cache";
        ::setenv("XDG_CACHE_HOME", cacheHome.c_str(), 1);
        std::vector<float> values(std::size_t(kCrosslines) * kSamples * kInlines);
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = float(int(i % 2001) - 1000) * 0.5f;
        FormatBlockView view;
        view.width = kCrosslines;
        view.height = kSamples;
        view.depth = kInlines;
        view.typeData = TYPEDATA_F32;
        view.samples = values.data();
        view.spacing[1] = 4;
        std::string reason;
        written = segyWriter().write(path, view, &reason);
    }

    ~BigSegyCube()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

BigSegyCube& bigCube()
{
    static BigSegyCube c;
    return c;
}

// Probe and conversion (or its reuse): the cache file's name, empty on failure.
std::string bigCubeCache(benchmark::State& state, BigSegyCube& c)
{
    FormatHeader header;
    std::string reason, cache;
    if (!segyReader().probe(c.path, header, &reason)
        || segyCacheFile(c.path, header, cache, &reason) != SegyCacheOutcome::Ready)
        state.SkipWithError(reason.c_str());
    return cache;
}

void segyBigFirstOpen(benchmark::State& state)
{
    BigSegyCube& c = bigCube();
    if (!c.written) {
        state.SkipWithError("cube SEG-Y non écrit");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ec;
        std::filesystem::remove_all(c.cacheHome, ec);
        state.ResumeTiming();
        if (bigCubeCache(state, c).empty())
            return;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * std::filesystem::file_size(c.path)));
}

void segyBigWarmOpenSections(benchmark::State& state)
{
    BigSegyCube& c = bigCube();
    if (!c.written) {
        state.SkipWithError("cube SEG-Y non écrit");
        return;
    }
    // Warm: the conversion is made (or found) before timing, whichever case ran first.
    if (bigCubeCache(state, c).empty())
        return;
    for (auto _ : state) {
        const std::string cache = bigCubeCache(state, c);
        if (cache.empty())
            return;
        FileDescriptor* desc = vexaFileNameOpen(cache.c_str());
        if (!desc || !vexaFileReadHeader(desc)) {
            vexaFileRelease(desc);
            state.SkipWithError("conversion illisible");
            return;
        }
        const int middle[3] = { BigSegyCube::kInlines / 2, BigSegyCube::kCrosslines / 2,
            BigSegyCube::kSamples / 2 };
        for (int orientation : { VEXAFILE_FRONT, VEXAFILE_RIGHT, VEXAFILE_TOP }) {
            void* section = vexaFileReadImage(desc, orientation, middle[orientation]);
            benchmark::DoNotOptimize(section);
            vexaFileFree(section);
        }
        vexaFileRelease(desc);
    }
}

} // namespace

// The reader spreads its files over two threads: CPU time counts both.
BENCHMARK(dicomSeriesToBlock)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(dicomSeriesProbe)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(dicomSeriesPlainRead)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(dicomSeriesPlainReadIntoBlock)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(segyOpenProbeRead)->Unit(benchmark::kMillisecond);
BENCHMARK(segyPlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(segyBigFirstOpen)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(segyBigWarmOpenSections)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // Our own option first, so that the benchmark library does not refuse it.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--segy-mib=", 11) == 0)
            gSegyMib = std::max(1, std::atoi(argv[i] + 11));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
