// The main window's controls and menus under their own names, built from its layout;
// TForm1 adds the handlers.
#pragma once

#include <array>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QTextEdit;
class ClickableLabel;
class TForm1;
struct MeasurementServer;

// What 測定開始 runs: the JPEG download, the mail upload or the HTTP upload to the server.
enum class MeasureMode { Download, MailUpload, HttpUpload };

class TForm1Controls {
public:
    // input area
    QLabel* Label1 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QLabel* Label12 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLabel* Label17 = nullptr;   // "測定サーバー", in the HTTP upload mode
    QLineEdit* Edit20 = nullptr; // the chosen server, read-only
    QLabel* Label9 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button5 = nullptr; // "中止": stops the run under way
    QLabel* Label8 = nullptr;

    // result panel
    QFrame* Bevel1 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QLabel* Label14 = nullptr;
    QPushButton* Button6 = nullptr;
    QLabel* Label41 = nullptr;
    QLabel* Label42 = nullptr;
    QLabel* Label43 = nullptr;

    // per-round panel
    QLabel* Label22 = nullptr;
    QLabel* Label23 = nullptr;
    QLabel* Label24 = nullptr;
    QLabel* Label25 = nullptr;
    QLabel* Label26 = nullptr;
    QLineEdit* Edit10 = nullptr;
    QLineEdit* Edit11 = nullptr;
    QLineEdit* Edit12 = nullptr;
    QLineEdit* Edit13 = nullptr;
    QLineEdit* Edit14 = nullptr;
    QLineEdit* Edit15 = nullptr;
    QLineEdit* Edit16 = nullptr;
    QLineEdit* Edit17 = nullptr;
    QLineEdit* Edit18 = nullptr;
    QLineEdit* Edit19 = nullptr;
    std::array<QLineEdit*, 5> KbpsBoxes{}; // Edit10 .. Edit14
    std::array<QLineEdit*, 5> MbpsBoxes{}; // Edit15 .. Edit19
    QLabel* Label20 = nullptr;
    QLabel* Label21 = nullptr;
    QTextEdit* RichEdit1 = nullptr;

    // history area
    QLabel* Label2 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    ClickableLabel* Label16 = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    // hidden state holders
    QLabel* Label15 = nullptr; // saved URL 1
    QLabel* Label31 = nullptr; // saved URL 2
    QLabel* Label32 = nullptr; // saved URL 3
    QLabel* Label37 = nullptr; // saved URL 4
    QLabel* Label38 = nullptr; // saved URL 5
    QLabel* Label33 = nullptr; // slot name 1
    QLabel* Label34 = nullptr; // slot name 2
    QLabel* Label35 = nullptr; // slot name 3
    QLabel* Label39 = nullptr; // slot name 4
    QLabel* Label3a = nullptr; // slot name 5
    QLabel* Label44 = nullptr; // fastest-record display "true"/"false"
    QLabel* Label50 = nullptr; // schedule flag
    QLabel* Label51 = nullptr; // runs per burst
    QLabel* Label52 = nullptr; // bursts left

    // menus (a submenu is a QMenu; enable or disable it through menuAction())
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* X1 = nullptr; // export the history
    QAction* N7 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Edit4 = nullptr;
    QAction* N5 = nullptr;
    QAction* L1 = nullptr;
    QAction* D2 = nullptr;
    QAction* G1 = nullptr; // the history chart
    QAction* N4 = nullptr;
    QAction* C1 = nullptr;
    QAction* N9 = nullptr;
    QAction* onoffR1 = nullptr;
    QAction* T1 = nullptr;
    QMenu* N1 = nullptr;
    QAction* E1 = nullptr;
    QAction* S1 = nullptr; // "測定中止(&S)", Esc
    QAction* N3 = nullptr;
    QAction* TimerMeas = nullptr;
    QAction* LineTest1 = nullptr; // the line test's window
    QMenu* K1 = nullptr;
    QMenu* FTTH1 = nullptr;
    QAction* DTI8184KBN1 = nullptr;
    QAction* CommufaC1 = nullptr;
    QAction* USEN1 = nullptr;
    QAction* WebARENAW1 = nullptr;
    QMenu* ADSLU1 = nullptr;
    QAction* QuillmetJPEG4111KBU1 = nullptr;
    QAction* QuillmetJPEG989KBV2 = nullptr;
    QAction* QuillmetJPEG989KBV1 = nullptr;
    QMenu* ISDNI1 = nullptr;
    QAction* Serverisland110 = nullptr;
    QAction* Quillmetjpg1 = nullptr;
    QAction* N11 = nullptr;
    QMenu* URLH1 = nullptr;
    QMenu* N1A1 = nullptr;
    QMenu* N2B1 = nullptr;
    QMenu* N3C1 = nullptr;
    QMenu* N4D1 = nullptr;
    QMenu* N5G1 = nullptr;
    QAction* URL1 = nullptr;
    QAction* URLJ1 = nullptr;
    QAction* URLJ2 = nullptr;
    QAction* URLJ3 = nullptr;
    QAction* URLJ4 = nullptr;
    QAction* URLI1 = nullptr;
    QAction* URLI2 = nullptr;
    QAction* URLI3 = nullptr;
    QAction* URLI4 = nullptr;
    QAction* URLI5 = nullptr;
    QAction* N12 = nullptr;
    QAction* ServerSettings1 = nullptr; // the measurement server dialog
    QMenu* UPDOWN1 = nullptr;
    QAction* WEBB1 = nullptr;
    QAction* SMTPB1 = nullptr;
    QAction* HTTPB1 = nullptr; // the HTTP upload to the measurement server
    QMenu* Help1 = nullptr;
    QAction* Tutorial1 = nullptr;
    QAction* N8 = nullptr;
    QAction* WebW1 = nullptr;
    QAction* KAVJOURNALWebB1 = nullptr;
    QAction* N6 = nullptr;
    QAction* About1 = nullptr;

protected:
    TForm1Controls() = default;
    ~TForm1Controls() = default;
    TForm1Controls(const TForm1Controls&) = delete;
    TForm1Controls& operator=(const TForm1Controls&) = delete;

    // The client area with every control, on the window.
    void BuildControls(QMainWindow* window);
    // The menu bar, each item bound to the form's handler, and the buttons bound likewise.
    void BuildMenus(TForm1* form);

    // The per-round boxes and the upload log emptied; one of the two shown in the panel.
    void ClearRoundPanel();
    void ClearResultBoxes();
    void ShowRoundBoxes(bool rounds);
    void SetStartEnabled(bool enabled);
    // The captions and fields of a mode; the two uploads share the upload's captions.
    void ShowMode(MeasureMode mode);
    // The URL example and the presets (one the server lacks disabled) follow the server.
    void ShowServer(const MeasurementServer& server);

    // A saved-URL slot: its URL store, caption store, submenu and accelerator suffix.
    struct UrlSlot {
        QLabel* url;
        QLabel* caption;
        QMenu* menu;
        const char* suffix;
    };
    std::array<UrlSlot, 5> UrlSlots() const {
        return {{{Label15, Label33, N1A1, "(&A)"},
                 {Label31, Label34, N2B1, "(&B)"},
                 {Label32, Label35, N3C1, "(&C)"},
                 {Label37, Label39, N4D1, "(&D)"},
                 {Label38, Label3a, N5G1, "(&G)"}}};
    }

    QLabel* m_statusText = nullptr; // the status bar's one text
};
