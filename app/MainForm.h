#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include "app/ConvertCommand.h"

QT_BEGIN_NAMESPACE
class QDragEnterEvent;
class QDropEvent;
class QEvent;
class QFileDialog;
class QLabel;
class QLineEdit;
class QObject;
class QPushButton;
class QToolButton;
class QTranslator;
QT_END_NAMESPACE

// The window of the program: the two names, the browse and convert commands,
// the message boxes and the standard error display.
namespace trimeld {

/// The modal dialogs the window shows. The program uses TQtDialogs; tests
/// substitute one that records what would be shown instead of blocking.
class TDialogs {
public:
    virtual ~TDialogs() = default;
    /// A modal message box with the text, the caption, one OK button and the
    /// icon (QMessageBox::NoIcon for none), owned by owner (may be null).
    virtual void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                             QMessageBox::Icon icon) = 0;
    /// Shows the prepared open-file dialog modally. Returns the full path of
    /// the chosen file, or nothing when the user cancelled.
    [[nodiscard]] virtual std::optional<QString> ChooseFile(QFileDialog& dialog) = 0;
};

/// The dialogs of the toolkit: a QMessageBox and the QFileDialog as given.
class TQtDialogs final : public TDialogs {
public:
    void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                     QMessageBox::Icon icon) override;
    std::optional<QString> ChooseFile(QFileDialog& dialog) override;
};

/// The standard error display: a failure's text with a final "." where the
/// text ends in a character above ".", the application title as caption, an
/// OK button and the error icon, owned by the active window.
class TErrorDisplay {
public:
    /// Keeps a reference to dialogs, which must outlive the display.
    TErrorDisplay(TDialogs& aDialogs, std::u16string aTitle)
        : dialogs(aDialogs), title(std::move(aTitle)) {}

    /// Shows TTrimeldError::Message(), or what() of any other exception.
    void Show(const std::exception& error) const;
    [[nodiscard]] const std::u16string& Title() const noexcept { return title; }

private:
    TDialogs& dialogs;
    std::u16string title;
};

/// The application object. It derives the application title from the
/// program file's name when it is created, and shows every failure that
/// escapes the handling of an event in the standard error display.
class TApplication final : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    [[nodiscard]] TDialogs& Dialogs() noexcept { return dialogs; }
    [[nodiscard]] const TErrorDisplay& ErrorDisplay() const noexcept { return errorDisplay; }

private:
    TQtDialogs dialogs;
    TErrorDisplay errorDisplay;
};

/// The main window: a fixed 517x213 client area with the STL and RAW name
/// fields, the browse button and the convert button.
class TfrmMain final : public QWidget {
    Q_OBJECT

public:
    /// Stores itself in frmMain before building its controls, places itself
    /// centred on the desktop, then runs the creation step (a failure there
    /// goes to aErrorDisplay). Both references must outlive the window.
    TfrmMain(TDialogs& aDialogs, const TErrorDisplay& aErrorDisplay, QWidget* parent = nullptr);
    ~TfrmMain() override;

    /// Takes an STL file named from outside the window (the command line, a
    /// drop): the STL field gets its full path, the RAW field the name the
    /// browse command would propose. Nothing is converted.
    void ProposeNames(const QString& stlName);

    /// How the run creates the RAW file; the platform's by default. Tests
    /// substitute one to watch the window while a run is under way.
    void SetOutputOpener(platform::TOutputOpener opener);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    /// The convert command: checks the names, runs, reports. A failure of
    /// the run passes through unchanged.
    void cmdRunConversionClick();
    /// The browse command: picks the STL file and proposes the RAW name.
    void sbOpenSourceClick();
    /// The creation step: sets the caption through frmMain.
    void FormCreate();
    /// One conversion run on the current contents of the two fields.
    void DoConversion();

    /// Runs a handler, showing whatever escapes it in the error display:
    /// an exception must not leave a slot.
    template <typename TAction> void Guarded(TAction&& action) {
        try {
            std::forward<TAction>(action)();
        } catch (const std::exception& error) {
            errorDisplay.Show(error);
        }
    }
    void ShowCommandMessage(std::u16string_view text);
    /// Builds the open-file dialog for the next showing from what the last
    /// confirmed showing left.
    void NewOpenDialog();
    /// Centres the window with its frame, once more each time the window
    /// system makes the frame's size known or changes it.
    void CentreWithFrame();

    QPushButton* cmdRunConversion = nullptr;
    QLineEdit* txtFileIn = nullptr;
    QLineEdit* txtFileOut = nullptr;
    QToolButton* sbOpenSource = nullptr;
    QFileDialog* OpenDialog = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;

    TDialogs& dialogs;
    const TErrorDisplay& errorDisplay;
    QString openNameFilter; ///< the file type at the last confirmed showing
    QString openFileName;   ///< the file chosen at the last confirmed showing
    QSize centredFrame;     ///< the frame size the window was last centred with
    TRunOptions runOptions{};
};

/// The one main window; set by its constructor. Non-owning.
extern TfrmMain* frmMain;

namespace detail {

/// The body of TApplication::notify: app's own QApplication::notify, with
/// any std::exception it lets out shown in display (and false returned).
bool NotifyShowingErrors(QApplication& app, QObject* receiver, QEvent* event,
                         const TErrorDisplay& display);

/// The directory part of a name: everything up to and including its last
/// "/", or empty when it has none.
[[nodiscard]] std::u16string DirectoryPart(std::u16string_view fileName);

/// The folder the open-file dialog starts in for an STL name: its directory
/// part without the final "/", except for the root "/" itself. Empty means
/// the dialog's own choice.
[[nodiscard]] std::u16string InitialFolder(std::u16string_view stlName);

/// The dialog's file types from a filter text of "|"-separated description
/// and pattern pairs, as Qt name filters ("Description (patterns)"). "*.*"
/// becomes "*", which matches every name here, dots or not.
[[nodiscard]] QStringList NameFilters(std::u16string_view filterText);

/// Where a window of frameSize goes to be centred on desktop, never left of
/// or above its top-left corner.
[[nodiscard]] QPoint CentredPosition(const QRect& desktop, const QSize& frameSize);

/// The STL name a drop carries: the local path of its one URL, unless that
/// names a folder. Nothing for anything else (no URL, several, a remote one).
[[nodiscard]] std::optional<QString> DroppedStlName(const QList<QUrl>& urls);

/// Loads the toolkit's own Polish texts (file dialog, standard buttons)
/// from folder and installs them in app. Returns the installed translator,
/// owned by app, or null when folder holds no Polish translation.
QTranslator* InstallToolkitTranslation(QCoreApplication& app, const QString& folder);

} // namespace detail
} // namespace trimeld
