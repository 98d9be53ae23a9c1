#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "script_files.h"
#include "sim/resource_script.h"
#include "support/case_names.h"

// Whether every text fits where the template puts it, judged without
// Windows: the width of a text is estimated from a table of glyph advances
// at the dialog font's size and wrapped as the static control wraps it. The
// table leans wide (the hinted advances of the usual 8-point dialog face,
// rounded up), so a text that passes here has some room on the real thing;
// the screenshots under wine are the final word.
namespace resources {
namespace {

using testsupport::PrintTo;

using sim::ControlKind;
using sim::DialogControl;
using sim::DialogRect;
using sim::DialogTemplate;

// One dialog font as the dialog manager measures it. A horizontal dialog
// unit is a quarter of baseUnitX pixels, a vertical one an eighth of
// baseUnitY, so one line of text is always eight vertical units high.
struct FontModel {
    std::string_view face;
    int pointSize;
    int baseUnitX;
    int baseUnitY;
    double latinScale;  // Latin glyphs against the 8-point table below
    int fullWidth;      // ideographs, kana, hangul and full-width signs
    // Japanese and Chinese text breaks between any two ideographs; Korean,
    // like the Latin scripts, only at spaces.
    bool breaksBetweenIdeographs;
};

constexpr double kNinePointOverEight = 12.0 / 11.0;
constexpr FontModel kFonts[] = {
    {"MS Shell Dlg", 8, 6, 13, 1.0, 12, false},
    {"MS UI Gothic", 9, 6, 12, kNinePointOverEight, 12, true},
    {"SimSun", 9, 6, 12, kNinePointOverEight, 12, true},
    {"PMingLiU", 9, 6, 12, kNinePointOverEight, 12, true},
    {"Gulim", 9, 6, 12, kNinePointOverEight, 12, false},
};

constexpr int kHorizontalUnitsPerBase = 4;
constexpr int kVerticalUnitsPerLine = 8;
constexpr int kButtonPaddingPx = 10;  // border and focus rectangle, both sides
// The caption bar's font is bolder and larger than the dialog's, and the bar
// gives room to the icon and the caption buttons.
constexpr double kCaptionFontScale = 1.2;
constexpr int kCaptionReservedPx = 70;
constexpr int kIconSizePx = 32;
constexpr int kComboBoxFieldHeight = 12;  // the closed field; the rest is the drop-down list
constexpr int kUnknownGlyphPx = 8;

// Advances in pixels of the printable ASCII characters, from ' ' on.
constexpr int kAsciiFirst = 0x20;
constexpr int kAsciiAdvance[] = {
    3,  3, 4, 8, 6, 10, 7, 2,  4, 4, 6, 8, 3, 4, 3, 4,  // space to /
    6,  6, 6, 6, 6, 6,  6, 6,  6, 6, 4, 4, 8, 8, 8, 5,  // 0 to ?
    10, 7, 6, 6, 7, 6,  6, 7,  7, 4, 5, 6, 5, 8, 7, 7,  // @ to O
    6,  7, 7, 6, 6, 7,  6, 10, 6, 6, 6, 4, 4, 4, 8, 6,  // P to _
    6,  6, 6, 5, 6, 6,  3, 6,  6, 2, 3, 6, 2, 9, 6, 6,  // ` to o
    6,  6, 4, 5, 4, 6,  6, 8,  6, 6, 5, 5, 4, 5, 8,     // p to ~
};

struct Advance {
    char32_t character;
    int pixels;
};
// Latin letters beyond ASCII the libraries use: accented letters take the
// advance of their base letter.
constexpr Advance kLatinAdvance[] = {
    {U'à', 6},  {U'á', 6},      {U'â', 6}, {U'ä', 6}, {U'ç', 5},  {U'è', 6}, {U'é', 6}, {U'ê', 6},
    {U'ë', 6},  {U'ì', 2},      {U'í', 2}, {U'î', 2}, {U'ï', 2},  {U'ñ', 6}, {U'ò', 6}, {U'ó', 6},
    {U'ô', 6},  {U'ö', 6},      {U'ù', 6}, {U'ú', 6}, {U'û', 6},  {U'ü', 6}, {U'ß', 6}, {U'À', 7},
    {U'Á', 7},  {U'Ä', 7},      {U'Ç', 6}, {U'È', 6}, {U'É', 6},  {U'Ê', 6}, {U'Í', 4}, {U'Ñ', 7},
    {U'Ó', 7},  {U'Ö', 7},      {U'Ú', 7}, {U'Ü', 7}, {U'œ', 10}, {U'«', 6}, {U'»', 6}, {U'–', 6},
    {U'—', 11}, {U'‘', 2},      {U'’', 2}, {U'“', 4}, {U'”', 4},  {U'„', 4}, {U'…', 9}, {U'¿', 5},
    {U'¡', 3},  {U'\u00A0', 3},
};

constexpr char32_t kSpace = U' ';
constexpr char32_t kNoBreakSpace = U'\u00A0';

struct CodeRange {
    char32_t first;
    char32_t last;
};
constexpr CodeRange kFullWidthRanges[] = {
    {0x1100, 0x11FF},  // hangul jamo
    {0x2E80, 0x303F},  // CJK radicals, symbols and punctuation
    {0x3040, 0x30FF},  // kana
    {0x3100, 0x9FFF},  // bopomofo to the unified ideographs
    {0xAC00, 0xD7AF},  // hangul syllables
    {0xF900, 0xFAFF},  // compatibility ideographs
    {0xFF01, 0xFF60},  // full-width forms
};

// Signs a line must not start with, and signs it must not end with.
constexpr std::u32string_view kNoLineStart = U"、。，．」』）！？：；・ー…〉》】,.!?:;)]";
constexpr std::u32string_view kNoLineEnd = U"「『（〈《【“([";

bool isFullWidth(char32_t c) {
    return std::any_of(std::begin(kFullWidthRanges), std::end(kFullWidthRanges),
                       [c](const CodeRange& range) { return c >= range.first && c <= range.last; });
}

std::u32string decodeUtf8(std::string_view text) {
    std::u32string decoded;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t code = length == 1   ? lead
                        : length == 2 ? (lead & 0x1Fu)
                        : length == 3 ? (lead & 0x0Fu)
                                      : (lead & 0x07u);
        for (int follow = 1; follow < length && at + static_cast<std::size_t>(follow) < text.size();
             ++follow)
            code =
                (code << 6) |
                (static_cast<unsigned char>(text[at + static_cast<std::size_t>(follow)]) & 0x3Fu);
        decoded += code;
        at += static_cast<std::size_t>(length);
    }
    return decoded;
}

double advance(char32_t c, const FontModel& font) {
    const auto ascii = static_cast<std::size_t>(c - kAsciiFirst);
    if (c >= kAsciiFirst && ascii < std::size(kAsciiAdvance))
        return kAsciiAdvance[ascii] * font.latinScale;
    for (const Advance& latin : kLatinAdvance)
        if (latin.character == c) return latin.pixels * font.latinScale;
    if (isFullWidth(c)) return font.fullWidth;
    return kUnknownGlyphPx * font.latinScale;
}

double textWidth(std::u32string_view text, const FontModel& font) {
    double width = 0;
    for (const char32_t c : text) width += advance(c, font);
    return width;
}

bool breaksAfter(char32_t before, char32_t after, const FontModel& font) {
    if (before == kSpace) return after != kSpace;
    if (!font.breaksBetweenIdeographs || after == kSpace || before == kNoBreakSpace ||
        after == kNoBreakSpace)
        return false;
    if (!isFullWidth(before) && !isFullWidth(after)) return false;
    return kNoLineStart.find(after) == std::u32string_view::npos &&
           kNoLineEnd.find(before) == std::u32string_view::npos;
}

// The lines the text takes in a box `limitPx` wide, filled greedily as the
// static control fills them; none when one unbreakable piece is wider than
// the box and would be cut off.
std::optional<int> wrappedLines(std::u32string_view text, const FontModel& font, double limitPx) {
    int lines = 1;
    double used = 0;
    std::size_t start = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool last = at + 1 == text.size();
        if (!last && !breaksAfter(text[at], text[at + 1], font)) continue;
        const std::u32string_view piece = text.substr(start, at + 1 - start);
        std::u32string_view shown = piece;
        while (!shown.empty() && shown.back() == kSpace) shown.remove_suffix(1);
        const double pieceWidth = textWidth(piece, font);
        const double shownWidth = textWidth(shown, font);
        if (shownWidth > limitPx) return std::nullopt;
        if (used + shownWidth <= limitPx) {
            used += pieceWidth;
        } else {
            ++lines;
            used = pieceWidth;
        }
        start = at + 1;
    }
    return lines;
}

