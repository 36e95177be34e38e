#include <PizzaCore/Persistence/DataDirectory.hpp>
#include <Velmora/Views/MainWindow.hpp>

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora");
    velmora::MainWindow window(pizzacore::dataDirectory());
    window.show();
    return QApplication::exec();
}
