// Entries of the formats whose readers are not built yet: the registry skips them.
#include "formats/formats.h"

namespace vexa {

const FormatReader& nrrdReader()
{
    static const FormatReader r;
    return r;
}
const FormatReader& metaImageReader()
{
    static const FormatReader r;
    return r;
}
const FormatReader& inrReader()
{
    static const FormatReader r;
    return r;
}
const FormatReader& vtkImageReader()
{
    static const FormatReader r;
    return r;
}
const FormatWriter& nrrdWriter()
{
    static const FormatWriter w;
    return w;
}
const FormatWriter& metaImageWriter()
{
    static const FormatWriter w;
    return w;
}

} // namespace vexa
