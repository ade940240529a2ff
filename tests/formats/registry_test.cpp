#include <gtest/gtest.h>

#include "formats/formats.h"

namespace vexa {
namespace {

TEST(FormatRegistry, EveryListedReaderIsComplete)
{
    for (const FormatReader& reader : formatReaders()) {
        EXPECT_TRUE(reader.name && reader.patterns && reader.sniff && reader.probe && reader.read);
        EXPECT_FALSE(reader.sniff("empty", std::string()));
    }
    EXPECT_EQ(formatReaderFor("nothing.bin", std::string()), nullptr);
}

TEST(FormatRegistry, KnownFormatsNoReaderTakesAreNamed)
{
    const std::string png("\x89PNG\r\n\x1a\n....", 12);
    EXPECT_EQ(formatUnsupportedReason("a.png", png), "a.png : format PNG non pris en charge");
    const std::string hdf("\x89HDF\r\n\x1a\n", 8);
    EXPECT_NE(formatUnsupportedReason("scan.mnc", hdf).find("MINC"), std::string::npos);
    EXPECT_NE(formatUnsupportedReason("scan.h5", hdf).find("HDF5"), std::string::npos);
    // Analyze: a 348-byte header without the NIfTI magic.
    std::string analyze(348, '\0');
    analyze[0] = char(0x5c);
    analyze[1] = char(0x01);
    EXPECT_NE(formatUnsupportedReason("brain.hdr", analyze).find("Analyze"), std::string::npos);
    analyze.replace(344, 4, std::string("n+1\0", 4));
    EXPECT_NE(formatUnsupportedReason("brain.hdr", analyze).find("NIfTI"), std::string::npos);
    // Samples without a header, and short files, are left to the raw import.
    EXPECT_EQ(formatUnsupportedReason("slice.raw", std::string(4096, '\x07')), "");
    EXPECT_EQ(formatUnsupportedReason("x", "B"), "");
    EXPECT_EQ(formatUnsupportedReason("x.img", "\x5c\x01"), "");
}

} // namespace
} // namespace vexa
