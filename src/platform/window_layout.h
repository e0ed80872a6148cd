// The updater's form as both desktop windows build it: where each control sits, in the
// twips the form was drawn in, with its caption, font and colours. No toolkit's types:
// each window turns the table into its own widgets, scaled to the screen's dots per
// inch by the one conversion below.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "platform/window_view.h"

namespace kalo::platform::layout {

// 1440 twips to the inch, so 15 to a pixel at 96 dots per inch.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kDefaultDpi = 96;

// `twips` in pixels at `dpi`, rounded to the nearest pixel with halves away from zero,
// as the Windows window always placed its controls.
constexpr int Pixels(int twips, int dpi) {
  const long long scaled = static_cast<long long>(twips) * dpi;
  const long long half = kTwipsPerInch / 2;
  return static_cast<int>((scaled < 0 ? scaled - half : scaled + half) / kTwipsPerInch);
}

struct TwipsRect {
  int left;
  int top;
  int width;
  int height;
};

struct PixelRect {
  int left;
  int top;
  int width;
  int height;

  bool operator==(const PixelRect&) const = default;
};

constexpr PixelRect Pixels(const TwipsRect& place, int dpi) {
  return {Pixels(place.left, dpi), Pixels(place.top, dpi), Pixels(place.width, dpi),
          Pixels(place.height, dpi)};
}

struct Colour {
  unsigned char red;
  unsigned char green;
  unsigned char blue;

  bool operator==(const Colour&) const = default;
};

inline constexpr Colour kWhite{255, 255, 255};
inline constexpr Colour kDarkGrey{64, 64, 64};
inline constexpr Colour kBlue{0, 0, 255};
inline constexpr Colour kPaleYellow{255, 255, 192};

// The form's MS Sans Serif is a bitmap font that does not scale; Microsoft Sans Serif
// is its outline twin with the same metrics. Toolkits without either take their sans
// or fixed-pitch face.
struct FontLook {
  const char* face;
  bool fixed_pitch;
  int size_twips;  // the point size times 20
  bool bold;
  bool underlined;
};

inline constexpr FontLook kDefaultFont{"Microsoft Sans Serif", false, 160, false, false};

enum class ControlKind { kTextBox, kButton, kLabel };

struct ControlLayout {
  ControlKind kind;
  TwipsRect place;
  const char* caption;
  FontLook font = kDefaultFont;
  // A self-sizing label takes the size of its text; its place gives only its corner.
  bool sizes_itself = false;
  // None for a button, which keeps the system's colours.
  std::optional<Colour> text_colour = kDarkGrey;
  std::optional<Colour> background = kWhite;
};

// The controls in the form's tab order, then the labels the logic writes, in the order
// of WindowLabel.
enum ControlIndex : std::size_t { kClientBox, kUpdateButton, kCompanyCaption, kFirstLabel };

constexpr std::size_t IndexOf(WindowLabel label) {
  return kFirstLabel + static_cast<std::size_t>(label);
}

inline constexpr std::array<ControlLayout, kFirstLabel + 5> kControls{{
    {ControlKind::kTextBox,
     {1485, 285, 2790, 390},
     "",
     {"Courier New", true, 180, false, false},
     false,
     kDarkGrey,
     kPaleYellow},
    {ControlKind::kButton,
     {4710, 270, 2220, 435},
     "Atualizar Versão do Sistema",
     kDefaultFont,
     false,
     std::nullopt,
     std::nullopt},
    {ControlKind::kLabel,
     {165, 300, 1155, 300},
     "Empresa:",
     {"Microsoft Sans Serif", false, 240, true, false},
     true},
    // kSupport1, kSupport2 (a link), kDisplay1 to kDisplay3.
    {ControlKind::kLabel, {165, 1830, 1485, 195}, "", kDefaultFont, true},
    {ControlKind::kLabel,
     {165, 2115, 1485, 195},
     "",
     {"Microsoft Sans Serif", false, 165, false, true},
     true,
     kBlue},
    {ControlKind::kLabel, {-15, 915, 7410, 195}, ""},
    {ControlKind::kLabel, {0, 1140, 7410, 195}, ""},
    {ControlKind::kLabel, {0, 1380, 7410, 195}, ""},
}};

inline constexpr TwipsRect kClientArea{0, 0, 7470, 2655};
inline constexpr Colour kFormBackground = kWhite;
inline constexpr const char* kWindowClass = "kalo_upd";

// Where the system lacks MS Sans Serif, its stand-in may run wider; the button's
// caption then shrinks, down to this size, to stay this far inside its edges.
inline constexpr int kButtonPaddingTwips = 120;
inline constexpr int kSmallestCaptionTwips = 120;

inline constexpr int kTimerMilliseconds = 100;

// The buttons of the boxes the windows build themselves.
inline constexpr const char* kOkCaption = "OK";
inline constexpr const char* kCancelCaption = "Cancelar";

}  // namespace kalo::platform::layout
