#include <Velmora/App/VelmoraApp.hpp>
#include <Velmora/Platform/QtPlatformServices.hpp>
#include <Velmora/Services/IncomingCalls.hpp>
#include <Velmora/Version.hpp>

#include <QApplication>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv, argv + argc);
    // Answered before anything of Qt starts, so that it works without a display (packaging
    // tools, scripts, a remote terminal).
    if (std::find(arguments.begin() + 1, arguments.end(), "--version") != arguments.end()) {
        std::cout << "velmora " << velmora::versionText << '\n';
        return std::cout.flush() ? 0 : 1;
    }

    // Without a display Qt would abort with its own English message; say it plainly instead.
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
    // Calls announced by velmora-admin llamada and by the caller-ID modem of the settings.
    velmora::IncomingCalls calls(velmora.store(), velmora::IncomingCalls::standardSocketFolder());
    velmora.show();
    return QApplication::exec();
}
