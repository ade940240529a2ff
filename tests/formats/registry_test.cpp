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

} // namespace
} // namespace vexa
