#include <Velmora/App/VelmoraApp.hpp>
#include <Velmora/Platform/QtPlatformServices.hpp>

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
    // The window shows at once; the data is read meanwhile.
    velmora::VelmoraApp velmora(platform, std::nullopt, pizzacore::Clock::system(),
                                velmora::VelmoraApp::Opening::inBackground);
    platform.setParentWindow(&velmora.window());
    velmora.show();
    return QApplication::exec();
}
