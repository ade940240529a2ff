#include "params/paramdialog.h"

#include "params/decimal.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace vexa::params {

std::vector<std::string> cutListLabel(std::string_view label)
{
    std::vector<std::string> entries;
    while (!label.empty()) {
        size_t comma = label.find(',');
        std::string_view entry = label.substr(0, comma);
        entries.emplace_back(entry.substr(0, kMaxListEntryChars));
        label = comma == std::string_view::npos ? std::string_view {} : label.substr(comma + 1);
    }
    return entries;
}

std::optional<double> readReal(std::string_view text, bool negativesForbidden)
{
    DecimalNumber number;
    bool separatorSeen = false, exponentSeen = false;
    bool mantissaNegative = false, exponentNegative = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (exponentSeen)
                number.addExponentDigit(c - '0');
            else
                number.addMantissaDigit(c - '0', separatorSeen);
        } else if (c == '.' || c == ',') {
            if (separatorSeen || exponentSeen)
                return std::nullopt;
            separatorSeen = true;
        } else if (c == 'e' || c == 'E') {
            if (exponentSeen)
                return std::nullopt;
            exponentSeen = true;
        } else if (c == '-') {
            bool& flag = exponentSeen ? exponentNegative : mantissaNegative;
            if (flag || (!exponentSeen && negativesForbidden))
                return std::nullopt;
            flag = true;
        } else {
            return std::nullopt;
        }
    }
    return number.value(mantissaNegative ? -1 : 1, exponentNegative ? -1 : 1);
}

std::optional<int32_t> readInt32(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t { INT32_MAX } + 1)
            return std::nullopt;
    }
    int64_t v = negative ? -magnitude : magnitude;
    if (v > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(v);
}

std::string fieldText(const ParamItem& item)
{
    if (!item.value)
        return {};
    switch (item.kind) {
    case PARAM_INT:
        return std::to_string(*static_cast<const int32_t*>(item.value));
    case PARAM_REAL: {
        double v = *static_cast<const double*>(item.value);
        int n = std::snprintf(nullptr, 0, "%f", v);
        if (n <= 0)
            return {};
        std::string s(static_cast<size_t>(n), '\0');
        std::snprintf(s.data(), s.size() + 1, "%f", v);
        return s;
    }
    case PARAM_STRING: {
        const char* p = static_cast<const char*>(item.value);
        return std::string(p, strnlen(p, kMaxStringChars));
    }
    case PARAM_FILE: {
        const char* p = static_cast<const char*>(item.value);
        return std::string(p, strnlen(p, kMaxPathChars));
    }
    default:
        return {};
    }
}

int32_t boundIndex(const ParamItem& item)
{
    return item.value ? *static_cast<const int32_t*>(item.value) : 0;
}

void selectListEntry(ParamItem& item, int32_t index)
{
    if (item.value)
        *static_cast<int32_t*>(item.value) = index;
}

int32_t toggleCheck(ParamItem& item)
{
    if (!item.value)
        return 0;
    auto* flag = static_cast<int32_t*>(item.value);
    *flag = 1 - *flag;
    return *flag;
}

void pressButton(ParamItem& item)
{
    if (item.procedure)
        item.procedure(item.value);
}

int chooseFile(ParamItem& item)
{
    if (item.kind != PARAM_FILE || !item.value)
        return 0;
    if (!item.fileSelector)
        item.fileSelector.reset(dozFileInit(nullptr, "Choix d'un fichier"));
    FileSelector* selector = item.fileSelector.get();
    if (!selector)
        return 0;
    auto* bound = static_cast<char*>(item.value);
    std::string current(bound, strnlen(bound, kMaxPathChars));
    dozFileSetName(selector, current.c_str());
    if (!dozFileSelectorOpen(selector))
        return 0;
    const char* chosen = dozFileGetName(selector);
    copyBounded(bound, PARAM_PATH_BUFFER, std::string_view(chosen, strnlen(chosen, kMaxPathChars)),
        kMaxPathChars);
    return 1;
}

void validateParamBox(ParamBox& box, std::span<const std::string> fieldTexts)
{
    size_t n = std::min(box.items.size(), fieldTexts.size());
    for (size_t i = 0; i < n; ++i) {
        ParamItem& item = box.items[i];
        const std::string& text = fieldTexts[i];
        if (!item.value)
            continue;
        switch (item.kind) {
        case PARAM_INT:
            if (auto v = readInt32(text))
                *static_cast<int32_t*>(item.value) = *v;
            break;
        case PARAM_REAL:
            // A longer text is not cut to its first characters: that would store a
            // number the user did not type.
            if (text.size() <= kMaxRealFieldChars) {
                if (auto v = readReal(text))
                    *static_cast<double*>(item.value) = *v;
            }
            break;
        case PARAM_STRING:
            copyBounded(static_cast<char*>(item.value), PARAM_STRING_BUFFER, text, kMaxStringChars);
            break;
        default:
            break;
        }
    }
}

