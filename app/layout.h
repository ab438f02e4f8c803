// The window's layout, as the form was drawn: every control's kind, caption, place and size in
// twips (1440 to the inch), font and background, in tab order. Both windows are built from this
// table (app/qt/ at 15 twips to a pixel, app/win32/ at the screen's resolution) and their tests
// check what each toolkit made of it.
#pragma once

#include <array>
#include <cstdint>

namespace ui {

inline constexpr int kTwipsPerInch = 1440;

enum class ControlKind : uint8_t { kButton, kLabel, kTextBox, kMultiLineTextBox, kListBox };
enum class Alignment : uint8_t { kLeft, kCentre };

struct Colour {
    uint8_t red, green, blue;
    constexpr bool operator==(const Colour&) const = default;
};

// The controls, in tab order (labels take no focus); the index into kForm1.controls.
enum ControlId : int {
    kCommand1,
    kLabel1_1,
    kText1,
    kCommand2,
    kLabel1_0,
    kLabel2,
    kTxtLog,
    kListLDB1,
    kLabel3,
    kLabel4,
    kControlCount,
};

struct ControlLayout {
    const char* name;  // as the form names it
    ControlKind kind;
    const char* caption;           // UTF-8; a text box's text at start
    int left, top, width, height;  // twips, in the client area
    const char* font;              // null: the system's font
    double points;
    bool bold;
    Alignment alignment;  // of a label's caption
    bool has_background;  // a label painted in `background`, not the window's colour
    Colour background;
    bool visible;  // at start
};

struct FormLayout {
    const char* caption;
    int width, height;  // twips, the client area
    std::array<ControlLayout, kControlCount> controls;

    constexpr const ControlLayout& operator[](ControlId id) const { return controls[id]; }
};

// A hand-kept table, aligned by column.
// clang-format off
inline constexpr FormLayout kForm1 = {
    "Compactador/Reparador de Banco de Dados", 12345, 7845, {{
    //  name         kind                           caption                                          left   top   width height font      points bold   alignment           background                visible
        {"Command1",  ControlKind::kButton,           "Iniciar Processo",                              75,  7005, 12180,  795, "Arial",  12,    true,  Alignment::kCentre, false, {},              false},
        {"Label1(1)", ControlKind::kLabel,            "Arquivo:",                                      75,   555,  1365,  315, "Arial",  12,    true,  Alignment::kLeft,   false, {},              true},
        {"Text1",     ControlKind::kTextBox,          "",                                            1455,   525,  9405,  375, nullptr,   0,    false, Alignment::kLeft,   false, {},              true},
        {"Command2",  ControlKind::kButton,           "Localizar Arquivo",                          10965,   480,  1230,  390, "Arial",   6.75, false, Alignment::kCentre, false, {},              true},
        {"Label1(0)", ControlKind::kLabel,            "",                                              75,   960, 12150,  660, "Arial",  12,    true,  Alignment::kCentre, false, {},              true},
        {"Label2",    ControlKind::kLabel,            "Escolha o arquivo a ser reparado/compactado",  150,    90, 12225,  315, "Arial",   8.25, true,  Alignment::kCentre, false, {},              true},
        {"TxtLog",    ControlKind::kMultiLineTextBox, "Log.:",                                         75,  2055,  8790, 4935, nullptr,   0,    false, Alignment::kLeft,   false, {},              true},
        {"ListLDB1",  ControlKind::kListBox,          "",                                            9000,  2070,  3270, 4890, "Tahoma",  9,    false, Alignment::kLeft,   false, {},              true},
        {"Label3",    ControlKind::kLabel,            "Usuários Ativos",                             9000,  1770,  3225,  270, "Arial",   8.25, true,  Alignment::kCentre, true,  {255, 128, 128}, true},
        {"Label4",    ControlKind::kLabel,            "Arquivo Log",                                   90,  1755,  8775,  270, "Arial",   8.25, true,  Alignment::kCentre, true,  {192, 192, 255}, true},
    }},
};
// clang-format on

}  // namespace ui
