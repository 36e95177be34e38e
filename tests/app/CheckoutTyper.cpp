// Runs the whole application (controller, main window, checkout) in a separate process on the
// data directory of $VELMORA_DATA_DIR, for the tests of a draft across restarts and kills.
//
//   CheckoutTyper type PHONE NAME   types PHONE into "Teléfono" and NAME into "Nombre" as an
//                                    operator would, then closes the window (quitting normally)
//   CheckoutTyper trickle TEXT MS   types TEXT into "Teléfono" one key every MS milliseconds,
//                                    writing "typed <field text>\n" after each key, then waits to
//                                    be killed
//   CheckoutTyper show              writes the phone and the name of the draft it opened with,
//                                    one per line, and quits
//
// Exits 3 when the data cannot be opened and 2 on misuse.

#include <Velmora/App/VelmoraApp.hpp>

#include "TestPlatformServices.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

QLineEdit* field(velmora::VelmoraApp& app, const char* name) {
    return app.window().findChild<QLineEdit*>(QString::fromLatin1(name));
}

// One key press per character, as a keyboard sends them; letters beyond ASCII come as text.
void type(QLineEdit* target, const QString& text) {
    target->setFocus();
    for (const QChar character : text) {
        if (character.unicode() < 128)
            QTest::keyClick(target, character.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, QString(character), Qt::NoModifier);
        QTest::qWait(20);
    }
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qt(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    velmora::testing::TestPlatformServices platform;
    velmora::VelmoraApp app(platform, std::nullopt);
    if (app.store().fatal()) {
        std::fputs("fatal\n", stdout);
        return 3;
    }
    app.show();
    QLineEdit* phone = field(app, "phone");
    QLineEdit* name = field(app, "name");
    if (!phone || !name) return 2;

    if (mode == "show" && argc == 2) {
        std::printf("%s\n%s\n", app.store().draft().phone.c_str(), app.store().draft().name.c_str());
        return 0;
    }
    if (mode == "type" && argc == 4) {
        QTimer::singleShot(0, &app, [&] {
            type(phone, QString::fromUtf8(argv[2]));
            type(name, QString::fromUtf8(argv[3]));
            app.window().close();
        });
        return QApplication::exec();
    }
    if (mode == "trickle" && argc == 4) {
        const QString text = QString::fromUtf8(argv[2]);
        const int pause = std::atoi(argv[3]);
        QTimer::singleShot(0, &app, [&] {
            phone->setFocus();
            for (const QChar character : text) {
                QTest::keyClick(phone, character.toLatin1());
                std::printf("typed %s\n", phone->text().toUtf8().constData());
                std::fflush(stdout);
                QTest::qWait(pause);
            }
            std::fputs("done\n", stdout);
            std::fflush(stdout);
        });
        return QApplication::exec();
    }
    return 2;
}