namespace {

// Labels of any length must not overflow the arithmetic: widths are capped at the
// largest widget size a desktop toolkit accepts, sums are kept in 64 bits.
constexpr int64_t kMaxExtent = (1 << 24) - 1;

int toInt(int64_t v)
{
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN / 2, INT_MAX / 2));
}

} // namespace

ParamLayout layoutParamBox(const ParamBox& box, const LayoutMetrics& metrics,
    const std::function<int(std::string_view)>& textWidth)
{
    const int64_t cw = metrics.cw, ch = metrics.ch;
    const int64_t eh = 5 * ch / 3;
    auto measure = [&](const std::string& s) -> int64_t {
        return textWidth ? std::clamp<int64_t>(textWidth(s), 0, kMaxExtent) : 0;
    };

    ParamLayout layout;
    int fieldId = kFirstFieldId, labelId = kFirstLabelId;
    int64_t x = cw, y = ch, maxX = cw, maxY = ch;
    auto place = [&](std::vector<PlacedControl>& list, PlacedKind kind, int itemIndex, int id,
                     int64_t px, int64_t py, int64_t w, int64_t h, std::string text) {
        list.push_back(
            { kind, itemIndex, id, toInt(px), toInt(py), toInt(w), toInt(h), std::move(text) });
    };

    for (size_t i = 0; i < box.items.size(); ++i) {
        const ParamItem& item = box.items[i];
        int index = static_cast<int>(i);
        switch (item.kind) {
        case PARAM_INT:
        case PARAM_REAL:
        case PARAM_STRING:
        case PARAM_FILE:
        case PARAM_TITLE: {
            int64_t lw = 3 * measure(item.label) / 4 + 5;
            place(layout.labels, PlacedKind::Label, index, labelId++, x, y + 2, lw, 2 * ch,
                item.label);
            x += lw;
            break;
        }
        default:
            break;
        }

        switch (item.kind) {
        case PARAM_INT:
            place(layout.controls, PlacedKind::IntField, index, fieldId++, x, y, 5 * cw, eh,
                fieldText(item));
            x += 5 * cw + cw;
            break;
        case PARAM_REAL:
            place(layout.controls, PlacedKind::RealField, index, fieldId++, x, y, 6 * cw, eh,
                fieldText(item));
            x += 6 * cw + cw;
            break;
        case PARAM_STRING:
            place(layout.controls, PlacedKind::TextField, index, fieldId++, x, y, 50 * cw, eh,
                fieldText(item));
            x += 50 * cw + cw;
            break;
        case PARAM_FILE:
            place(layout.controls, PlacedKind::FileField, index, fieldId++, x, y, 50 * cw, eh,
                fieldText(item));
            place(layout.controls, PlacedKind::ChooserButton, index, fieldId++, x + 50 * cw, y,
                6 * cw, eh, "Choix");
            x += 56 * cw;
            break;
        case PARAM_LIST:
            place(layout.controls, PlacedKind::List, index, fieldId++, x, y, 20 * cw, 10 * ch,
                item.label);
            x += 20 * cw + cw;
            break;
        case PARAM_LONGLIST:
            place(layout.controls, PlacedKind::LongList, index, fieldId++, x, y, 50 * cw, 10 * ch,
                item.label);
            x += 50 * cw + cw;
            break;
        case PARAM_CHECK:
        case PARAM_BUTTON: {
            int64_t width = measure(item.label) + 5 + 4 * cw;
            place(layout.controls,
                item.kind == PARAM_CHECK ? PlacedKind::Check : PlacedKind::Button, index, fieldId++,
                x, y, width, 2 * ch, item.label);
            x += width + cw;
            break;
        }
        case PARAM_NEWLINE:
            x = cw;
            y += 3 * ch;
            break;
        default:
            break;
        }
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
    }

    int64_t okY = y + 3 * ch;
    maxX = std::max(maxX, x);
    maxY = std::max(maxY, okY);
    // Both divisions truncate, as the position of a lone "Ok" may be negative.
    place(layout.controls, PlacedKind::Ok, -1, kOkId, maxX / 2 - (6 * cw) / 2, okY, 6 * cw, 2 * ch,
        "Ok");
    layout.clientWidth = toInt(maxX + cw);
    layout.clientHeight = toInt(maxY + 7 * ch / 3);
    return layout;
}

} // namespace vexa::params
