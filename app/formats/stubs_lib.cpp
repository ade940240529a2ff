// Entries of the formats whose readers are not built yet: the registry skips them.
#include "formats/formats.h"

namespace vexa {

const FormatReader& tiffLibraryReader()
{
    static const FormatReader r;
    return r;
}
const FormatReader& niftiReader()
{
    static const FormatReader r;
    return r;
}
const FormatWriter& niftiWriter()
{
    static const FormatWriter w;
    return w;
}
const FormatWriter& tiffWriter()
{
    static const FormatWriter w;
    return w;
}

} // namespace vexa
