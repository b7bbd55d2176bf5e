#pragma once
#include <windows.h>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/dialog.h"
#include "framework/gdi.h"
#include "ui/controls/accessible.h"
#include "ui/controls/portable/skin_path.h"

class CBmpButton;

// The text of `key` from the text table the dialogs read (empty for a missing key).
std::wstring DialogText(const wchar_t* key);

// A view of a constant table: one dialog's rows of one kind.
template <class Row>
struct SkinRows {
    const Row* rows = nullptr;
    size_t count = 0;
    constexpr SkinRows() = default;
    constexpr SkinRows(const Row* first, size_t n) : rows(first), count(n) {}
    template <size_t N>
    constexpr SkinRows(const Row (&table)[N]) : rows(table), count(N) {}
};

// S4: a font from a zero LOGFONTW with only height, weight (700 bold, 0 normal) and face set.
struct SkinFont {
    int height;
    int weight;
    const wchar_t* faceName;
};

// S4: a control's text, from the text table by key or one of the dialog's own strings (neither:
// the control is emptied), with one of the dialog's fonts by its place in the font rows.
constexpr int kKeepFont = -1;  // the control keeps the font it has
struct SkinText {
    constexpr SkinText(int controlId, int fontIndex, const wchar_t* textKey)
        : id(controlId), font(fontIndex), key(textKey), text(nullptr) {}
    SkinText(int controlId, int fontIndex, const std::wstring& ownText)
        : id(controlId), font(fontIndex), key(nullptr), text(&ownText) {}
    int id;
    int font;
    const wchar_t* key;
    const std::wstring* text;
};

// One row of a dialog's label colours: statics drawn opaque in these colours.
struct LabelColours {
    int id;
    COLORREF background;  // kKeepBaseAnswer: the label keeps the base class's answer
    COLORREF text;
};
constexpr COLORREF kKeepBaseAnswer = CLR_INVALID;

// A label and the field it names: screen readers take a field's name from the label just before
// it in the window order, so the set-up puts each label there (labels take no focus, so the
// order of the fields for the keyboard stays as the template gives it).
struct LabelledControl {
    int labelId;
    int controlId;
};

// S7: where the dialog goes.
enum class SkinPlacement {
    Screen,       // centred on the desktop window, whatever the owner
    OverOwner,    // centred on the owner, without one on the desktop window
    OwnerCorner,  // top-left corner on the owner's (a prompt covers the progress dialog exactly);
                  // without an owner centred on the work area
};

// How a system command is told to be Close: masked to its command bits (as the platform
// documents) or compared exactly as it came.
enum class SysCloseMatch { Masked, Exact };

// One dialog's values for the skin set-up; the base runs the steps in their one order. Every
// length in them (fonts, the one-button position) is in pixels at the reference DPI (96); the
// base scales them, the dialog's layout and its skin to the window's DPI.
struct SkinSetup {
    SkinSetup() = default;
    SkinSetup(const wchar_t* backgroundName, SkinRows<SkinFont> fontRows, SkinRows<SkinText> textRows)
        : background(backgroundName), fonts(fontRows), texts(textRows) {}

    const wchar_t* background = nullptr;  // S1, S2: file name in the images folder
    SkinRows<SkinFont> fonts;             // S4, created in this order
    SkinRows<SkinText> texts;             // S4
    // S4, one-button mode: the second button (IDCANCEL) is hidden and gets no text, and the
    // first (IDOK) moves, keeping its size, to (x, y + its width) in client pixels.
    const POINT* singleButtonAt = nullptr;
    // A dialog answered by its two buttons: a click on IDOK (also Enter) goes to OnFirstButton,
    // on IDCANCEL (also Escape) to OnSecondButton.
    bool answerButtons = false;
    // S5. A dialog with a close control also routes the closing messages (the control's click
    // and the system Close command to OnCloseControl, WM_CLOSE to OnClose), gives the control
    // its resting image when the pointer moves over the dialog, and answers the drag icon.
    CBmpButton* closeControl = nullptr;
    SysCloseMatch closeMatch = SysCloseMatch::Masked;
    BOOL (*confirmQuit)(CWnd* askingDialog) = nullptr;  // OnCloseControl's question; TRUE: yes
    // Statics drawn opaque by these rows (kept by the dialog: a table of static storage); any
    // static not listed (the close control) white with black text. Empty: all transparent.
    SkinRows<LabelColours> colours;
    SkinPlacement placement = SkinPlacement::Screen;  // S7
    // The control whose text names the dialog: its window title, which screen readers announce
    // with the dialog and the task bar shows. 0: the title stays as the template gives it.
    int nameId = 0;
    SkinRows<LabelledControl> labels;
};

