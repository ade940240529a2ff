// The image side of the "Correction" window for an image record: the display gain and
// offset are those of the block for a block image and of the 2D image otherwise (the
// ones the image window displays with), and the histogram is taken from the shown 2D
// image, or from its visible part.
#pragma once

#include "display/correction.h"

#include <cstdint>
#include <vector>

namespace vexa {

struct DataRecord;

// The samples of the part (x0, y0, w, h) of a width x height 2D image, limited to the
// image, as doubles (RGBA: the mean of red, green and blue).
struct ImagePart {
    const void* samples = nullptr;
    std::size_t bytes = 0;
    int type = 0;
    int width = 0, height = 0;
    int x0 = 0, y0 = 0, w = 0, h = 0;
};

// Range of the part's values, NaN left out. False for an unknown type, samples shorter
// than width x height, or when no value is a number.
bool partRange(const ImagePart& part, double& min, double& max);

// nbBins counts over [low, high]: bin i gathers the values nearest to
// low + (high - low) x i / (nbBins - 1); values outside the range or NaN are not counted.
// Empty for bad samples or nbBins outside 1..kMaxHistogramBins.
constexpr int kMaxHistogramBins = 1 << 16;
std::vector<std::int64_t> partHistogram(const ImagePart& part, int nbBins, double low, double high);

// The record is found again by its identifier at each call: the window may outlive it,
// and then every operation fails or does nothing.
class RecordCorrection : public CorrectionImage {
public:
    explicit RecordCorrection(const DataRecord& record);

    std::uint32_t imageId() const { return imageId_; }

    bool getCorrection(double& gain, double& offset, int& filter) override;
    void setCorrection(double gain, double offset, int filter) override;
    void broadcastCorrection(double gain, double offset, int filter) override;
    bool getRange(int partial, double& min, double& max) override;
    std::vector<std::int64_t> getHistogram(
        int nbBins, double low, double high, int partial) override;

    // The colours of the record's palette.
    bool paletteTable(ColourTable& out) const;

private:
    DataRecord* record() const;
    // Runs use on the shown image's part under the image's lock.
    template <typename Use> bool withPart(int partial, Use&& use) const;

    std::uint32_t imageId_ = 0;
};

// Sets a record's display gain and offset and asks its views to redraw. False when the
// record has no image or the values are not finite.
bool setRecordCorrection(DataRecord& record, double gain, double offset);

} // namespace vexa
