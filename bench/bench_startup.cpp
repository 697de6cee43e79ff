// Time from process start to the first painted main window, beside a bare QMainWindow.
// Runs itself as the child processes: "form" builds the program's window as the program
// does, "bare" an empty QMainWindow, "text" a QMainWindow with one Japanese label (what any
// Japanese window pays for the font database and a CJK font); each quits at its first paint.
#include "benchcommon.h"
#include "form1.h"
#include "posixfileoperations.h"
#include "qtmessageboxes.h"
#include "volumes.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTemporaryDir>

namespace {

class QuitOnPaint final : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return false;
    }
};

int child(int argc, char *argv[], const QByteArray &mode)
{
    QApplication app(argc, argv);
    QuitOnPaint quit;
    if (mode != "form") {
        QMainWindow window;
        if (mode == "text")
            window.setCentralWidget(new QLabel(QStringLiteral("カエナミ")));
        window.installEventFilter(&quit);
        window.show();
        return app.exec();
    }
    PosixFileOperations files;
    SystemVolumes volumes;
    QtMessageBoxes messages;
    Form1 window(Form1Services{
        files, volumes, messages, QCoreApplication::applicationDirPath(), {}, {}, {}});
    messages.setParent(&window);
    window.Form_Load();
    window.installEventFilter(&quit);
    window.show();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "form" || mode == "bare" || mode == "text")
        return child(argc, argv, mode);

    QCoreApplication app(argc, argv);
    const int rounds = app.arguments().value(1, QStringLiteral("15")).toInt();
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> form, bare, text;
    for (int round = 0; round < rounds; ++round) {
        text.push_back(Bench::timeMs([&] {
            if (!Bench::run(self, {QStringLiteral("text")}))
                qFatal("the text window did not start");
        }));
        form.push_back(Bench::timeMs([&] {
            if (!Bench::run(self, {QStringLiteral("form")}))
                qFatal("the window did not start");
        }));
        bare.push_back(Bench::timeMs([&] {
            if (!Bench::run(self, {QStringLiteral("bare")}))
                qFatal("the bare window did not start");
        }));
    }
    std::printf("start-up to the first painted window, median of %d rounds\n", rounds);
    Bench::row("main window (start-up sequence included)", Bench::median(form), Bench::median(bare),
               "bare");
    Bench::row("main window against one Japanese label", Bench::median(form), Bench::median(text),
               "label");
    return 0;
}
