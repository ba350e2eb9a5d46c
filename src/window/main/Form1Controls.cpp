#include "window/main/Form1Controls.h"

#include "QuillmetConfig.h"
#include "core/server/MeasurementServer.h"
#include "window/main/quillmetUnit1.h"
#include "window/widgets/ClickableLabel.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/Widgets.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>

namespace {
constexpr int kClientWidth = 586;
constexpr int kClientHeight = 490;

QString sampleUrl(const char* path) {
    return QStringLiteral("http://") + QString::fromUtf8(qmconfig::SampleHost) +
           QString::fromLatin1(path);
}

// An auto-sized label at (x, y).
QLabel* label(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    auto* l = MakeLabel(parent, name, caption);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w, int h, bool readOnly) {
    auto* e = MakeEdit(parent, name, readOnly);
    e->setGeometry(x, y, w, h);
    return e;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int x, int y, int w,
                    int h) {
    auto* b = MakeButton(parent, name, caption);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}
} // namespace

void TForm1Controls::BuildControls(QMainWindow* window) {
    auto* client = new QWidget(window);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(kClientWidth, kClientHeight);
    window->setCentralWidget(client);

    // Input area.
    Label1 = label(client, "Label1",
                   QStringLiteral("URL（例 ：") + QString::fromUtf8(qmconfig::ExampleUrl) +
                       QStringLiteral("）"),
                   8, 8);
    Edit7 = edit(client, "Edit7", 8, 24, 337, 21, false);
    Edit7->setAttribute(Qt::WA_InputMethodEnabled, false);
    Edit7->setFont(PixelFont(kGothic, 13));
    Label12 = label(client, "Label12", QStringLiteral("SMTPサーバ"), 8, 8);
    Edit3 = edit(client, "Edit3", 8, 24, 161, 21, false);
    Edit3->setAttribute(Qt::WA_InputMethodEnabled, false);
    Edit3->setFont(PixelFont(kGothic, 13));
    Label13 = label(client, "Label13", QStringLiteral("あなたのメールアドレス"), 184, 8);
    Edit8 = edit(client, "Edit8", 184, 24, 161, 21, false);
    Edit8->setAttribute(Qt::WA_InputMethodEnabled, false);
    Edit8->setFont(PixelFont(kGothic, 13));
    Label17 = label(client, "Label17", QStringLiteral("測定サーバー"), 8, 8);
    Edit20 = edit(client, "Edit20", 8, 24, 337, 21, true);
    Edit20->setFont(PixelFont(kGothic, 13));
    Label17->hide();
    Edit20->hide();
    Label12->hide();
    Edit3->hide();
    Label13->hide();
    Edit8->hide();
    Label9 = label(client, "Label9", QString(), 352, 28);
    Label9->setFixedWidth(40);
    Button1 = button(client, "Button1", QStringLiteral("測定開始"), 400, 16, 76, 33);
    Button1->setFont(PixelFont(kGothic, 15));
    Button1->setToolTip(QStringLiteral("ベンチマークを開始"));
    Button5 = button(client, "Button5", QStringLiteral("中止"), 480, 16, 42, 33);
    Button5->setToolTip(QStringLiteral("測定を中止 (Esc)"));
    Button5->setEnabled(false);
    Label8 = label(client, "Label8", QStringLiteral("タイマー"), 528, 26);
    Label8->setFont(PixelFont(kGothic, 12, true));
    SetTextColor(Label8, Qt::red);
    Label8->adjustSize();
    Label8->hide();

    // Result panel.
    Bevel1 = Named(new QFrame(client), "Bevel1");
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 56, 569, 272);
    Bevel1->lower();

    // Per-round panel, on the left of the result panel.
    Label20 = label(client, "Label20", QStringLiteral("kbps"), 88, 66);
    Label21 = label(client, "Label21", QStringLiteral("Mbps"), 184, 66);
    const char* roundLabelNames[] = {"Label22", "Label23", "Label24", "Label25", "Label26"};
    const char* kbpsNames[] = {"Edit10", "Edit11", "Edit12", "Edit13", "Edit14"};
    const char* mbpsNames[] = {"Edit15", "Edit16", "Edit17", "Edit18", "Edit19"};
    QLabel** roundLabels[] = {&Label22, &Label23, &Label24, &Label25, &Label26};
    QLineEdit** kbps[] = {&Edit10, &Edit11, &Edit12, &Edit13, &Edit14};
    QLineEdit** mbps[] = {&Edit15, &Edit16, &Edit17, &Edit18, &Edit19};
    for (int i = 0; i < 5; ++i) {
        const int y = 86 + i * 30;
        *roundLabels[i] =
            label(client, roundLabelNames[i], QStringLiteral("%1回目").arg(i + 1), 20, y + 4);
        *kbps[i] = edit(client, kbpsNames[i], 64, y, 89, 21, true);
        *mbps[i] = edit(client, mbpsNames[i], 160, y, 89, 21, true);
        KbpsBoxes[static_cast<std::size_t>(i)] = *kbps[i];
        MbpsBoxes[static_cast<std::size_t>(i)] = *mbps[i];
    }
    RichEdit1 = Named(new QTextEdit(client), "RichEdit1");
    RichEdit1->setGeometry(16, 64, 241, 256);
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->hide();

    // Results, on the right of the result panel.
    Label5 = label(client, "Label5", QStringLiteral("測定日時"), 272, 72);
    Edit6 = edit(client, "Edit6", 368, 68, 200, 21, true);
    Label10 = label(client, "Label10", QStringLiteral("コネクト時間"), 272, 104);
    Edit1 = edit(client, "Edit1", 368, 100, 97, 21, true);
    Label11 = label(client, "Label11", QStringLiteral("msec"), 472, 104);
    Label6 = label(client, "Label6", QStringLiteral("受信量"), 272, 136);
    Edit2 = edit(client, "Edit2", 368, 132, 97, 21, true);
    Label3 = label(client, "Label3", QStringLiteral("byte"), 472, 136);
    Label7 = label(client, "Label7", QStringLiteral("推定受信スピード"), 272, 178);
    Edit5 = edit(client, "Edit5", 368, 172, 130, 26, true);
    Label4 = label(client, "Label4", QStringLiteral("kbps"), 504, 180);
    Edit9 = edit(client, "Edit9", 368, 222, 130, 26, true);
    Label14 = label(client, "Label14", QStringLiteral("Mbps"), 504, 230);
    for (QLineEdit* box : {Edit5, Edit9}) {
        box->setFont(PixelFont(kGothic, 15, true));
        QPalette p = box->palette();
        p.setColor(QPalette::Base, p.color(QPalette::ToolTipBase));
        p.setColor(QPalette::Text, p.color(QPalette::WindowText));
        box->setPalette(p);
    }
    // The record sits just below the result it compares with.
    Label41 = label(client, "Label41", QStringLiteral("最速記録"), 304, 203);
    Label42 = label(client, "Label42", QStringLiteral("0"), 372, 203);
    Label43 = label(client, "Label43", QStringLiteral("0"), 372, 253);
    for (QLabel* l : {Label41, Label42, Label43}) {
        SetTextColor(l, QColor(0, 0, 128));
        l->hide();
    }
    Label42->setFixedWidth(126);
    Label43->setFixedWidth(126);
    Button6 = button(client, "Button6", QStringLiteral("最速記録on/off"), 368, 292, 112, 24);

    // History area.
    Label2 = label(client, "Label2", QStringLiteral("測定履歴"), 8, 330);
    ListBox1 = Named(new QListWidget(client), "ListBox1");
    ListBox1->setGeometry(8, 344, 569, 73);
    ListBox1->setFont(PixelFont(kGothic, 11));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setFocusPolicy(Qt::ClickFocus);
    ListBox1->setUniformItemSizes(true);
    Button2 = button(client, "Button2", QStringLiteral("すべて削除"), 8, 424, 81, 25);
    Button3 = button(client, "Button3", QStringLiteral("一行削除"), 96, 424, 81, 25);
    Button3->setToolTip(QStringLiteral("測定履歴の選択した行を削除"));
    Button4 = button(client, "Button4", QStringLiteral("コピー"), 184, 424, 81, 25);
    Button4->setToolTip(QStringLiteral("測定履歴全体をクリップボードにコピー"));
    Label16 =
        Named(new ClickableLabel(QString::fromUtf8(qmconfig::PublisherName), client), "Label16");
    Label16->setFont(PixelFont(kMincho, 15, true, true));
    SetTextColor(Label16, Qt::red);
    Label16->setCursor(Qt::PointingHandCursor);
    Label16->adjustSize();
    Label16->move(kClientWidth - 12 - Label16->width(), 428);

    StatusBar1 = Named(new QStatusBar(client), "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, kClientHeight - 20, kClientWidth, 20);
    m_statusText = Named(new QLabel(StatusBar1), "StatusBar1Text");
    m_statusText->setFrameShape(QFrame::Panel);
    m_statusText->setFrameShadow(QFrame::Sunken);
    m_statusText->setContentsMargins(4, 0, 4, 0);
    StatusBar1->addWidget(m_statusText, 1);

    // Hidden state holders: captions carry state, never shown.
    const QString firstSample = sampleUrl("/qm/qm100K.jpg");
    struct Holder {
        QLabel** target;
        const char* name;
        QString caption;
    };
    const Holder holders[] = {
        {&Label15, "Label15", firstSample},
        {&Label31, "Label31", firstSample},
        {&Label32, "Label32", firstSample},
        {&Label37, "Label37", firstSample},
        {&Label38, "Label38", firstSample},
        {&Label33, "Label33", QStringLiteral("保存1(&A)")},
        {&Label34, "Label34", QStringLiteral("保存2(&B)")},
        {&Label35, "Label35", QStringLiteral("保存3(&C)")},
        {&Label39, "Label39", QStringLiteral("保存4(&D)")},
        {&Label3a, "Label3a", QStringLiteral("保存5(&G)")},
        {&Label44, "Label44", QStringLiteral("false")},
        {&Label50, "Label50", QStringLiteral("0")},
        {&Label51, "Label51", QStringLiteral("0")},
        {&Label52, "Label52", QStringLiteral("0")},
    };
    for (const Holder& h : holders) {
        *h.target = label(client, h.name, h.caption, 0, 0);
        (*h.target)->setTextFormat(Qt::PlainText);
        (*h.target)->hide();
    }

    // Names for screen readers: the caption that stands beside each box, with its unit.
    const std::pair<QWidget*, QString> names[] = {
        {Edit7, QStringLiteral("URL")},
        {Edit3, QStringLiteral("SMTPサーバ")},
        {Edit8, QStringLiteral("あなたのメールアドレス")},
        {Edit20, QStringLiteral("測定サーバー")},
        {Edit6, QStringLiteral("測定日時")},
        {Edit1, QStringLiteral("コネクト時間 (msec)")},
        {Edit2, QStringLiteral("受信量 (byte)")},
        {Edit5, QStringLiteral("推定受信スピード (kbps)")},
        {Edit9, QStringLiteral("推定受信スピード (Mbps)")},
        {RichEdit1, QStringLiteral("メールベンチの記録")},
        {ListBox1, QStringLiteral("測定履歴")},
        {m_statusText, QStringLiteral("状態")},
    };
    for (const auto& [widget, name] : names)
        widget->setAccessibleName(name);
    for (int i = 0; i < 5; ++i) {
        const auto k = static_cast<std::size_t>(i);
        KbpsBoxes[k]->setAccessibleName(QStringLiteral("%1回目 kbps").arg(i + 1));
        MbpsBoxes[k]->setAccessibleName(QStringLiteral("%1回目 Mbps").arg(i + 1));
    }

    QWidget::setTabOrder(Edit7, Button1);
    QWidget::setTabOrder(Button1, Button5);
}

