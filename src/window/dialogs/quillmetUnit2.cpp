#include "window/dialogs/quillmetUnit2.h"

#include "QuillmetConfig.h"
#include "window/main/quillmetUnit1.h"
#include "window/widgets/BrowserLauncher.h"
#include "window/widgets/ClickableLabel.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/Widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm2* Form2 = nullptr;

namespace {
template <typename L>
L* makeLabel(QWidget* parent, const char* name, const QString& caption, const QFont& font,
             QVBoxLayout* layout) {
    auto* l = MakeLabel<L>(parent, name, caption);
    l->setFont(font);
    layout->addWidget(l, 0, Qt::AlignHCenter);
    return l;
}

void setEditUrl(const char* url) {
    if (Form1)
        Form1->Edit7->setText(QString::fromUtf8(url));
}
} // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setFont(PixelFont(kGothic, 12));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 20, 28, 16);
    layout->setSpacing(6);

    Label1 = makeLabel<QLabel>(this, "Label1", QStringLiteral("Quillmet Ver.1.90"),
                               PixelFont(kGothic, 24), layout);
    Label2 =
        makeLabel<QLabel>(this, "Label2", QStringLiteral("for Windows 95/98/Me/2000/XP/Vista/7/8"),
                          PixelFont(kGothic, 19), layout);
    layout->addSpacing(10);
    // The notice and the author's name look like plain text; their clicks are not advertised.
    Label3 = makeLabel<ClickableLabel>(
        this, "Label3", QStringLiteral("Copyright (C) 2003-2025 All Rights Reserved."),
        PixelFont(kGothic, 16), layout);
    Label4 = makeLabel<ClickableLabel>(this, "Label4", QString::fromUtf8(qmconfig::AuthorName),
                                       PixelFont(kGothic, 16), layout);
    layout->addSpacing(10);

    QFont link = PixelFont(kGothic, 13);
    link.setUnderline(true);
    Label5 = makeLabel<ClickableLabel>(
        this, "Label5", QStringLiteral("URL : ") + QString::fromUtf8(qmconfig::HomeUrl), link,
        layout);
    Label6 = makeLabel<ClickableLabel>(this, "Label6", QString::fromUtf8(qmconfig::PublisherName),
                                       PixelFont(kMincho, 16, true, true), layout);
    Label7 = makeLabel<ClickableLabel>(
        this, "Label7", QStringLiteral("blog : ") + QString::fromUtf8(qmconfig::AuthorUrl), link,
        layout);
    SetTextColor(Label5, Qt::blue);
    SetTextColor(Label6, Qt::red);
    SetTextColor(Label7, Qt::blue);
    for (ClickableLabel* l : {Label5, Label6, Label7})
        l->setCursor(Qt::PointingHandCursor);

    layout->addSpacing(12);
    Button1 = MakeButton(this, "Button1", QStringLiteral("OK"));
    Button1->setMinimumWidth(88);
    Button1->setDefault(true);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);

    auto bind = [this](ClickableLabel* l, void (TForm2::*handler)()) {
        BindHandler(l, &ClickableLabel::clicked, this, handler);
    };
    bind(Label3, &TForm2::Label3Click);
    bind(Label4, &TForm2::Label4Click);
    bind(Label5, &TForm2::Label5Click);
    bind(Label6, &TForm2::Label6Click);
    bind(Label7, &TForm2::Label7Click);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    // Fixed dialog border.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
}

void TForm2::Label3Click() {
    setEditUrl(qmconfig::BigJpgUrl);
}

void TForm2::Label4Click() {
    setEditUrl(qmconfig::SmlJpgUrl);
}

void TForm2::Label5Click() {
    OpenUrlInBrowser(QString::fromUtf8(qmconfig::HomeUrl));
}

void TForm2::Label6Click() {
    OpenUrlInBrowser(QString::fromUtf8(qmconfig::HomeUrl));
}

void TForm2::Label7Click() {
    OpenUrlInBrowser(QString::fromUtf8(qmconfig::AuthorUrl));
}
