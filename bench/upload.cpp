// upload SERVER ADDRESS [COUNT]: COUNT uploads through the main window to the mail server,
// each started by the start button and confirmed in the caution, one line per upload.
#include "window/dialogs/quillmetUnit4.h"
#include "window/main/quillmetUnit1.h"
#include "window/widgets/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kUploadLimitMs = 120000;
constexpr int kPauseMs = 1000;

// Ends a nested loop when the watched button is enabled again.
class EnabledWatch final : public QObject {
public:
    EnabledWatch(QPushButton* button, QEventLoop& loop)
        : m_button(button)
        , m_loop(loop) {
        button->installEventFilter(this);
    }
    bool eventFilter(QObject* object, QEvent* event) override {
        if (object == m_button && event->type() == QEvent::EnabledChange && m_button->isEnabled())
            m_loop.quit();
        return false;
    }

private:
    QPushButton* m_button;
    QEventLoop& m_loop;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const int count = args.size() == 4 ? args[3].toInt() : 1;
    if (args.size() < 3 || args.size() > 4 || count < 1 || count > 20) {
        std::fprintf(stderr, "usage: upload SERVER ADDRESS [COUNT 1-20]\n");
        return 2;
    }
    QStringList boxes;
    SetMessageBoxHook([&boxes](const QString& text, MsgButtons, const QString&) {
        boxes << text;
        return MsgResult::Ok;
    });

    TForm1 form;
    Form4 = new TForm4(&form);
    form.show();
    form.SMTPB1->trigger();
    form.Edit3->setText(args[1]);
    form.Edit8->setText(args[2]);

    std::printf("# connect_ms bytes kbps Mbps status | history line\n");
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const int linesBefore = form.ListBox1->count();
        QTimer::singleShot(0, Form4, [] { Form4->Button1->click(); });
        form.Button1->click();
        if (!form.Button1->isEnabled()) {
            QEventLoop loop;
            EnabledWatch watch(form.Button1, loop);
            QTimer::singleShot(kUploadLimitMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        if (!form.Button1->isEnabled() || form.ListBox1->count() == linesBefore) {
            std::fprintf(stderr, "upload %d: no result (status %s)\n", i + 1,
                         qPrintable(form.StatusText()));
            ++failures;
            break;
        }
        const QString line = form.ListBox1->item(form.ListBox1->count() - 1)->text();
        std::printf("%s %s %s %s %s | %s\n", qPrintable(form.Edit1->text()),
                    qPrintable(form.Edit2->text()), qPrintable(form.Edit5->text()),
                    qPrintable(form.Edit9->text()), qPrintable(form.StatusText()),
                    line.toUtf8().constData());
        std::fflush(stdout);
        QEventLoop pause;
        QTimer::singleShot(kPauseMs, &pause, &QEventLoop::quit);
        pause.exec();
    }
    for (const QString& text : boxes)
        std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
    form.close();
    return failures == 0 && boxes.isEmpty() ? 0 : 1;
}