void TForm1Controls::BuildMenus(TForm1* form) {
    MainMenu1 = Named(new QMenuBar(form), "MainMenu1");
    form->setMenuBar(MainMenu1);

    auto menu = [](QWidget* parent, const char* name, const QString& caption) {
        QMenu* m = nullptr;
        if (auto* bar = qobject_cast<QMenuBar*>(parent))
            m = bar->addMenu(caption);
        else
            m = static_cast<QMenu*>(parent)->addMenu(caption);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Action"));
        return m;
    };
    auto item = [form](QMenu* m, const char* name, const QString& caption,
                       void (TForm1::*handler)(), const QKeySequence& shortcut = {}) {
        QAction* a = m->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(shortcut);
        BindHandler(a, &QAction::triggered, form, handler);
        return a;
    };
    auto separator = [](QMenu* m, const char* name) {
        QAction* a = m->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };

    File1 = menu(MainMenu1, "File1", QStringLiteral("ファイル(&F)"));
    X1 = item(File1, "X1", QStringLiteral("測定履歴をエクスポート(&X)…"), &TForm1::X1Click);
    N7 = separator(File1, "N7");
    Exit1 = item(File1, "Exit1", QStringLiteral("終了(&E)"), &TForm1::Exit1Click,
                 QKeySequence(Qt::CTRL | Qt::Key_Q));

    Edit4 = menu(MainMenu1, "Edit4", QStringLiteral("編集(&E)"));
    N5 = item(Edit4, "N5", QStringLiteral("測定履歴のコピー(&P)"), &TForm1::N5Click,
              QKeySequence(Qt::CTRL | Qt::Key_C));
    L1 = item(Edit4, "L1", QStringLiteral("測定履歴を一行削除(&L)"), &TForm1::L1Click,
              QKeySequence(Qt::CTRL | Qt::Key_D));
    D2 = item(Edit4, "D2", QStringLiteral("測定履歴をすべて削除(&D)"), &TForm1::D2Click);
    G1 = item(Edit4, "G1", QStringLiteral("測定履歴のグラフ(&G)"), &TForm1::G1Click,
              QKeySequence(Qt::CTRL | Qt::Key_G));
    N4 = separator(Edit4, "N4");
    C1 = item(Edit4, "C1", QStringLiteral("受信データをクリア(&C)"), &TForm1::C1Click);
    N9 = separator(Edit4, "N9");
    onoffR1 = item(Edit4, "onoffR1", QStringLiteral("最速記録on/off(&R)"), &TForm1::Button6Click);
    T1 = item(Edit4, "T1", QStringLiteral("最速記録クリア(&T)"), &TForm1::T1Click);

    N1 = menu(MainMenu1, "N1", QStringLiteral("実行(&Z)"));
    E1 = item(N1, "E1", QStringLiteral("測定開始(&E)"), &TForm1::Button1Click,
              QKeySequence(Qt::CTRL | Qt::Key_E));
    S1 = item(N1, "S1", QStringLiteral("測定中止(&S)"), &TForm1::S1Click,
              QKeySequence(Qt::Key_Escape));
    S1->setEnabled(false);
    N3 = separator(N1, "N3");
    TimerMeas = item(N1, "TimerMeas", QStringLiteral("タイマー測定(&T)"), &TForm1::TimerMeasClick);
    LineTest1 = item(N1, "LineTest1", QStringLiteral("回線品質測定(&Q)…"), &TForm1::LineTest1Click);

    K1 = menu(MainMenu1, "K1", QStringLiteral("簡易測定(&K)"));
    FTTH1 = menu(K1, "FTTH1", QStringLiteral("高速（FTTH等）(&T)"));
    DTI8184KBN1 = item(FTTH1, "DTI8184KBN1", QStringLiteral("15MB(&R)"), &TForm1::DTI8184KBN1Click);
    CommufaC1 = item(FTTH1, "CommufaC1", QStringLiteral("8MB(&C)"), &TForm1::CommufaC1Click);
    USEN1 = item(FTTH1, "USEN1", QStringLiteral("4MB(&Y)"), &TForm1::USEN1Click);
    WebARENAW1 = item(FTTH1, "WebARENAW1", QStringLiteral("2MB(&W)"), &TForm1::WebARENAW1Click);
    ADSLU1 = menu(K1, "ADSLU1", QStringLiteral("中速（ADSL等）(&U)"));
    QuillmetJPEG4111KBU1 = item(ADSLU1, "QuillmetJPEG4111KBU1", QStringLiteral("2MB(&U)"),
                                &TForm1::QuillmetJPEG989KBV3Click);
    QuillmetJPEG989KBV2 = item(ADSLU1, "QuillmetJPEG989KBV2", QStringLiteral("1MB(&X)"),
                               &TForm1::QuillmetJPEG989KBV2Click);
    QuillmetJPEG989KBV1 = item(ADSLU1, "QuillmetJPEG989KBV1", QStringLiteral("500kB(&V)"),
                               &TForm1::QuillmetJPEG989KBV1Click);
    ISDNI1 = menu(K1, "ISDNI1", QStringLiteral("低速(&I)"));
    Serverisland110 =
        item(ISDNI1, "Serverisland110", QStringLiteral("200kB(&R)"), &TForm1::Serverisland110Click);
    Quillmetjpg1 =
        item(ISDNI1, "Quillmetjpg1", QStringLiteral("100KB(&W)"), &TForm1::Quillmetjpg1Click);
    N11 = separator(K1, "N11");
    URLH1 = menu(K1, "URLH1", QStringLiteral("URL保存(&H)"));
    N1A1 = menu(URLH1, "N1A1", QStringLiteral("保存1(&A)"));
    URL1 = item(N1A1, "URL1", QStringLiteral("保存URLの呼出し(&J)"), &TForm1::URL1Click);
    URLI1 = item(N1A1, "URLI1", QStringLiteral("現在のURLの保存(&I)"), &TForm1::URLI1Click);
    N2B1 = menu(URLH1, "N2B1", QStringLiteral("保存2(&B)"));
    URLJ1 = item(N2B1, "URLJ1", QStringLiteral("保存URLの呼出し(&J)"), &TForm1::URLJ1Click);
    URLI2 = item(N2B1, "URLI2", QStringLiteral("現在のURLの保存(&I)"), &TForm1::URLI2Click);
    N3C1 = menu(URLH1, "N3C1", QStringLiteral("保存3(&C)"));
    URLJ2 = item(N3C1, "URLJ2", QStringLiteral("保存URLの呼出し(&J)"), &TForm1::URLJ2Click);
    URLI3 = item(N3C1, "URLI3", QStringLiteral("現在のURLの保存(&I)"), &TForm1::URLI3Click);
    N4D1 = menu(URLH1, "N4D1", QStringLiteral("保存4(&D)"));
    URLJ3 = item(N4D1, "URLJ3", QStringLiteral("URLの呼出し(&J)"), &TForm1::URLJ3Click);
    URLI4 = item(N4D1, "URLI4", QStringLiteral("現在のURLの保存(&I)"), &TForm1::URLI4Click);
    N5G1 = menu(URLH1, "N5G1", QStringLiteral("保存5(&G)"));
    URLJ4 = item(N5G1, "URLJ4", QStringLiteral("URLの呼出し(&J)"), &TForm1::URLJ4Click);
    URLI5 = item(N5G1, "URLI5", QStringLiteral("現在のURLの保存(&I)"), &TForm1::URLI5Click);
    N12 = separator(K1, "N12");
    ServerSettings1 = item(K1, "ServerSettings1", QStringLiteral("測定サーバーの設定(&M)…"),
                           &TForm1::ServerSettings1Click);

    UPDOWN1 = menu(MainMenu1, "UPDOWN1", QStringLiteral("UP/DOWN(&S)"));
    WEBB1 =
        item(UPDOWN1, "WEBB1", QStringLiteral("Quillmet(ダウンロード)(&W)"), &TForm1::WEBB1Click);
    SMTPB1 = item(UPDOWN1, "SMTPB1", QStringLiteral("メールベンチ(アップロード)(&S)"),
                  &TForm1::SMTPB1Click);
    HTTPB1 = item(UPDOWN1, "HTTPB1", QStringLiteral("HTTPアップロード(&H)"), &TForm1::HTTPB1Click);
    WEBB1->setCheckable(true);
    SMTPB1->setCheckable(true);
    HTTPB1->setCheckable(true);
    WEBB1->setChecked(true);

    Help1 = menu(MainMenu1, "Help1", QStringLiteral("ヘルプ(&H)"));
    Tutorial1 = item(Help1, "Tutorial1", QStringLiteral("使い方(&U)"), &TForm1::Tutorial1Click);
    N8 = separator(Help1, "N8");
    WebW1 =
        item(Help1, "WebW1", QStringLiteral("Quillmetホームページ(Web)(&W)"), &TForm1::WebW1Click);
    KAVJOURNALWebB1 = item(Help1, "KAVJOURNALWebB1", QStringLiteral("KAV HOME PAGE(Web)(&B)"),
                           &TForm1::KAVJOURNALWebB1Click);
    N6 = separator(Help1, "N6");
    About1 = item(Help1, "About1", QStringLiteral("バージョン情報(&V)"), &TForm1::About1Click);

    BindHandler(Button1, &QPushButton::clicked, form, &TForm1::Button1Click);
    BindHandler(Button5, &QPushButton::clicked, form, &TForm1::S1Click);
    BindHandler(Button6, &QPushButton::clicked, form, &TForm1::Button6Click);
    BindHandler(Button2, &QPushButton::clicked, form, &TForm1::D2Click);
    BindHandler(Button3, &QPushButton::clicked, form, &TForm1::Button3Click);
    BindHandler(Button4, &QPushButton::clicked, form, &TForm1::Button4Click);
    BindHandler(Label16, &ClickableLabel::clicked, form, &TForm1::Label16Click);
}

