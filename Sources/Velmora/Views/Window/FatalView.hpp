#pragma once

#include <QWidget>

namespace velmora {

class AppStore;

// What the main window shows, alone, when the data could not be opened: why, what to do, and a
// button that opens the data folder. Nothing here can change the data.
class FatalView : public QWidget {
    Q_OBJECT
public:
    explicit FatalView(AppStore& store, QWidget* parent = nullptr);
};

} // namespace velmora
