// The image side of the "Correction" window for an image record: the display gain and
// offset are those of the block for a block image and of the 2D image otherwise (the
// ones the image window displays with), and the histogram is taken from the shown 2D
// image, or from its visible part.
#pragma once

#include "data/block.h"
#include "display/correction.h"
#include "display/imagerange.h"

#include <cstdint>
#include <vector>

namespace vexa {

struct DataRecord;

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

// Shows the record with another palette: that of its block for a block image, that of
// its 2D image otherwise (both are set, so that a later section keeps it), then asks
// its views to redraw. False when the record has no image.
bool setRecordPalette(DataRecord& record, PaletteRef palette);

} // namespace vexa
