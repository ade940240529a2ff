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

// Labels of any length must not overflow the arithmetic: extents are capped at the
// largest widget size a desktop toolkit accepts, sums are kept in 64 bits.
constexpr int64_t kMaxExtent = (1 << 24) - 1;
// Fields and lists grow to show their text up to this many characters; beyond it the
// field scrolls and the list is cut, rather than making a dialog wider than a screen.
constexpr int64_t kMaxGrowChars = 100;

int toInt(int64_t v)
{
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN / 2, INT_MAX / 2));
}

int64_t extent(int64_t v)
{
    return std::clamp<int64_t>(v, 0, kMaxExtent);
}

enum class CellType { Labelled, Title, Control };

struct Cell {
    int item = 0;
    int labelItem = 0; // the item whose label stands before the control
    CellType type = CellType::Control;
    PlacedKind kind = PlacedKind::Label;
    int64_t labelWidth = 0; // label of a labelled cell, text of a title
    int64_t controlWidth = 0; // a file field and its "Choix" button together
    int64_t controlHeight = 0;
    int64_t chooserWidth = 0; // file items only
    std::string text;
};

struct Spacing {
    int64_t margin, top, labelGap, cellGap, rowGap, buttonsGap, chooserGap;
};

class FixedMetrics final : public ParamMetrics {
public:
    FixedMetrics(const LayoutMetrics& m, const std::function<int(std::string_view)>& width)
        : cw_(std::clamp(m.cw, 1, 1000))
        , ch_(std::clamp(m.ch, 1, 1000))
        , width_(width)
    {
    }
    int charWidth() const override { return cw_; }
    int lineHeight() const override { return ch_; }
    int textWidth(std::string_view text) const override { return width_ ? width_(text) : 0; }
    Extent controlSize(PlacedKind kind, std::string_view, int contentWidth) const override
    {
        int64_t chrome = kind == PlacedKind::Check ? 3 * cw_ : cw_;
        return { toInt(extent(int64_t { contentWidth } + chrome)), ch_ + ch_ / 2 };
    }

private:
    int cw_, ch_;
    const std::function<int(std::string_view)>& width_;
};

} // namespace

