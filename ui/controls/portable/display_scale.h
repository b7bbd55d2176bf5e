#pragma once

// Arithmetic of the display scale. The dialogs and their skin are laid out in pixels at the
// reference DPI (96, "100 %"); at any other DPI every length is that length times dpi / 96.

constexpr int kReferenceDpi = 96;

// The skin sets that exist, in percent of the reference scale ("Images" holds 100, the others lie
// in subfolders named by their percentage).
constexpr int kSkinSetPercents[] = {100, 125, 150, 200};

// `length` (at the reference DPI) at `dpi`, rounded half away from zero as MulDiv rounds.
// A DPI of 0 or less counts as the reference.
int ScaleToDpi(int length, int dpi);

// A length measured at `dpi` back at the reference DPI (the inverse of ScaleToDpi, rounded).
int ScaleFromDpi(int length, int dpi);

// A dialog's pixels from its template's dialog units, as the platform maps them: `units` times
// `baseUnit` / `unitsPerBase` (4 horizontally, 8 vertically), rounded.
int DialogUnitsToPixels(int units, int baseUnit, int unitsPerBase);
// The dialog units that map to `pixels` (the inverse of DialogUnitsToPixels; exact for every
// length the mapping gives while the base unit is at least `unitsPerBase`). A base unit of 0 or
// less leaves the length as it is.
int PixelsToDialogUnits(int pixels, int baseUnit, int unitsPerBase);
// A length laid out from dialog units with the base unit `baseNow`, as it is laid out with the
// base unit `baseReference` (the dialog font at the reference DPI).
int ReferenceLength(int pixels, int baseNow, int baseReference, int unitsPerBase);

// A length made for `fromDpi`, at `toDpi`. Lengths kept as they were first made and rescaled from
// there each time come back exactly when the DPI does.
int RescaleLength(int length, int fromDpi, int toDpi);

// A skin font's height at `dpi` from its height at the reference DPI, rounded toward zero: a
// font one pixel larger than its share makes a text that fits at 96 dpi wrap into a line more
// at 125 % (17.5 rounded up to 18 is 29 % larger, its box only 25 %).
int ScaleFontHeight(int height, int dpi);

// The height of a dialog font at the reference DPI, from its height at `dpi`. The dialog manager
// makes a template's font from its whole point size (-points x dpi / 72 pixels), so the points
// are recovered first: -13 at 120 dpi is 8 points, -11 at 96 dpi, where scaling -13 back would
// give -10.
int ReferenceFontHeight(int height, int dpi);

// The display scale of `dpi` in percent: 96 -> 100, 120 -> 125, 144 -> 150, 192 -> 200.
int ScalePercent(int dpi);

constexpr int kSkinSetCount = sizeof(kSkinSetPercents) / sizeof(kSkinSetPercents[0]);

// The skin sets to try for `dpi`, best first: the set of that scale or the next larger one
// (drawn for it, or scaled down), then each larger set, then the smaller ones from the largest
// down (scaled up), so that the reference set is the last resort. Every set appears once.
struct SkinSetList {
    int percent[kSkinSetCount];
};
SkinSetList SkinSetOrder(int dpi);

// A dimension of an image drawn for the set `setPercent`, as it is shown at `dpi`.
int ImageLengthForDpi(int length, int setPercent, int dpi);