void TForm1Controls::ClearRoundPanel() {
    for (std::size_t i = 0; i < 5; ++i) {
        KbpsBoxes[i]->clear();
        MbpsBoxes[i]->clear();
    }
    RichEdit1->clear();
}

void TForm1Controls::ClearResultBoxes() {
    Edit1->clear();
    Edit2->clear();
    Edit5->clear();
    Edit9->clear();
    // A new fastest record's colour and words go with the figures.
    for (QLineEdit* box : {Edit5, Edit9}) {
        SetEditTextColor(box, box->palette().color(QPalette::WindowText));
        box->setToolTip(QString());
        box->setAccessibleDescription(QString());
    }
}

void TForm1Controls::ShowRoundBoxes(bool rounds) {
    for (std::size_t i = 0; i < 5; ++i) {
        KbpsBoxes[i]->setVisible(rounds);
        MbpsBoxes[i]->setVisible(rounds);
    }
    for (QLabel* l : {Label20, Label21, Label22, Label23, Label24})
        l->setVisible(rounds);
    RichEdit1->setVisible(!rounds);
}

void TForm1Controls::SetStartEnabled(bool enabled) {
    Button1->setEnabled(enabled);
    E1->setEnabled(enabled);
}

void TForm1Controls::ShowServer(const MeasurementServer& server) {
    Label1->setText(QStringLiteral("URL（例 ：") + ExampleUrlText(server) + QStringLiteral("）"));
    Label1->adjustSize();
    Edit20->setText(server.Authority());
    const std::pair<QAction*, const char*> presets[] = {
        {DTI8184KBN1, "15M"},
        {CommufaC1, "8M"},
        {USEN1, "4M"},
        {WebARENAW1, "2M"},
        {QuillmetJPEG4111KBU1, "2M"},
        {QuillmetJPEG989KBV2, "1M"},
        {QuillmetJPEG989KBV1, "500K"},
        {Serverisland110, "200K"},
        {Quillmetjpg1, "100K"},
    };
    for (const auto& [action, size] : presets)
        action->setEnabled(!server.Lacks(PresetPath(QString::fromLatin1(size))));
}