ParamLayout layoutParamBox(const ParamBox& box, const ParamMetrics& metrics)
{
    const int64_t cw = std::clamp(metrics.charWidth(), 1, 1000);
    const int64_t ch = std::clamp(metrics.lineHeight(), 1, 1000);
    const Spacing gap { std::max<int64_t>(4, cw * 3 / 2), std::max<int64_t>(4, ch * 2 / 3),
        std::max<int64_t>(3, cw / 2), std::max<int64_t>(4, cw * 3 / 2),
        std::max<int64_t>(2, ch / 3), std::max<int64_t>(4, ch * 2 / 3),
        std::max<int64_t>(2, cw / 3) };
    auto measure = [&](std::string_view s) -> int64_t { return extent(metrics.textWidth(s)); };
    auto sizeOf = [&](PlacedKind kind, std::string_view text, int64_t content) {
        Extent e = metrics.controlSize(kind, text, toInt(extent(content)));
        return std::pair<int64_t, int64_t> { extent(e.width), extent(e.height) };
    };
    // Nominal width in characters, widened to the text up to kMaxGrowChars characters.
    auto grown = [&](int64_t chars, int64_t textWidth) {
        return std::max(chars * cw, std::min(textWidth, kMaxGrowChars * cw));
    };

    // Cut the items into rows of cells.
    std::vector<std::vector<Cell>> rows(1);
    for (size_t i = 0; i < box.items.size(); ++i) {
        const ParamItem& item = box.items[i];
        Cell cell;
        cell.item = cell.labelItem = static_cast<int>(i);
        cell.text = fieldText(item);
        int64_t content = 0;
        switch (item.kind) {
        case PARAM_INT:
            cell.kind = PlacedKind::IntField;
            content = grown(5, measure(cell.text));
            break;
        case PARAM_REAL:
            cell.kind = PlacedKind::RealField;
            content = grown(6, measure(cell.text));
            break;
        case PARAM_STRING:
            cell.kind = PlacedKind::TextField;
            content = 50 * cw;
            break;
        case PARAM_FILE:
            cell.kind = PlacedKind::FileField;
            content = 50 * cw;
            break;
        case PARAM_LIST:
        case PARAM_LONGLIST: {
            cell.kind = item.kind == PARAM_LIST ? PlacedKind::List : PlacedKind::LongList;
            int64_t widest = 0;
            for (const std::string& entry : cutListLabel(item.label))
                widest = std::max(widest, measure(entry));
            content = grown(item.kind == PARAM_LIST ? 20 : 50, widest);
            cell.text = item.label;
            break;
        }
        case PARAM_CHECK:
            cell.kind = PlacedKind::Check;
            cell.text = item.label;
            content = measure(item.label);
            break;
        case PARAM_BUTTON:
            cell.kind = PlacedKind::Button;
            cell.text = item.label;
            content = measure(item.label);
            break;
        case PARAM_TITLE:
            cell.type = CellType::Title;
            cell.labelWidth = measure(item.label);
            cell.controlHeight = ch;
            rows.back().push_back(std::move(cell));
            continue;
        case PARAM_NEWLINE:
            rows.emplace_back();
            continue;
        default:
            continue;
        }
        auto [w, h] = sizeOf(cell.kind, cell.text, content);
        cell.controlWidth = w;
        cell.controlHeight = h;
        if (cell.kind == PlacedKind::FileField) {
            auto [bw, bh] = sizeOf(PlacedKind::ChooserButton, "Choix", measure("Choix"));
            cell.chooserWidth = std::max(bw, 6 * cw);
            cell.controlWidth = w + gap.chooserGap + cell.chooserWidth;
            cell.controlHeight = std::max(h, bh);
        }
        if (item.kind == PARAM_INT || item.kind == PARAM_REAL || item.kind == PARAM_STRING
            || item.kind == PARAM_FILE) {
            cell.type = CellType::Labelled;
            cell.labelWidth = measure(item.label);
        } else if (!rows.back().empty() && rows.back().back().type == CellType::Title
            && rows.back().back().item == rows.back().back().labelItem) {
            // A title right before a list, check box or button is that control's label,
            // so that it lines up with the labels of the fields above and below.
            Cell& title = rows.back().back();
            title.item = cell.item;
            title.kind = cell.kind;
            title.type = CellType::Labelled;
            title.controlWidth = cell.controlWidth;
            title.controlHeight = cell.controlHeight;
            title.text = std::move(cell.text);
            continue;
        }
        rows.back().push_back(std::move(cell));
    }
    // Text after the last end of row forms a row; an end of row right after another
    // leaves a blank line.
    if (rows.back().empty())
        rows.pop_back();

    // Columns: shared label width, then the width every cell but a row's last needs.
    size_t columns = 0;
    for (const auto& row : rows)
        columns = std::max(columns, row.size());
    std::vector<int64_t> labelWidth(columns, 0), columnWidth(columns, 0), columnX(columns, 0);
    for (const auto& row : rows)
        for (size_t k = 0; k < row.size(); ++k)
            if (row[k].type == CellType::Labelled)
                labelWidth[k] = std::max(labelWidth[k], row[k].labelWidth);
    auto fieldOffset
        = [&](size_t k) { return labelWidth[k] + (labelWidth[k] > 0 ? gap.labelGap : 0); };
    auto need = [&](const Cell& cell, size_t k) -> int64_t {
        switch (cell.type) {
        case CellType::Labelled:
            return fieldOffset(k) + cell.controlWidth;
        case CellType::Title:
            return cell.labelWidth;
        case CellType::Control:
            break;
        }
        return cell.controlWidth;
    };
    for (const auto& row : rows)
        for (size_t k = 0; k + 1 < row.size(); ++k)
            columnWidth[k] = std::max(columnWidth[k], need(row[k], k));
    for (size_t k = 0; k < columns; ++k)
        columnX[k] = k == 0 ? gap.margin : columnX[k - 1] + columnWidth[k - 1] + gap.cellGap;

    ParamLayout layout;
    int fieldId = kFirstFieldId, labelId = kFirstLabelId;
    auto place
        = [](std::vector<PlacedControl>& list, PlacedKind kind, int itemIndex, int id, int64_t px,
              int64_t py, int64_t w, int64_t h, std::string text) -> PlacedControl& {
        list.push_back({ kind, itemIndex, id, toInt(px), toInt(py), toInt(w), toInt(h),
            std::move(text), false, false, false });
        return list.back();
    };

    int64_t y = gap.top, right = 0, bottom = -1;
    for (const auto& row : rows) {
        int64_t height = ch;
        for (const Cell& cell : row)
            height = std::max(height, cell.controlHeight);
        for (size_t k = 0; k < row.size(); ++k) {
            const Cell& cell = row[k];
            const bool last = k + 1 == row.size();
            const int64_t x = columnX[k];
            const int64_t cy = y + (height - cell.controlHeight) / 2;
            right = std::max(right, x + need(cell, k));
            const std::string& label = box.items[static_cast<size_t>(cell.labelItem)].label;
            if (cell.type == CellType::Title) {
                place(layout.labels, PlacedKind::Label, cell.labelItem, labelId++, x, y,
                    cell.labelWidth, height, label);
                continue;
            }
            int64_t fx = x;
            if (cell.type == CellType::Labelled) {
                place(layout.labels, PlacedKind::Label, cell.labelItem, labelId++, x, y,
                    labelWidth[k], height, label)
                    .alignRight
                    = k > 0;
                fx += fieldOffset(k);
            }
            if (cell.kind == PlacedKind::FileField) {
                const int64_t fw = cell.controlWidth - gap.chooserGap - cell.chooserWidth;
                place(layout.controls, cell.kind, cell.item, fieldId++, fx, cy, fw,
                    cell.controlHeight, cell.text)
                    .stretches
                    = last;
                place(layout.controls, PlacedKind::ChooserButton, cell.item, fieldId++,
                    fx + fw + gap.chooserGap, cy, cell.chooserWidth, cell.controlHeight, "Choix")
                    .followsRight
                    = last;
                continue;
            }
            PlacedControl& placed = place(layout.controls, cell.kind, cell.item, fieldId++, fx, cy,
                cell.controlWidth, cell.controlHeight, cell.text);
            placed.stretches
                = last && (cell.kind == PlacedKind::TextField || cell.kind == PlacedKind::LongList);
        }
        bottom = y + height;
        y = bottom + gap.rowGap;
    }

    // The buttons row: "Ok", then "Annuler", one width, centred below every field.
    auto [okW, okH] = sizeOf(PlacedKind::Ok, "Ok", measure("Ok"));
    int64_t buttonW = std::max(okW, 6 * cw), buttonH = std::max(okH, ch);
    if (box.cancellable) {
        auto [cancelW, cancelH] = sizeOf(PlacedKind::Cancel, "Annuler", measure("Annuler"));
        buttonW = std::max(buttonW, cancelW);
        buttonH = std::max(buttonH, cancelH);
    }
    const int64_t rowWidth = box.cancellable ? 2 * buttonW + gap.cellGap : buttonW;
    const int64_t buttonsY = bottom < 0 ? gap.top : bottom + gap.buttonsGap;
    const int64_t width = std::max(right + gap.margin, rowWidth + 2 * gap.margin);
    const int64_t buttonsX = (width - rowWidth) / 2;
    place(layout.controls, PlacedKind::Ok, -1, kOkId, buttonsX, buttonsY, buttonW, buttonH, "Ok");
    if (box.cancellable)
        place(layout.controls, PlacedKind::Cancel, -1, kCancelId, buttonsX + buttonW + gap.cellGap,
            buttonsY, buttonW, buttonH, "Annuler");
    layout.clientWidth = toInt(width);
    layout.clientHeight = toInt(buttonsY + buttonH + gap.top);
    return layout;
}

ParamLayout fitParamLayout(const ParamLayout& layout, int width, int height)
{
    ParamLayout fitted = layout;
    const int64_t dx = std::max<int64_t>(0, int64_t { width } - layout.clientWidth);
    const int64_t dy = std::max<int64_t>(0, int64_t { height } - layout.clientHeight);
    for (PlacedControl& c : fitted.controls) {
        if (c.kind == PlacedKind::Ok || c.kind == PlacedKind::Cancel) {
            c.x = toInt(c.x + dx / 2);
            c.y = toInt(c.y + dy);
        } else if (c.stretches) {
            c.width = toInt(c.width + dx);
        } else if (c.followsRight) {
            c.x = toInt(c.x + dx);
        }
    }
    fitted.clientWidth = toInt(layout.clientWidth + dx);
    fitted.clientHeight = toInt(layout.clientHeight + dy);
    return fitted;
}

ParamLayout layoutParamBox(const ParamBox& box, const LayoutMetrics& metrics,
    const std::function<int(std::string_view)>& textWidth)
{
    return layoutParamBox(box, FixedMetrics(metrics, textWidth));
}

} // namespace vexa::params
