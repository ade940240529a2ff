// What the parameter dialog computes without a window: the row layout, the initial
// texts of the fields, the live updates of list, check box, button and file items,
// and the validation that writes the typed values back into the caller's variables.
#pragma once

#include "params/parambox.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::params {

constexpr size_t kMaxListEntryChars = 199;
constexpr size_t kMaxRealFieldChars = 199;
constexpr size_t kMaxStringChars = PARAM_STRING_BUFFER - 1;

constexpr int kFirstFieldId = 100;
constexpr int kFirstLabelId = 10;
constexpr int kOkId = 1000;

// Entries of a list label: cut at each comma; consecutive commas give empty entries,
// a trailing comma adds nothing, an empty label gives no entry. Each entry is cut to
// kMaxListEntryChars characters.
std::vector<std::string> cutListLabel(std::string_view label);

// Real numbers typed into real fields: digits, one decimal separator ('.' or ','),
// one exponent mark ('e' or 'E'), one '-' anywhere in the mantissa (unless
// negativesForbidden) and one '-' anywhere after the mark for the exponent. Anything
// else ('+' and blanks included) does not read. An empty text reads as 0.
std::optional<double> readReal(std::string_view text, bool negativesForbidden = false);

// Signed decimal 32-bit integer with blanks around it and an optional leading minus;
// nothing for an empty text, other characters or an overflow.
std::optional<int32_t> readInt32(std::string_view text);

// Text shown in the field of an integer, real, text or file item from its binding
// ("%f" for reals); empty for other kinds or a null binding.
std::string fieldText(const ParamItem& item);

// Bound list index and check flag (0 for a null binding).
int32_t boundIndex(const ParamItem& item);

// Live updates, which stay even if the dialog is later closed without "Ok".
void selectListEntry(ParamItem& item, int32_t index);
// The flag becomes 1 - flag; returns the new flag.
int32_t toggleCheck(ParamItem& item);
// Calls the item's procedure with its argument; nothing without a procedure.
void pressButton(ParamItem& item);
// "Choix" of a file item: runs the item's selector (made here when the dialog has not
// made it) with the bound path as initial file; a chosen path is copied into the
// binding at once. Returns 1 when a file was chosen.
int chooseFile(ParamItem& item);

// "Ok": integer and real fields that read replace their bindings, text fields are
// copied (at most kMaxStringChars characters). fieldTexts[i] is the text of item i;
// items beyond the span keep their bindings.
void validateParamBox(ParamBox& box, std::span<const std::string> fieldTexts);

constexpr int kCancelId = 1001;

enum class PlacedKind {
    Label,
    IntField,
    RealField,
    TextField,
    FileField,
    ChooserButton,
    List,
    LongList,
    Check,
    Button,
    Ok,
    Cancel
};

struct Extent {
    int width = 0;
    int height = 0;
};

// What the layout needs to know of the dialog's font and controls. The GUI measures
// with its real font and style; tests use fixed numbers.
class ParamMetrics {
public:
    virtual ~ParamMetrics() = default;
    // Average character width and line height of the dialog font.
    virtual int charWidth() const = 0;
    virtual int lineHeight() const = 0;
    virtual int textWidth(std::string_view text) const = 0;
    // Outer size of a control of this kind. Fields and lists need a text area of
    // contentWidth; check boxes and buttons show text as their caption (contentWidth is
    // then its measured width).
    virtual Extent controlSize(PlacedKind kind, std::string_view text, int contentWidth) const = 0;
};

struct PlacedControl {
    PlacedKind kind = PlacedKind::Label;
    int item = -1; // index in the box, -1 for "Ok" and "Annuler"
    int id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    std::string text; // label, caption or initial field content
    // How the control follows a dialog made larger than its layout: wide fields ending
    // a row stretch, what stands right of them moves along, the buttons stay centred
    // at the bottom.
    bool stretches = false;
    bool followsRight = false;
    // Labels after the first column stand right against their field.
    bool alignRight = false;
};

struct ParamLayout {
    // Fields and buttons in creation (keyboard) order, "Ok" then "Annuler" last.
    std::vector<PlacedControl> controls;
    // Text labels, created after the controls.
    std::vector<PlacedControl> labels;
    int clientWidth = 0;
    int clientHeight = 0;
};

// Lays the items out in rows (a PARAM_NEWLINE ends one), left to right in item order.
// The n-th cells of all rows form a column: its labels share one width and its fields
// start at one x, so every text fits and nothing overlaps. A row's last cell may reach
// past its column. A title right before a list, check box or button is its label.
// Fields keep their nominal widths in characters (5 for integers, 6 for reals, 20 for
// lists, 50 for text, file fields and long lists) and grow to show their initial text
// or widest entry. The buttons row ("Ok", and "Annuler" when the box is cancellable)
// is centred below every field.
ParamLayout layoutParamBox(const ParamBox& box, const ParamMetrics& metrics);

// The layout of a dialog resized to width x height (never below the laid-out size).
ParamLayout fitParamLayout(const ParamLayout& layout, int width, int height);

// Fixed control sizes from a character cell: controls are ch + ch / 2 high, check
// boxes 3 cw and other controls cw wider than their text. For callers without a font.
struct LayoutMetrics {
    int cw = 8;
    int ch = 16;
};
ParamLayout layoutParamBox(const ParamBox& box, const LayoutMetrics& metrics,
    const std::function<int(std::string_view)>& textWidth);

} // namespace vexa::params
