// "INRIA avec référence" with a reference file of any bytes: its header is read and
// copied (whole, or with the datum's dimensions). A refused reference writes nothing;
// an accepted one gives a file that reads back with the chosen type.
#include "data/dataopen.h"
#include "data/datasave.h"
#include "data/newdata.h"
#include "data/registry.h"
#include "fuzzscratch.h"
#include "vexafile.h"

#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa;
    static const std::string ref = fuzzscratch::folder().file("ref.inr");
    static const std::string out = fuzzscratch::folder().file("out.inr");
    fuzzscratch::Controls in(data, size);
    const std::uint8_t mode = in.byte();
    if (!fuzzscratch::put(ref, data, size))
        return 0;
    ::unlink(out.c_str());

    // The datum takes the reference's type when the format offers it, so that the
    // copy goes past the type check.
    int type = TYPEDATA_S16;
    if (FileHandle probe = dataOpenDescriptor(ref)) {
        const int t = vexaFileGetTypeData(probe.get());
        if (t == TYPEDATA_U8 || t == TYPEDATA_S8 || t == TYPEDATA_S16)
            type = t;
    }
    DataRecord* record = dataCreateImage(
        newImage3dObject(3 + (mode & 3), 2, 2, type, NEWDATA_MAXIMUM), kFreshId, kFreshId);
    if (!record)
        __builtin_trap();
    SaveRequest rq;
    rq.threeD = (mode & 4) != 0;
    rq.formatCode = SAVE_FORMAT_INRIA_REFERENCE;
    rq.typeData = type;
    rq.path = out;
    rq.referencePath = ref;
    rq.copyDimensions = (mode & 8) != 0;
    std::string reason;
    const bool saved = dataSave(record, rq, &reason);
    if (saved != (::access(out.c_str(), F_OK) == 0) || (!saved && reason.empty()))
        __builtin_trap();
    if (saved) {
        FileHandle back = dataOpenDescriptor(out);
        if (!back || vexaFileGetTypeData(back.get()) != type)
            __builtin_trap();
    }
    dataResetRegistry();
    return 0;
}
