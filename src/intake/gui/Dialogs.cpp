#include "Dialogs.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPushButton>

#include <deque>

namespace ordana::gui {

namespace {

struct MessageBoxScript {
    bool testMode = false;
    std::deque<MessageBox::Answer> answers;
    std::vector<MessageBox::Shown> shown;
};

MessageBoxScript& boxScript() {
    static MessageBoxScript script;
    return script;
}

struct FileDialogScript {
    bool testMode = false;
    std::deque<std::optional<QString>> answers;
    std::vector<FileDialog::Request> requests;
};

FileDialogScript& fileScript() {
    static FileDialogScript script;
    return script;
}

// A command in progress shows the busy cursor; a box waiting for the user must not.
class ArrowWhileAsking {
  public:
    ArrowWhileAsking() : active_(QGuiApplication::overrideCursor() != nullptr) {
        if (active_) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileAsking() {
        if (active_) QGuiApplication::restoreOverrideCursor();
    }
    ArrowWhileAsking(const ArrowWhileAsking&) = delete;
    ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;

  private:
    bool active_;
};

// The platform's (possibly translated) text of a standard button.
QString standardText(QDialogButtonBox::StandardButton button) {
    QDialogButtonBox box;
    return box.addButton(button)->text();
}

QDialogButtonBox::StandardButton standardButton(MessageBox::Answer answer) {
    switch (answer) {
    case MessageBox::Abort:
        return QDialogButtonBox::Abort;
    case MessageBox::Retry:
        return QDialogButtonBox::Retry;
    case MessageBox::Ignore:
        return QDialogButtonBox::Ignore;
    case MessageBox::Ok:
        break;
    }
    return QDialogButtonBox::Ok;
}

} // namespace

MessageBox::Answer MessageBox::show(QWidget* parent, const QString& text, const QString& caption,
                                    Buttons buttons) {
    // CR LF is the documented line break; Qt breaks lines on LF alone.
    QString display = text;
    display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    QMessageBox box(parent);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(display);

    const std::vector<Answer> order =
        buttons == AbortRetryIgnore ? std::vector<Answer>{Abort, Retry, Ignore} : std::vector<Answer>{Ok};
    // Action roles keep the order given on every platform layout (Abort, Retry, Ignore as documented).
    std::vector<std::pair<QPushButton*, Answer>> added;
    for (Answer answer : order) {
        QPushButton* button =
            order.size() == 1 ? box.addButton(standardText(standardButton(answer)), QMessageBox::AcceptRole)
                              : box.addButton(standardText(standardButton(answer)), QMessageBox::ActionRole);
        added.emplace_back(button, answer);
    }
    box.setDefaultButton(added.front().first);
    // A single OK also answers Esc and the close box; Abort/Retry/Ignore demand one of the three.
    if (order.size() == 1) box.setEscapeButton(added.front().first);

    Shown record;
    record.text = text;
    record.caption = box.windowTitle();
    record.icon = box.icon();
    for (const auto& [button, answer] : added) {
        record.buttons.push_back(answer);
        if (button == box.defaultButton()) record.defaultButton = answer;
    }

    MessageBoxScript& script = boxScript();
    if (script.testMode) {
        script.shown.push_back(record);
        if (script.answers.empty()) return record.defaultButton;
        const Answer next = script.answers.front();
        script.answers.pop_front();
        return next;
    }

    ArrowWhileAsking arrow;
    box.exec();
    for (const auto& [button, answer] : added)
        if (box.clickedButton() == button) return answer;
    return record.defaultButton;
}

void MessageBox::setNextAnswer(Answer answer) {
    boxScript().testMode = true;
    boxScript().answers.push_back(answer);
}

void MessageBox::setTestMode(bool on) {
    boxScript().testMode = on;
}

const std::vector<MessageBox::Shown>& MessageBox::shown() {
    return boxScript().shown;
}

void MessageBox::reset() {
    const bool testMode = boxScript().testMode;
    boxScript() = MessageBoxScript{};
    boxScript().testMode = testMode;
}

std::optional<QString> FileDialog::getOpenFileName(QWidget* parent, const QString& title,
                                                   const QStringList& filters) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());

    FileDialogScript& script = fileScript();
    if (script.testMode) {
        script.requests.push_back(
            {dialog.windowTitle(), filters, dialog.nameFilters(), dialog.selectedNameFilter()});
        if (script.answers.empty()) return std::nullopt;
        const std::optional<QString> next = script.answers.front();
        script.answers.pop_front();
        return next;
    }

    ArrowWhileAsking arrow;
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

void FileDialog::setNextFileName(const QString& path) {
    fileScript().testMode = true;
    fileScript().answers.emplace_back(path);
}

void FileDialog::setNextCancel() {
    fileScript().testMode = true;
    fileScript().answers.emplace_back(std::nullopt);
}

void FileDialog::setTestMode(bool on) {
    fileScript().testMode = on;
}

const std::vector<FileDialog::Request>& FileDialog::requests() {
    return fileScript().requests;
}

void FileDialog::reset() {
    const bool testMode = fileScript().testMode;
    fileScript() = FileDialogScript{};
    fileScript().testMode = testMode;
}

} // namespace ordana::gui
