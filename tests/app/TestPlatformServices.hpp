#pragma once

// Panels and alerts answered in advance, so that app tests never wait on a modal dialog. Each
// panel or alert takes the oldest answer queued for its kind and records what it was asked and
// the widget it was opened from (its parent); one that finds no answer queued is cancelled (and
// still recorded).

#include <Velmora/Platform/PlatformServices.hpp>

#include <deque>
#include <filesystem>
#include <optional>
#include <vector>

namespace velmora::testing {

class TestPlatformServices : public PlatformServices {
public:
    struct SavePanel {
        QString title;
        QString proposedName;
        FileKind kind;
        const QWidget* parent = nullptr;
    };
    struct OpenPanel {
        QString title;
        FileKind kind;
        const QWidget* parent = nullptr;
    };
    struct Alert : Confirmation {
        const QWidget* parent = nullptr;
    };
    struct PrintDialog : PrintRequest {
        const QWidget* parent = nullptr;
    };

    // The next save panel returns `path`; nothing means the user cancels it.
    void answerNextSavePanel(std::optional<std::filesystem::path> path) {
        savePanelAnswers_.push_back(std::move(path));
    }
    // The next open panel returns `path`; nothing means the user cancels it.
    void answerNextOpenPanel(std::optional<std::filesystem::path> path) {
        openPanelAnswers_.push_back(std::move(path));
    }
    // The next alert is answered with the button titled `button`; an alert without such a button,
    // or nothing here, is dismissed without a choice.
    void answerNextAlert(std::optional<QString> button) { alertAnswers_.push_back(std::move(button)); }
    // The next print dialog is answered with `choice`; nothing means the user cancels it.
    void answerNextPrintDialog(std::optional<PrintChoice> choice) {
        printAnswers_.push_back(std::move(choice));
    }
    // The next print dialog is confirmed as it opens: the printer it proposes, `copies` copies.
    void confirmNextPrintDialog(int copies = 1) { printAnswers_.push_back(PrintChoice{QString(), copies}); }
    // What opening a file or folder with the default application reports from now on.
    void setOpenSucceeds(bool succeeds) { openSucceeds_ = succeeds; }

    const std::vector<SavePanel>& savePanels() const { return savePanels_; }
    const std::vector<OpenPanel>& openPanels() const { return openPanels_; }
    const std::vector<Alert>& alerts() const { return alerts_; }
    const std::vector<PrintDialog>& printDialogs() const { return printDialogs_; }
    const std::vector<std::filesystem::path>& opened() const { return opened_; }
    // Answers queued that no panel or alert has taken yet.
    std::size_t unusedAnswers() const {
        return savePanelAnswers_.size() + openPanelAnswers_.size() + alertAnswers_.size() +
               printAnswers_.size();
    }

    std::optional<std::filesystem::path> chooseSaveLocation(const QString& title, const QString& proposedName,
                                                            FileKind kind, QWidget* parent) override {
        savePanels_.push_back({title, proposedName, kind, parent});
        return take(savePanelAnswers_).value_or(std::nullopt);
    }

    std::optional<std::filesystem::path> chooseFileToOpen(const QString& title, FileKind kind,
                                                          QWidget* parent) override {
        openPanels_.push_back({title, kind, parent});
        return take(openPanelAnswers_).value_or(std::nullopt);
    }

    std::optional<int> confirm(const Confirmation& confirmation, QWidget* parent) override {
        alerts_.push_back({confirmation, parent});
        const std::optional<QString> button = take(alertAnswers_).value_or(std::nullopt);
        if (!button) return std::nullopt;
        const qsizetype index = confirmation.buttons.indexOf(*button);
        if (index < 0) return std::nullopt;
        return static_cast<int>(index);
    }

    std::optional<PrintChoice> choosePrinter(const PrintRequest& request, QWidget* parent) override {
        printDialogs_.push_back({request, parent});
        std::optional<PrintChoice> choice = take(printAnswers_).value_or(std::nullopt);
        if (choice && choice->printer.isEmpty()) choice->printer = request.printer;
        return choice;
    }

    bool openWithDefaultApplication(const std::filesystem::path& path) override {
        opened_.push_back(path);
        return openSucceeds_;
    }

private:
    template <class T>
    static std::optional<T> take(std::deque<T>& answers) {
        if (answers.empty()) return std::nullopt;
        T answer = std::move(answers.front());
        answers.pop_front();
        return answer;
    }

    std::deque<std::optional<std::filesystem::path>> savePanelAnswers_;
    std::deque<std::optional<std::filesystem::path>> openPanelAnswers_;
    std::deque<std::optional<QString>> alertAnswers_;
    std::deque<std::optional<PrintChoice>> printAnswers_;
    bool openSucceeds_ = true;

    std::vector<SavePanel> savePanels_;
    std::vector<OpenPanel> openPanels_;
    std::vector<Alert> alerts_;
    std::vector<PrintDialog> printDialogs_;
    std::vector<std::filesystem::path> opened_;
};

} // namespace velmora::testing