void TForm1Controls::ShowMode(MeasureMode mode) {
    const bool upload = mode != MeasureMode::Download;
    Label6->setText(upload ? QStringLiteral("送信量") : QStringLiteral("受信量"));
    Label7->setText(upload ? QStringLiteral("推定送信スピード")
                           : QStringLiteral("推定受信スピード"));
    Edit2->setAccessibleName(upload ? QStringLiteral("送信量 (byte)")
                                    : QStringLiteral("受信量 (byte)"));
    Edit5->setAccessibleName(upload ? QStringLiteral("推定送信スピード (kbps)")
                                    : QStringLiteral("推定受信スピード (kbps)"));
    Edit9->setAccessibleName(upload ? QStringLiteral("推定送信スピード (Mbps)")
                                    : QStringLiteral("推定受信スピード (Mbps)"));
    Label6->adjustSize();
    Label7->adjustSize();
    SMTPB1->setChecked(mode == MeasureMode::MailUpload);
    WEBB1->setChecked(mode == MeasureMode::Download);
    HTTPB1->setChecked(mode == MeasureMode::HttpUpload);
    // The other modes' fields go first, so that focus never passes through them.
    const std::initializer_list<QWidget*> smtpFields{Label12, Label13, Edit3, Edit8};
    const std::initializer_list<QWidget*> urlFields{Edit7, Label1};
    const std::initializer_list<QWidget*> serverFields{Label17, Edit20};
    const std::initializer_list<QWidget*> fields[] = {urlFields, smtpFields, serverFields};
    const auto shown = static_cast<std::size_t>(mode);
    for (std::size_t i = 0; i < 3; ++i) {
        if (i != shown)
            for (QWidget* w : fields[i])
                w->hide();
    }
    for (QWidget* w : fields[shown])
        w->show();
    // The presets fill the URL box; the server choice among them serves the HTTP upload too.
    K1->menuAction()->setEnabled(mode != MeasureMode::MailUpload);
    if (mode == MeasureMode::HttpUpload)
        QWidget::setTabOrder(Edit20, Button1);
}