// The localized name of the close control for screen readers (it shows an image, not a text).
extern const wchar_t kCloseControlNameKey[];  // "CLOSE_CONTROL"

// The steps of the skin set-up, for dialogs that do their own work after one of them.
enum class SkinStep { Background, Behaviour, Texts, CloseControl, RoundedRegion, Placement };

// Display scale: the dialogs and their skin are laid out at the reference DPI (96), where the
// template's dialog units map to pixels with the dialog font's base units at that DPI. At any
// other DPI the dialog, every control, every font, the window shape, the close control and the
// one-button position are that layout times dpi / 96, and the skin comes from the set for that
// scale (see LoadSkinImageForDpi). The template's own growth with the font is not used: it is not
// proportional (a 96-dpi skin would not fit it at any other scale). WM_DPICHANGED (a move to a
// monitor of another scale) takes the suggested rectangle and makes all of it again.

class CBitmapDialog : public CDialog {
public:
    CBitmapDialog(UINT templateId, CWnd* parent);
    ~CBitmapDialog() override;

    // FALSE when the file cannot be loaded (the dialog is then left without a background).
    BOOL SetBackgroundFromFile(const std::wstring& path);
    // Copies `source` into a bitmap of the dialog's own. FALSE when the copy cannot be made.
    BOOL SetBackgroundBitmap(CBitmap* source);
    // The window region becomes the full window rectangle.
    void ResetWindowRegion();

    HICON m_hIcon = nullptr;  // big and small icon of the skinned dialogs, and their drag icon
    BOOL m_bTransparentStatics;
    HBRUSH m_hNullBrush;  // stock object, not owned
    BOOL m_bDragMove;
    BOOL m_bOwnsBackground;
    BOOL m_bHasBackground;
    std::unique_ptr<CBitmap> m_pBackground;

    // The skin set-up: the dialog's icons, then the steps below in their order with `setup`'s
    // values, each step followed by AfterSkinStep. Call it after CDialog::OnInitDialog.
    void RunSkinSetup(const SkinSetup& setup);

    // --- The steps of the skin set-up, in their order ---
    // S1: the current directory followed by `imageName` (one of the kSkin* names); empty when
    // the path does not fit its 260-character buffer (the image then counts as missing).
    static std::wstring SkinImagePath(const std::wstring& imageName);
    // S1 + S2: background from the skin set for the dialog's DPI; the result may be ignored.
    BOOL SetSkinBackground(const std::wstring& imageName);
    // S3: transparent statics and dragging by the background.
    void EnableSkinBehaviour();
    // S4: a font from a zero LOGFONTW with only height (in pixels at the reference DPI, scaled to
    // the dialog's), weight (700 bold, 0 normal) and face (a string of static storage) set. The
    // dialog owns it; it lives as long as the dialog object and is made again when the DPI
    // changes. Null when creation fails.
    CFont* CreateSkinFont(int height, int weight, const wchar_t* faceName);
    // S4: text and font of control `id` (WM_SETFONT with redraw). A null font leaves the font.
    void SetSkinText(int id, const std::wstring& text, CFont* font);
    // S5: the four close-control images: normal, mouse-over, pressed, disabled, from the skin set
    // for `dpi` (0: the control's window's DPI).
    static void LoadCloseControlImages(CBmpButton& closeControl, UINT dpi = 0);
    // S6: the rounded window shape (corner ellipse 21 x 21 at the reference DPI); the region
    // belongs to the window.
    void ApplyRoundedRegion();
    // S7: centres the dialog on `reference` (keeping its size, on top). Not moved when null.
    void CenterOnWindow(HWND reference);
    void CenterOnWindow(CWnd* reference) { CenterOnWindow(reference ? reference->m_hWnd : nullptr); }

