#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Uuid.hpp>
#include <PizzaCore/Models/Session.hpp>
#endif

#include <QAbstractListModel>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QLabel;
class QHBoxLayout;
class QListView;
class QPushButton;
class QScrollArea;

namespace velmora {

class AppStore;
class ClosingReports;
class RowActionsDelegate;

// Every shift, newest first, with the figures stored at its close or, while open, the live ones.
class SessionsModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        StateRole = Qt::UserRole + 1, // "Abierto" or "Cerrado · reason"
        HoursRole,                    // "12:00 → 16:30" or "12:00 → ahora"
        SalesRole,
        ReceiptsRole,
        UnpaidRole,
        SplitRole, // "Efectivo: … · Tarjeta: …", the shift's receipts by method
    };

    explicit SessionsModel(const AppStore& store, QObject* parent = nullptr);

    void refresh();
    // The shift shown on `row` and its business day.
    pizzacore::Uuid session(int row) const;
    std::string businessDay(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        pizzacore::Uuid id;
        std::string businessDay;
        QString day, state, hours, sales, receipts, unpaid, split;
    };

    const AppStore& store_;
    std::vector<Row> rows_;
};

// The "Jornadas" section: the business day of the open shift with its tiles, the next automatic
// closing, the manual close of the shift, the closing reports of the open shift and its day, and
// the history of every shift with the reports of each shift and of its day. The view's closing
// reports also print each shift's report as it closes when the settings ask for it.
class SessionsView : public QWidget {
    Q_OBJECT
public:
    // The buttons of each shift in the history, in order.
    static const QString printReportLabel;
    static const QString previewReportLabel;
    static const QString printDayReportLabel;

    explicit SessionsView(AppStore& store, QWidget* parent = nullptr);

    // The tiles' amounts in order: sales, receipts, unpaid, cash, card.
    QStringList tiles() const;
    QString dayTitle() const;
    QString nextClosing() const;
    bool showsCurrentDay() const;
    QListView& history() const { return *history_; }
    SessionsModel& model() const { return *model_; }
    RowActionsDelegate& historyActions() const { return *delegate_; }
    ClosingReports& reports() const { return *reports_; }

    // "Cerrar tramo de caja ahora": asks, then closes the shift that was open when pressed.
    void closeShift();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeCurrentDay(QWidget* page);
    QListView* makeHistory(QWidget* page);
    QHBoxLayout* makeReportRow(QWidget* parent);
    const pizzacore::Session* openSession() const;

    void refresh();
    // The history is given the whole visible height, so that scrolling down to it shows as many
    // shifts as the screen holds.
    void fitHistory();
    void documentChanged();

    AppStore& store_;
    QWidget* currentDay_ = nullptr;
    QLabel* dayTitle_ = nullptr;
    std::vector<QLabel*> tiles_;
    QLabel* nextClosing_ = nullptr;
    QPushButton* close_ = nullptr;
    QListView* history_ = nullptr;
    SessionsModel* model_;
    ClosingReports* reports_;
    RowActionsDelegate* delegate_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    std::optional<pizzacore::Uuid> closing_;
    bool stale_ = true;
};

} // namespace velmora
