#include "window/dialogs/quillmetUnit6.h"

#include "core/server/ServerSettings.h"
#include "window/main/quillmetUnit1.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/MessageBox.h"
#include "window/widgets/Widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm6* Form6 = nullptr;

namespace {
QComboBox* makeComboBox(QWidget* parent, const char* name, const QStringList& items) {
    auto* box = Named(new QComboBox(parent), name);
    box->addItems(items);
    box->setCurrentIndex(-1); // nothing chosen until the user picks
    box->setMinimumWidth(64);
    return box;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = MakeButton(parent, name, caption);
    b->setMinimumSize(96, 25);
    return b;
}
} // namespace

TForm6::TForm6(TForm1* mainWindow)
    : QDialog(mainWindow)
    , m_mainWindow(mainWindow) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("タイマー設定"));
    setFont(PixelFont(kGothic, 12));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    ComboBox1 = makeComboBox(
        this, "ComboBox1",
        {QStringLiteral("30"), QStringLiteral("60"), QStringLiteral("90"), QStringLiteral("120")});
    Label1 = MakeLabel(this, "Label1", QStringLiteral("分置きに"));
    ComboBox2 = makeComboBox(this, "ComboBox2",
                             {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    Label2 = MakeLabel(this, "Label2", QStringLiteral("回の測定を"));
    ComboBox3 = makeComboBox(this, "ComboBox3",
                             {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                              QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                              QStringLiteral("7")});
    Label3 = MakeLabel(this, "Label3", QStringLiteral("回繰り返す"));
    CheckBox1 = Named(new QCheckBox(QStringLiteral("IPv4とIPv6を交互に"), this), "CheckBox1");
    CheckBox1->setToolTip(QStringLiteral("毎回の測定を IPv4 と IPv6 で1回ずつ行います"));
    CheckBox1->setChecked(ReadAlternateFamilies());
    Button1 = makeButton(this, "Button1", QStringLiteral("タイマーON"));
    Button2 = makeButton(this, "Button2", QStringLiteral("タイマーOFF"));
    Button2->setDefault(true);

    // Read downwards, the choices make one sentence: every 30 minutes, 2 runs, 3 times.
    auto* choices = new QGridLayout;
    choices->setHorizontalSpacing(8);
    choices->setVerticalSpacing(8);
    const std::pair<QComboBox*, QLabel*> rows[] = {
        {ComboBox1, Label1}, {ComboBox2, Label2}, {ComboBox3, Label3}};
    int row = 0;
    for (const auto& [box, label] : rows) {
        choices->addWidget(box, row, 0);
        choices->addWidget(label, row, 1);
        ++row;
    }
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(16);
    layout->addLayout(choices);
    layout->addWidget(CheckBox1);
    layout->addLayout(buttons);

    // Each list is read with the words after it.
    Label1->setBuddy(ComboBox1);
    Label2->setBuddy(ComboBox2);
    Label3->setBuddy(ComboBox3);
    ComboBox1->setAccessibleName(QStringLiteral("分置きに"));
    ComboBox2->setAccessibleName(QStringLiteral("回の測定を"));
    ComboBox3->setAccessibleName(QStringLiteral("回繰り返す"));
    connect(CheckBox1, &QCheckBox::toggled, this, &TForm6::CheckBox1Toggled);
    BindHandler(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    BindHandler(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);

    // Fixed dialog border.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
}

TForm6::~TForm6() {
    if (Form6 == this)
        Form6 = nullptr;
}

TForm1* TForm6::mainWindow() const {
    return m_mainWindow ? m_mainWindow : Form1;
}

void TForm6::Button1Click() {
    TForm1* form = mainWindow();
    if (ComboBox1->currentIndex() < 0 || ComboBox2->currentIndex() < 0 ||
        ComboBox3->currentIndex() < 0 || !form) {
        hide();
        return;
    }
    const QString url = form->Edit7->text();
    if (!form->WEBB1->isChecked() || url.isEmpty()) {
        ShowMessageBox(QStringLiteral("URLを入力してください。\n"
                                      "「簡易測定」メニューを使うと簡単です。"));
        hide();
        return;
    }
    if (!url.startsWith(QLatin1String("http://"))) {
        form->SetStatus(QStringLiteral("エラー：http://から始まるURLを入れてください"));
        hide();
        return;
    }
    if (!url.endsWith(QLatin1Char('g'))) {
        form->SetStatus(QStringLiteral("エラー：画像ファイルを指定してください。"));
        hide();
        return;
    }
    form->StartTimerSchedule(
        TimerSchedule::IntervalMs(ComboBox1->currentText().toInt(), MsPerMinute), GapMs,
        ComboBox2->currentText().toInt(), ComboBox3->currentText().toInt(), CheckBox1->isChecked());
    hide();
}

void TForm6::CheckBox1Toggled(bool on) {
    // The choice holds for this session whether or not the file takes it.
    if (!WriteAlternateFamilies(on))
        if (TForm1* form = mainWindow())
            form->SetStatus(QStringLiteral("設定ファイル %1 に保存できませんでした")
                                .arg(QDir::toNativeSeparators(ServerSettingsPath())));
}

void TForm6::reject() {
    Button2Click();
    QDialog::reject();
}

void TForm6::Button2Click() {
    if (TForm1* form = mainWindow())
        form->EndTimerSchedule();
    hide();
}
