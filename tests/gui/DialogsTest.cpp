// The real message boxes and the real open-file dialog, shown headless and read back as a user sees them.

#include "app/qt/Dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using ordana::qt::FileDialog;
using ordana::qt::MessageBox;

namespace {

// Shows the dialog that `open` runs modally; `check` gets it once it is up and must close it.
template <class Dialog>
void whileShown(const std::function<void()>& open, const std::function<void(Dialog*)>& check) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog) << "no dialog came up";
        seen = true;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        check(dialog);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the dialog was left open";
            dialog->reject();
        }
    });
    open();
    EXPECT_TRUE(seen);
}

class RealDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        MessageBox::setTestMode(false);
        FileDialog::setTestMode(false);
    }
    void TearDown() override {
        MessageBox::setTestMode(true);
        FileDialog::setTestMode(true);
    }
};

TEST_F(RealDialogs, MessageBoxesShowTheirWholeCaptionAndTheDetailBeneath) {
    const struct {
        const char* caption;
        const char* text;
        const char* detail;
        MessageBox::Buttons buttons;
    } rows[] = {
        {"Deschiderea fisierului Excel", "Parola nu s-a introdus sau e incorecta ",
         "Fisierul /tmp/a.xls nu este un registru Excel 97-2003", MessageBox::OkOnly},
        {"Accesarea  fisierului Excel", "Fisier inaccesibil", "Fisierul /tmp/a.xls nu exista",
         MessageBox::OkOnly},
        {"Eroare la scrierea in fisier", "Unitate inacesibila", "", MessageBox::OkOnly},
        {"Ordana v1.50", "Eroare la inregistrarea unei componente ActiveX", "", MessageBox::AbortRetryIgnore},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.caption);
        MessageBox::Answer answer = MessageBox::Ignore;
        whileShown<QMessageBox>(
            [&] { answer = MessageBox::show(nullptr, r.text, r.caption, r.buttons, r.detail); },
            [&](QMessageBox* box) {
                EXPECT_EQ(box->windowTitle(), r.caption);
                EXPECT_EQ(box->text(), r.text);
                EXPECT_EQ(box->informativeText(), r.detail);
                EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
                // Wider than the caption in a bold title font with room for the title bar's buttons.
                QFont title = box->font();
                title.setBold(true);
                EXPECT_GT(box->frameGeometry().width(), QFontMetrics(title).horizontalAdvance(r.caption) + 60)
                    << box->frameGeometry().width();
                EXPECT_GE(box->width(), MessageBox::minimumWidthFor(r.caption));
                QTest::keyClick(box, Qt::Key_Return); // the first button is the default
            });
        EXPECT_EQ(answer, r.buttons == MessageBox::OkOnly ? MessageBox::Ok : MessageBox::Abort);
    }
}

TEST_F(RealDialogs, FileDialogSpeaksRomanianAndShowsEveryColumnWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fixtures = QStringLiteral(ORDANA_FIXTURES_DIR);
    for (const char* name : {"basic-xlwt.xls", "basic-source.xlsx"})
        ASSERT_TRUE(QFile::copy(fixtures + "/" + name, dir.filePath(name)));
    const QStringList filters = {QStringLiteral("Registre de calcul  (*.xls *.xlsx *.xlsm *.ods)"),
                                 QStringLiteral("Toate fisierele  (*)")};

    const QString before = QDir::currentPath();
    std::optional<QString> chosen = QStringLiteral("not asked");
    whileShown<QFileDialog>(
        [&] {
            QDir::setCurrent(dir.path());
            chosen = FileDialog::getOpenFileName(nullptr, QStringLiteral("Alege fisierul Excel"), filters);
        },
        [&](QFileDialog* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Alege fisierul Excel");
            const struct {
                QFileDialog::DialogLabel label;
                const char* text;
            } labels[] = {{QFileDialog::LookIn, "Cauta in:"},
                          {QFileDialog::FileName, "&Nume fisier:"},
                          {QFileDialog::FileType, "Tip fisiere:"},
                          {QFileDialog::Accept, "&Deschide"},
                          {QFileDialog::Reject, "&Renunta"}};
            for (const auto& l : labels)
                EXPECT_EQ(dialog->labelText(l.label), l.text);
            QStringList buttons;
            for (QAbstractButton* b : dialog->findChild<QDialogButtonBox*>()->buttons())
                buttons << b->text();
            EXPECT_TRUE(buttons.contains("&Deschide") && buttons.contains("&Renunta"))
                << buttons.join(", ").toStdString();

            auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            ASSERT_TRUE(view);
            ASSERT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 2; }));
            QTest::qWait(50); // the model fills in sizes and types after the names
            QStringList headers;
            for (int c = 0; c < 4; ++c) {
                headers << view->model()->headerData(c, Qt::Horizontal).toString();
                // Neither the header nor any row of the column is cut.
                const int margin = 2 * view->style()->pixelMetric(QStyle::PM_HeaderMargin);
                int needed = view->header()->fontMetrics().horizontalAdvance(headers.back()) + margin;
                for (int row = 0; row < 2; ++row) {
                    const QModelIndex cell = view->model()->index(row, c, view->rootIndex());
                    const int icon = c == 0 ? view->iconSize().width() + margin : 0;
                    needed = std::max(needed, view->fontMetrics().horizontalAdvance(cell.data().toString()) +
                                                  icon + margin);
                }
                EXPECT_GE(view->header()->sectionSize(c), needed) << "column " << c;
            }
            EXPECT_EQ(headers, (QStringList{"Nume", "Marime", "Tip", "Data modificarii"}));
            // Neither the texts of the controls nor their tips are left in English.
            for (const QWidget* w : dialog->findChildren<QWidget*>()) {
                const QString text =
                    w->toolTip() + " " +
                    (qobject_cast<const QLabel*>(w) ? qobject_cast<const QLabel*>(w)->text() : QString());
                for (const char* english :
                     {"Look in", "File name", "Files of type", "Back", "Forward", "Parent", "Create", "View"})
                    EXPECT_FALSE(text.contains(english))
                        << w->objectName().toStdString() << ": " << text.toStdString();
            }
            dialog->reject();
        });
    QDir::setCurrent(before);
    EXPECT_FALSE(chosen.has_value()) << "Renunta cancels";
}

} // namespace
