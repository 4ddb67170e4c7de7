#include "app/qt/Dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSpacerItem>
#include <QSplitter>
#include <QTranslator>
#include <QTreeView>

#include <algorithm>
#include <deque>
#include <map>
#include <utility>

namespace ordana::qt {

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

// Qt ships no Romanian translation of its file dialog; these are its texts in the program's own Romanian,
// without diacritics. Installed only while the dialog is open.
class FileDialogRomanian : public QTranslator {
  public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* /*disambiguation*/,
                      int /*n*/) const override {
        static const std::map<std::pair<QByteArrayView, QByteArrayView>, const char*> table = {
            {{"QFileDialog", "Look in:"}, "Cauta in:"},
            {{"QFileDialog", "File &name:"}, "&Nume fisier:"},
            {{"QFileDialog", "Files of type:"}, "Tip fisiere:"},
            {{"QFileDialog", "&Open"}, "&Deschide"},
            {{"QFileDialog", "Back"}, "Inapoi"},
            {{"QFileDialog", "Go back"}, "Inapoi"},
            {{"QFileDialog", "Forward"}, "Inainte"},
            {{"QFileDialog", "Go forward"}, "Inainte"},
            {{"QFileDialog", "Parent Directory"}, "Dosarul parinte"},
            {{"QFileDialog", "Go to the parent directory"}, "Urca in dosarul parinte"},
            {{"QFileDialog", "Create New Folder"}, "Dosar nou"},
            {{"QFileDialog", "Create a New Folder"}, "Creeaza un dosar nou"},
            {{"QFileDialog", "List View"}, "Lista"},
            {{"QFileDialog", "Change to list view mode"}, "Afiseaza ca lista"},
            {{"QFileDialog", "Detail View"}, "Detalii"},
            {{"QFileDialog", "Change to detail view mode"}, "Afiseaza cu detalii"},
            {{"QFileDialog", "Sidebar"}, "Locuri"},
            {{"QFileDialog", "List of places and bookmarks"}, "Locuri si semne de carte"},
            {{"QFileDialog", "Files"}, "Fisiere"},
            {{"QFileDialog", "All Files (*)"}, "Toate fisierele (*)"},
            {{"QFileDialog", "&Rename"}, "&Redenumeste"},
            {{"QFileDialog", "&Delete"}, "&Sterge"},
            {{"QFileDialog", "Show &hidden files"}, "Arata fisierele &ascunse"},
            {{"QFileDialog", "&New Folder"}, "Dosar &nou"},
            {{"QFileDialog", "New Folder"}, "Dosar nou"},
            {{"QFileDialog", "Open"}, "Deschide"},
            {{"QFileDialog", "Recent Places"}, "Locuri recente"},
            {{"QFileDialog", "%1\nFile not found.\nPlease verify the correct file name was given."},
             "%1\nFisierul nu exista.\nVerificati numele fisierului."},
            {{"QFileDialog", "%1\nDirectory not found.\nPlease verify the correct directory name was given."},
             "%1\nDosarul nu exista.\nVerificati numele dosarului."},
            {{"QFileDialog", "Are you sure you want to delete '%1'?"}, "Sigur stergeti '%1'?"},
            {{"QFileDialog", "Could not delete directory."}, "Dosarul nu poate fi sters."},
            {{"QFileSystemModel", "Name"}, "Nume"},
            {{"QFileSystemModel", "Size"}, "Marime"},
            {{"QFileSystemModel", "Type"}, "Tip"},
            {{"QFileSystemModel", "Kind"}, "Tip"},
            {{"QFileSystemModel", "Date Modified"}, "Data modificarii"},
            {{"QFileSystemModel", "My Computer"}, "Calculatorul"},
            {{"QFileSystemModel", "Computer"}, "Calculatorul"},
            {{"QAbstractFileIconProvider", "Folder"}, "Dosar"},
            {{"QAbstractFileIconProvider", "Drive"}, "Unitate"},
            {{"QAbstractFileIconProvider", "File"}, "Fisier"},
            {{"QAbstractFileIconProvider", "%1 File"}, "Fisier %1"},
        };
        const auto found = table.find({QByteArrayView(context), QByteArrayView(source)});
        return found == table.end() ? QString() : QString::fromUtf8(found->second);
    }
};

