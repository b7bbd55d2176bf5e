#pragma once
#include <windows.h>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/dialog.h"
#include "framework/gdi.h"
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

// One dialog's values for the skin set-up; the base runs the steps in their one order.
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
};

// The steps of the skin set-up, for dialogs that do their own work after one of them.
enum class SkinStep { Background, Behaviour, Texts, CloseControl, RoundedRegion, Placement };

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
    // S1 + S2: background from the images folder; the result may be ignored.
    BOOL SetSkinBackground(const std::wstring& imageName);
    // S3: transparent statics and dragging by the background.
    void EnableSkinBehaviour();
    // S4: a font from a zero LOGFONTW with only height, weight (700 bold, 0 normal) and face set.
    // The dialog owns it; it lives as long as the dialog object. Null when creation fails.
    CFont* CreateSkinFont(int height, int weight, const wchar_t* faceName);
    // S4: text and font of control `id` (WM_SETFONT with redraw). A null font leaves the font.
    void SetSkinText(int id, const std::wstring& text, CFont* font);
    // S5: the four close-control images: normal, mouse-over, pressed, disabled.
    static void LoadCloseControlImages(CBmpButton& closeControl);
    // S6: the rounded window shape (corner ellipse 21 x 21); the region belongs to the window.
    void ApplyRoundedRegion();
    // S7: centres the dialog on `reference` (keeping its size, on top). Not moved when null.
    void CenterOnWindow(HWND reference);
    void CenterOnWindow(CWnd* reference) { CenterOnWindow(reference ? reference->m_hWnd : nullptr); }

    // A solid brush of `colour` kept by this dialog for its lifetime, for WM_CTLCOLOR answers:
    // one brush per colour, however often it is asked for.
    HBRUSH SolidBrush(COLORREF colour);

protected:
    virtual void AfterSkinStep(SkinStep) {}
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
    void ReleaseBackground();
    void PlaceDialog(SkinPlacement placement);
    HBRUSH ColourByTable(CDC* dc, CWnd* control, UINT ctlColor, HBRUSH baseAnswer);
    bool RouteCloseMessages(UINT message, WPARAM wParam);

    CBmpButton* m_pCloseControl = nullptr;
    SysCloseMatch m_closeMatch = SysCloseMatch::Masked;
    bool m_bAnswerButtons = false;
    BOOL (*m_confirmQuit)(CWnd*) = nullptr;
    SkinRows<LabelColours> m_colours;

    std::vector<std::unique_ptr<CFont>> m_fonts;
    std::vector<std::pair<COLORREF, CBrush>> m_brushes;
};
