#include "window/dialogs/quillmetUnit3.h"

#include "window/dialogs/UsageText.h"
#include "window/widgets/Fonts.h"
#include "window/widgets/Widgets.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm3* Form3 = nullptr;

TForm3::TForm3(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("使い方"));
    setFont(PixelFont(kGothic, 12));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);

    Memo1 = Named(new QPlainTextEdit(this), "Memo1");
    Memo1->setReadOnly(true);
    Memo1->setAccessibleName(QStringLiteral("使い方"));
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Lines are written to fit; wrapping only keeps an unexpectedly wide font readable.
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QPalette face = Memo1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Window));
    Memo1->setPalette(face);
    Memo1->setPlainText(UsageText());
    Memo1->setFixedSize(560, 440);
    layout->addWidget(Memo1);

    Button1 = MakeButton(this, "Button1", QStringLiteral("OK"));
    Button1->setMinimumWidth(88);
    Button1->setDefault(true);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    // Fixed dialog border.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
}

void TForm3::ShowSampleHost(const QString& sampleHost) {
    const QString text = UsageText(sampleHost);
    if (Memo1->toPlainText() != text)
        Memo1->setPlainText(text);
}