// Installs the dialog's Romanian for as long as it lives.
class ScopedTranslator {
  public:
    explicit ScopedTranslator(QTranslator* translator) : translator_(translator) {
        QCoreApplication::installTranslator(translator_);
        // Delivered now, before the dialog sets its own labels, which a later delivery would undo.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
    }
    ~ScopedTranslator() { QCoreApplication::removeTranslator(translator_); }
    ScopedTranslator(const ScopedTranslator&) = delete;
    ScopedTranslator& operator=(const ScopedTranslator&) = delete;

  private:
    QTranslator* translator_;
};

// Opens at a size where the places and every column show whole: a detail view sized by the font in use.
void sizeFileDialog(QFileDialog& dialog) {
    const QFontMetrics fm(dialog.font());
    const int pad = fm.averageCharWidth() * 4;
    const int places = fm.horizontalAdvance(QStringLiteral("Calculatorul")) + fm.height() * 3;
    const int name = fm.averageCharWidth() * 36;
    const int size = fm.horizontalAdvance(QStringLiteral("1023,99 KiB")) + pad;
    const int type = fm.horizontalAdvance(QStringLiteral("Microsoft Excel 2007 Worksheet")) + pad;
    const int date = fm.horizontalAdvance(QStringLiteral("07.12.2026 15:16:59")) + pad;
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        view->header()->setStretchLastSection(false);
        view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        view->header()->resizeSection(1, size);
        view->header()->resizeSection(2, type);
        view->header()->resizeSection(3, date);
    }
    if (auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({places, name + size + type + date});
    dialog.resize(places + name + size + type + date + fm.height() * 5, fm.height() * 30);
}

} // namespace

int MessageBox::minimumWidthFor(const QString& caption) {
    // The window manager draws the caption in its own title font, usually bold, beside its buttons (an icon,
    // minimise, maximise, close): measure with the platform's title font and leave room for five of them.
    QFont title = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    title.setBold(true);
    const QFontMetrics fm(title);
    return fm.horizontalAdvance(caption) + 5 * (fm.height() + 8);
}

MessageBox::Answer MessageBox::show(QWidget* parent, const QString& text, const QString& caption,
                                    Buttons buttons, const QString& detail) {
    // CR LF is the documented line break; Qt breaks lines on LF alone.
    QString display = text;
    display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

    QMessageBox box(parent);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(display);
    if (!detail.isEmpty()) box.setInformativeText(detail);
    // QMessageBox sizes itself by its text alone; a spacer across the bottom of its grid sets the floor.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(minimumWidthFor(caption), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());

    const std::vector<Answer> order = ui::buttonsOf(buttons);
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
    record.detail = box.informativeText();
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
    FileDialogRomanian romanian;
    const ScopedTranslator translated(&romanian);
    // Qt's own dialog: its texts can be set, a platform's native one may not let us.
    QFileDialog dialog(parent, title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // After the modes: choosing the accept mode builds the buttons afresh.
    for (QFileDialog::DialogLabel label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType,
                                           QFileDialog::Accept, QFileDialog::Reject})
        dialog.setLabelText(label, labelText(label));
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());
    sizeFileDialog(dialog);

    FileDialogScript& script = fileScript();
    if (script.testMode) {
        script.requests.push_back(
            {dialog.windowTitle(), filters, dialog.nameFilters(), dialog.selectedNameFilter()});
        if (script.answers.empty()) return std::nullopt;
        // Const on purpose: GCC 12 reports a moved-from optional as maybe uninitialised.
        const std::optional<QString> next = script.answers.front();
        script.answers.pop_front();
        return next; // NOLINT(performance-no-automatic-move)
    }

    ArrowWhileAsking arrow;
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

QString FileDialog::labelText(int label) {
    switch (label) {
    case QFileDialog::LookIn:
        return QStringLiteral("Cauta in:");
    case QFileDialog::FileName:
        return QStringLiteral("&Nume fisier:");
    case QFileDialog::FileType:
        return QStringLiteral("Tip fisiere:");
    case QFileDialog::Accept:
        return QStringLiteral("&Deschide");
    case QFileDialog::Reject:
        return QStringLiteral("&Renunta");
    default:
        return {};
    }
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

} // namespace ordana::qt
