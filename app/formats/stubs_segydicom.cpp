// Entries of the formats whose readers are not built yet: the registry skips them.
#include "formats/formats.h"

namespace vexa {

const FormatReader& segyReader()
{
    static const FormatReader r;
    return r;
}
const FormatReader& dicomReader()
{
    static const FormatReader r;
    return r;
}
const FormatWriter& segyWriter()
{
    static const FormatWriter w;
    return w;
}

} // namespace vexa
