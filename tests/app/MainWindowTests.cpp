#include <Velmora/Views/MainWindow.hpp>

#include <QLabel>

#include <gtest/gtest.h>

using namespace velmora;

TEST(MainWindow, OpensTitledVelmoraAndShowsTheDataFolder) {
    MainWindow window("/tmp/velmora-datos");
    window.show();
    EXPECT_EQ(window.windowTitle(), "Velmora");
    auto* folder = window.findChild<QLabel*>("dataFolder");
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(folder->text().contains("/tmp/velmora-datos"));
}
