// The description is the input up to its first NUL; the bytes after it are the texts
// typed into the fields, one per item, separated by newlines.
#include "params/paramdialog.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Every binding gets a zeroed slot large enough for any item kind.
class ArenaBindings final : public vexa::params::BindingSource {
public:
    ArenaBindings()
        : arena_(2 * PARAM_MAX_ITEMS + 2, Slot {})
    {
    }
    void* nextPointer() override { return next_ < arena_.size() ? arena_[next_++].bytes : nullptr; }
    ParamProcedure nextProcedure() override
    {
        ++next_;
        return nullptr;
    }

private:
    struct Slot {
        alignas(8) char bytes[PARAM_STRING_BUFFER];
    };
    std::vector<Slot> arena_;
    size_t next_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vexa::params;
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string description = input.substr(0, nul);
    std::string rest = nul == std::string::npos ? std::string() : input.substr(nul + 1);

    ParamBox box;
    ArenaBindings bindings;
    parseDescription(box, description.c_str(), bindings);
    if (box.count() > PARAM_MAX_ITEMS)
        __builtin_trap();

    std::vector<std::string> texts;
    size_t start = 0;
    while (start <= rest.size() && texts.size() < box.items.size()) {
        size_t end = rest.find('\n', start);
        texts.push_back(
            rest.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }

    layoutParamBox(
        box, { 7, 13 }, [](std::string_view s) { return static_cast<int>(s.size() * 7); });
    for (ParamItem& item : box.items) {
        fieldText(item);
        if (item.kind == PARAM_LIST || item.kind == PARAM_LONGLIST)
            for (const std::string& entry : cutListLabel(item.label))
                if (entry.size() > kMaxListEntryChars)
                    __builtin_trap();
        if (item.kind == PARAM_CHECK)
            toggleCheck(item);
    }
    validateParamBox(box, texts);
    for (ParamItem& item : box.items)
        if (item.kind == PARAM_STRING
            && strnlen(static_cast<char*>(item.value), PARAM_STRING_BUFFER) >= PARAM_STRING_BUFFER)
            __builtin_trap();
    readReal(rest);
    readInt32(rest);
    return 0;
}