    // A solid brush of `colour` kept by this dialog for its lifetime, for WM_CTLCOLOR answers:
    // one brush per colour, however often it is asked for.
    HBRUSH SolidBrush(COLORREF colour);

    // --- Display scale ---
    // The DPI the dialog's layout, fonts and skin are made for (the window's until the skin
    // set-up has run).
    UINT Dpi() const;
    // `length` at the reference DPI, at the dialog's DPI.
    int Scale(int length) const;
    // The percentage of the skin set the background came from; 0 without a background.
    int SkinSet() const { return m_nSkinSet; }
    // Lays the dialog (when `resizeDialog`) and its controls out for `dpi`. The first call takes
    // the reference layout from the template. Run by the skin set-up.
    void ScaleLayout(UINT dpi, bool resizeDialog = true);
    // Moves a control to `reference` (client coordinates at the reference DPI), scaled, and keeps
    // that place for later changes of DPI.
    void PlaceControl(HWND control, const RECT& reference);
    // The control's rectangle at the reference DPI; an empty rectangle for a control the layout
    // does not know.
    RECT ReferenceRect(HWND control) const;

protected:
    virtual void AfterSkinStep(SkinStep) {}
    // WM_DPICHANGED: the window at `suggested` (when given), then layout, fonts, skin, shape.
    void OnDpiChanged(UINT dpi, const RECT* suggested);
    // What the dialog tells screen readers, for its window and its client object: a dialog, named
    // by its heading (the set-up's name control), else by its title.
    virtual void GetAccessibleFacts(LONG objectId, AccessibleFacts* facts);
    // The close control or the system Close command: asks the set-up's question and closes on
    // yes. Only dialogs with a close control get these.
    virtual void OnCloseControl();
    // WM_CLOSE: the platform's processing unless the dialog says otherwise.
    virtual void OnClose();
    // The close control's resting image when the pointer moves over the dialog, and the icon
    // shown while the minimised dialog is dragged.
    void OnMouseMove();
    HICON OnQueryDragIcon() const { return m_hIcon; }
    // The answer buttons of a dialog that has them.
    virtual void OnFirstButton() {}
    virtual void OnSecondButton() {}

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnEraseBkgnd(CDC* dc);
    void OnLButtonDown(UINT flags, POINT point);
    // The transparent-statics answer, before the set-up's colour rows apply.
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor);

private:
    struct ControlLayout {
        HWND window;
        RECT reference;
    };
    struct OwnFont {
        int height;  // at the reference DPI
        int weight;
        const wchar_t* faceName;  // a string of static storage, as the font rows give it
        std::unique_ptr<CFont> font;
    };
    void CaptureReferenceLayout();
    void RebuildFonts(UINT dpi);
    // Every control that shows `old` shows `next` from now on.
    void ReplaceFont(HFONT old, HFONT next);
    SIZE ScaledClientSize(UINT dpi) const;
    void ReleaseBackground();
    void PlaceDialog(SkinPlacement placement);
    HBRUSH ColourByTable(CDC* dc, CWnd* control, UINT ctlColor, HBRUSH baseAnswer);
    bool RouteCloseMessages(UINT message, WPARAM wParam);

    CBmpButton* m_pCloseControl = nullptr;
    SysCloseMatch m_closeMatch = SysCloseMatch::Masked;
    bool m_bAnswerButtons = false;
    BOOL (*m_confirmQuit)(CWnd*) = nullptr;
    SkinRows<LabelColours> m_colours;
    int m_nNameId = 0;

    std::vector<OwnFont> m_fonts;
    std::vector<std::pair<COLORREF, CBrush>> m_brushes;

    UINT m_nDpi = 0;  // 0 until the layout has been made for a DPI
    int m_nSkinSet = 0;
    const wchar_t* m_backgroundName = nullptr;  // the skin set-up's background, for a change of DPI
    bool m_bHasReferenceLayout = false;
    SIZE m_referenceClient{};
    std::vector<ControlLayout> m_layout;
    bool m_bHasOriginalFont = false;
    LOGFONTW m_originalDialogFont{};  // the template's font as the dialog manager made it
    UINT m_nOriginalFontDpi = 0;      // for this DPI
    CFont m_dialogFont;               // that font at the present DPI, once the DPI changed
};
