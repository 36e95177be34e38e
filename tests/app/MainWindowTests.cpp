#include <Velmora/App/DataDirectory.hpp>
#include <Velmora/Views/MainWindow.hpp>

#include <QLabel>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace velmora;

TEST(MainWindow, OpensTitledVelmoraAndShowsTheDataFolder) {
    MainWindow window("/tmp/velmora-datos");
    window.show();
    EXPECT_EQ(window.windowTitle(), "Velmora");
    auto* folder = window.findChild<QLabel*>("dataFolder");
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->text().contains("/tmp/velmora-datos"));
}

TEST(DataDirectory, TheEnvironmentVariableWins) {
    const char* previous = std::getenv("VELMORA_DATA_DIR");
    std::string saved = previous ? previous : "";
    setenv("VELMORA_DATA_DIR", "/srv/pizzeria", 1);
    EXPECT_EQ(dataDirectory(), std::filesystem::path("/srv/pizzeria"));
    unsetenv("VELMORA_DATA_DIR");
    EXPECT_EQ(dataDirectory().filename(), "Velmora");
    if (previous) setenv("VELMORA_DATA_DIR", saved.c_str(), 1);
}
