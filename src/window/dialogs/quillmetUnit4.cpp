#include "window/dialogs/quillmetUnit4.h"

#include "window/widgets/Fonts.h"
#include "window/widgets/Widgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TForm4* Form4 = nullptr;

namespace {
constexpr int kClientWidth = 349;
constexpr int kClientHeight = 241;

QLabel* makeLabel(QWidget* parent, QVBoxLayout* layout, const char* name, const QString& caption,
                  int pixelSize, int indent) {
    auto* l = MakeLabel(parent, name, caption);
    l->setFont(PixelFont(kGothic, pixelSize));
    l->setContentsMargins(indent, 0, 0, 0);
    layout->addWidget(l);
    return l;
}
} // namespace

TForm4::TForm4(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("ご注意"));
    setFont(PixelFont(kGothic, 12));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(kClientWidth, kClientHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 14);
    layout->setSpacing(4);
    Label1 = makeLabel(this, layout, "Label1", QStringLiteral("メールベンチのご注意"), 16, 0);
    QFont heading = Label1->font();
    heading.setUnderline(true);
    Label1->setFont(heading);
    layout->addSpacing(8);
    Label2 = makeLabel(this, layout, "Label2",
                       QStringLiteral("・自分のメールアドレスを入れましたか?"), 16, 0);
    Label5 = makeLabel(this, layout, "Label5", QStringLiteral("本文に送信者の情報が入っています。"),
                       13, 16);
    Label4 = makeLabel(this, layout, "Label4",
                       QStringLiteral("他人に送らないように注意してください。"), 13, 16);
    layout->addSpacing(6);
    Label3 = makeLabel(this, layout, "Label3",
                       QStringLiteral("・メールアドレスを間違えないで下さい"), 16, 0);
    Label6 = makeLabel(this, layout, "Label6", QStringLiteral("間違えると、サーバ、ネットワークに"),
                       13, 16);
    Label7 =
        makeLabel(this, layout, "Label7", QStringLiteral("負荷をかける可能性があります。"), 13, 16);
    SetTextColor(Label2, Qt::red);
    SetTextColor(Label3, Qt::red);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    // Created first, Cancel comes first in the tab order.
    Button2 = MakeButton(this, "Button2", QStringLiteral("Cancel"));
    Button1 = MakeButton(this, "Button1", QStringLiteral("OK"));
    for (QPushButton* b : {Button1, Button2}) {
        b->setFixedSize(75, 25);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);

    Button2->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

TForm4::~TForm4() {
    if (Form4 == this)
        Form4 = nullptr;
}

void TForm4::showEvent(QShowEvent* event) {
    // Every showing starts on Cancel, so Enter alone never sends mail.
    Button2->setDefault(true);
    Button2->setFocus();
    QDialog::showEvent(event);
}
