#include <Velmora/App/VelmoraApp.hpp>
#include <Velmora/Services/QtPlatformServices.hpp>

#include <QApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // Without a display Qt would abort with its own English message; say it plainly instead.
    const std::vector<std::string> arguments(argv, argv + argc);
    if (const auto message = velmora::noDisplayMessage(velmora::processEnvironment, arguments)) {
        std::cerr << message->toStdString() << '\n';
        return 1;
    }

    QApplication app(argc, argv);
    velmora::prepareApplication(app);

    velmora::QtPlatformServices platform;
    velmora::VelmoraApp velmora(platform, std::nullopt);
    platform.setParentWindow(&velmora.window());
    velmora.show();
    return QApplication::exec();
}
