#pragma once

// Message boxes and the open-file dialog behind one small seam each: a test scripts the next answers and
// reads back what would have been shown; the window code never calls QMessageBox or QFileDialog itself.

#include "ui/View.h"

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QWidget;

namespace ordana::qt {

class MessageBox {
  public:
    // The answers and buttons of the toolkit-free logic.
    using Answer = ui::Answer;
    using Buttons = ui::Buttons;
    static constexpr Answer Ok = ui::Ok, Abort = ui::Abort, Retry = ui::Retry, Ignore = ui::Ignore;
    static constexpr Buttons OkOnly = Buttons::OkOnly, AbortRetryIgnore = Buttons::AbortRetryIgnore;

    struct Shown {
        QString text;   // exactly as given, line breaks included
        QString detail; // the informative text beneath it, or empty
        QString caption;
        std::vector<Answer> buttons; // in the order they stand in the box
        Answer defaultButton = Ok;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    // A modal box without icon whose first button is the default; returns the button chosen. The detail, when
    // given, stands beneath the text in the box's smaller informative type. The box is wide enough for its
    // caption in the title bar.
    static Answer show(QWidget* parent, const QString& text, const QString& caption, Buttons buttons,
                       const QString& detail = {});

    // The narrowest a box may be so that the window manager's title bar shows the whole caption.
    static int minimumWidthFor(const QString& caption);

    // Test seam: once an answer is queued (or test mode is set), boxes are built and recorded but never
    // shown; each takes the next queued answer, or its default button when the queue is empty.
    static void setNextAnswer(Answer answer);
    static void setTestMode(bool on);
    static const std::vector<Shown>& shown();
    static void reset();
};

class FileDialog {
  public:
    struct Request {
        QString title;
        QStringList filters;      // as given
        QStringList shownFilters; // as the dialog holds them: Qt collapses repeated blanks
        QString selectedFilter;
    };

    // The texts of the dialog that Qt lets a program set, in Romanian.
    static QString labelText(int label); // a QFileDialog::DialogLabel

    // The chosen file's full path, or nothing when the user cancelled.
    static std::optional<QString> getOpenFileName(QWidget* parent, const QString& title,
                                                  const QStringList& filters);

    // Test seam, as for MessageBox; with nothing queued a scripted dialog is cancelled.
    static void setNextFileName(const QString& path);
    static void setNextCancel();
    static void setTestMode(bool on);
    static const std::vector<Request>& requests();
    static void reset();
};

} // namespace ordana::qt