const FontModel* fontModel(const DialogTemplate& dialog) {
    if (!dialog.font) return nullptr;
    for (const FontModel& font : kFonts)
        if (font.face == dialog.font->face && font.pointSize == dialog.font->pointSize)
            return &font;
    return nullptr;
}

double pixelsAcross(int units, const FontModel& font) {
    return static_cast<double>(units) * font.baseUnitX / kHorizontalUnitsPerBase;
}

// Where a control shows itself: an icon takes its image's size, a drop-down
// list box only its closed field.
DialogRect shownRect(const DialogControl& control, const FontModel& font) {
    DialogRect rect = control.rect;
    if (control.kind == ControlKind::Icon) {
        rect.width = (kIconSizePx * kHorizontalUnitsPerBase + font.baseUnitX - 1) / font.baseUnitX;
        rect.height = (kIconSizePx * kVerticalUnitsPerLine + font.baseUnitY - 1) / font.baseUnitY;
    }
    if (control.kind == ControlKind::ComboBox)
        rect.height = std::min(rect.height, kComboBoxFieldHeight);
    return rect;
}

bool overlap(const DialogRect& a, const DialogRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

std::string describe(const DialogControl& control) {
    return control.statement + " \"" + control.text + "\" (line " + std::to_string(control.line) +
           ")";
}

void checkText(const DialogControl& control, const FontModel& font,
               std::vector<std::string>& problems) {
    const std::u32string text = decodeUtf8(sim::withoutMnemonics(control.text));
    const std::optional<int> lines =
        wrappedLines(text, font, pixelsAcross(control.rect.width, font));
    if (!lines) {
        problems.push_back(describe(control) + ": a word is wider than the control");
        return;
    }
    if (*lines * kVerticalUnitsPerLine > control.rect.height)
        problems.push_back(describe(control) + ": needs " + std::to_string(*lines) +
                           " lines, the control holds " +
                           std::to_string(control.rect.height / kVerticalUnitsPerLine));
}

void checkButton(const DialogControl& control, const FontModel& font,
                 std::vector<std::string>& problems) {
    const double label = textWidth(decodeUtf8(sim::withoutMnemonics(control.text)), font);
    const double room = pixelsAcross(control.rect.width, font) - kButtonPaddingPx;
    if (label > room)
        problems.push_back(describe(control) + ": the label is wider than the button");
}

void checkCaption(const DialogTemplate& dialog, const FontModel& font,
                  std::vector<std::string>& problems) {
    const double caption =
        textWidth(decodeUtf8(sim::withoutMnemonics(dialog.caption)), font) * kCaptionFontScale;
    const double room = pixelsAcross(dialog.rect.width, font) - kCaptionReservedPx;
    if (caption > room)
        problems.push_back("the caption \"" + dialog.caption + "\" is wider than its bar");
}

// Every way the dialog's texts and controls fail to fit it.
std::vector<std::string> layoutProblems(const DialogTemplate& dialog) {
    std::vector<std::string> problems;
    const FontModel* font = fontModel(dialog);
    if (font == nullptr) {
        problems.push_back("no width model for the dialog's font: add its metrics to kFonts");
        return problems;
    }
    checkCaption(dialog, *font, problems);
    for (std::size_t index = 0; index < dialog.controls.size(); ++index) {
        const DialogControl& control = dialog.controls[index];
        const DialogRect rect = shownRect(control, *font);
        if (rect.x < 0 || rect.y < 0 || rect.x + rect.width > dialog.rect.width ||
            rect.y + rect.height > dialog.rect.height)
            problems.push_back(describe(control) + " reaches out of the dialog");
        for (std::size_t other = index + 1; other < dialog.controls.size(); ++other) {
            if (overlap(rect, shownRect(dialog.controls[other], *font)))
                problems.push_back(describe(control) + " overlaps " +
                                   describe(dialog.controls[other]));
        }
        if (control.kind == ControlKind::Text) checkText(control, *font, problems);
        if (control.isButton()) checkButton(control, *font, problems);
    }
    return problems;
}

class TextFit : public ::testing::TestWithParam<ScriptFile> {};

TEST_P(TextFit, EveryTextFitsItsControlAndEveryControlItsDialog) {
    if (GetParam().required == nullptr) GTEST_SKIP() << "not a script of a known kind";
    const sim::ScriptReading reading = sim::readResourceScriptFile(GetParam().path);
    ASSERT_TRUE(reading.ok()) << reading.error->describe();
    for (const auto& [id, dialog] : reading.script.dialogs) {
        for (const std::string& problem : layoutProblems(dialog))
            ADD_FAILURE() << GetParam().path.filename().string() << ", dialog " << id << ": "
                          << problem;
    }
}

INSTANTIATE_TEST_SUITE_P(Resources, TextFit, ::testing::ValuesIn(scriptFiles()),
                         testsupport::NameOfCase{});

// Each check catches what it is for: a dialog that fits, changed in one way.
struct LayoutFault {
    const char* name;
    const char* font;
    const char* caption;
    const char* controls;
    const char* problem;  // part of the one problem expected; empty: none
};

const LayoutFault kLayoutFaults[] = {
    {"Fits", "8, \"MS Shell Dlg\"", "Short",
     R"(LTEXT "Two lines of text in a box that holds two lines.", -1, 10, 10, 100, 18
        DEFPUSHBUTTON "OK", IDOK, 130, 40, 60, 14)",
     ""},
    {"TextNeedsMoreLines", "8, \"MS Shell Dlg\"", "Short",
     R"(LTEXT "Two lines of text in a box that holds two lines.", -1, 10, 10, 100, 9)",
     "needs 2 lines, the control holds 1"},
    {"WordWiderThanControl", "8, \"MS Shell Dlg\"", "Short",
     R"(LTEXT "Schreibschutzschalterstellung", -1, 10, 10, 60, 27)", "a word is wider"},
    {"IdeographsWrapAnywhere", "9, \"MS UI Gothic\"", "Short",
     R"(LTEXT "カードリーダーを取り外さないでください。", -1, 10, 10, 60, 27)", ""},
    {"IdeographsNeedTheirLines", "9, \"MS UI Gothic\"", "Short",
     R"(LTEXT "カードリーダーを取り外さないでください。", -1, 10, 10, 60, 18)", "needs 3 lines"},
    {"HangulBreaksOnlyAtSpaces", "9, \"Gulim\"", "Short",
     R"(LTEXT "카드리더기를분리하지마십시오", -1, 10, 10, 100, 27)", "a word is wider"},
    {"NoBreakSpaceHoldsWordsTogether", "8, \"MS Shell Dlg\"", "Short",
     "LTEXT \"Cliquez\xC2\xA0sur\xC2\xA0\xC2\xABOK\xC2\xBB\", -1, 10, 10, 40, 18",
     "a word is wider"},
    {"ButtonLabelTooWide", "8, \"MS Shell Dlg\"", "Short",
     R"(DEFPUSHBUTTON "Aktualisierung starten", IDOK, 130, 40, 60, 14)", "wider than the button"},
    {"ControlOutsideTheDialog", "8, \"MS Shell Dlg\"", "Short",
     R"(PUSHBUTTON "OK", IDOK, 150, 40, 60, 14)", "reaches out of the dialog"},
    {"ButtonsOverlap", "8, \"MS Shell Dlg\"", "Short",
     R"(DEFPUSHBUTTON "OK", IDOK, 70, 40, 60, 14
        PUSHBUTTON "Cancel", IDCANCEL, 120, 40, 60, 14)",
     "overlaps"},
    {"TextRunsIntoIcon", "8, \"MS Shell Dlg\"", "Short",
     R"(ICON 156, -1, 10, 10, 20, 20
        LTEXT "Beside the icon", -1, 25, 10, 100, 9)",
     "overlaps"},
    {"ComboListMayCoverButtons", "8, \"MS Shell Dlg\"", "Short",
     R"(COMBOBOX 1000, 10, 10, 120, 80, CBS_DROPDOWNLIST
        DEFPUSHBUTTON "OK", IDOK, 100, 40, 60, 14)",
     ""},
    {"CaptionTooLong", "8, \"MS Shell Dlg\"", "A caption much too long for so narrow a dialog box",
     "", "the caption"},
    {"UnknownFont", "8, \"Comic Sans MS\"", "Short", "", "no width model"},
};

class LayoutCheck : public ::testing::TestWithParam<LayoutFault> {};

TEST_P(LayoutCheck, FindsTheFault) {
    const LayoutFault& fault = GetParam();
    const std::string script = std::string("200 DIALOGEX 0, 0, 200, 64\nCAPTION \"") +
                               fault.caption + "\"\nFONT " + fault.font + "\nBEGIN\n" +
                               fault.controls + "\nEND\n";
    const sim::ScriptReading reading = sim::readResourceScript(script, "fault.rc");
    ASSERT_TRUE(reading.ok()) << reading.error->describe();
    const std::vector<std::string> problems = layoutProblems(*reading.script.dialog(200));
    if (std::string_view(fault.problem).empty()) {
        EXPECT_TRUE(problems.empty()) << problems.front();
        return;
    }
    ASSERT_EQ(problems.size(), 1u) << (problems.empty() ? "none found" : problems.back());
    EXPECT_NE(problems.front().find(fault.problem), std::string::npos) << problems.front();
}

INSTANTIATE_TEST_SUITE_P(Faults, LayoutCheck, ::testing::ValuesIn(kLayoutFaults),
                         testsupport::NameOfCase{});

}  // namespace
}  // namespace resources
