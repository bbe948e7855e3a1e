#include "app/MainForm.h"

#include <algorithm>
#include <limits>
#include <memory>

#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTranslator>

#include "geometry/CommonTypes.h"
#include "platform/Files.h"

namespace trimeld {
namespace {

constexpr char16_t cCAPTION_VERSION_OPEN[] = u" (wer.: ";
constexpr char16_t cCAPTION_VERSION_CLOSE[] = u")";
constexpr char16_t cLABEL_STL[] = u"PlikSTL:";
constexpr char16_t cLABEL_RAW[] = u"Plik RAW:";
constexpr char16_t cOPEN_SOURCE_TEXT[] = u"...";
constexpr char16_t cRUN_CONVERSION_TEXT[] = u"Konwertuj";
constexpr char16_t cOPEN_FILTER[] = u"STL |*.stl|*.*|*.*";

constexpr char cICON[] = ":/trimeld.svg";
constexpr char cFONT_FAMILY[] = "MS Sans Serif";
constexpr int cFONT_PIXEL_HEIGHT = 11;
constexpr int cCLIENT_WIDTH = 517;
constexpr int cCLIENT_HEIGHT = 213;

QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

// The owner of a message box: the active window, as long as there is one.
QWidget* MessageOwner() {
    if (QWidget* active = QApplication::activeWindow())
        return active;
    return frmMain;
}

// The wait cursor for as long as it lives, over every window of the program.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

bool IsEnterKey(const QKeyEvent& key) {
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) &&
           (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

TfrmMain* frmMain = nullptr;

void TQtDialogs::ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                             QMessageBox::Icon icon) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    // File names may hold "<": the text must never be taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::optional<QString> TQtDialogs::ChooseFile(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return files.first();
}

void TErrorDisplay::Show(const std::exception& error) const {
    dialogs.ShowMessage(MessageOwner(), ToQString(WithFullStop(FailureText(error))),
                        ToQString(title), QMessageBox::Critical);
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      errorDisplay(dialogs, ApplicationTitle(platform::ProgramFileName())) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    return detail::NotifyShowingErrors(*this, receiver, event, errorDisplay);
}

TfrmMain::TfrmMain(TDialogs& aDialogs, const TErrorDisplay& aErrorDisplay, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      dialogs(aDialogs), errorDisplay(aErrorDisplay) {
    // Start-up keeps the window in frmMain before it is built, and the
    // creation step reaches the window only through it.
    frmMain = this;

    QFont font(QString::fromLatin1(cFONT_FAMILY));
    font.setPixelSize(cFONT_PIXEL_HEIGHT);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setFixedSize(cCLIENT_WIDTH, cCLIENT_HEIGHT);
    setWindowIcon(QIcon(QString::fromLatin1(cICON)));
    setAcceptDrops(true);

    cmdRunConversion = new QPushButton(ToQString(cRUN_CONVERSION_TEXT), this);
    cmdRunConversion->setObjectName(QStringLiteral("cmdRunConversion"));
    cmdRunConversion->setGeometry(32, 142, 449, 43);
    // Enter in a text field must not press it; Enter on the button itself
    // does, through the event filter.
    cmdRunConversion->setAutoDefault(false);
    cmdRunConversion->setDefault(false);
    cmdRunConversion->installEventFilter(this);

    txtFileIn = new QLineEdit(this);
    txtFileIn->setObjectName(QStringLiteral("txtFileIn"));
    txtFileIn->setGeometry(64, 32, 373, 21);
    txtFileIn->setMaxLength(std::numeric_limits<int>::max());

    txtFileOut = new QLineEdit(this);
    txtFileOut->setObjectName(QStringLiteral("txtFileOut"));
    txtFileOut->setGeometry(64, 59, 373, 21);
    txtFileOut->setMaxLength(std::numeric_limits<int>::max());
    // A file dropped on a field counts as dropped on the window.
    txtFileIn->installEventFilter(this);
    txtFileOut->installEventFilter(this);

    sbOpenSource = new QToolButton(this);
    sbOpenSource->setObjectName(QStringLiteral("sbOpenSource"));
    sbOpenSource->setText(ToQString(cOPEN_SOURCE_TEXT));
    sbOpenSource->setGeometry(440, 31, 23, 22);
    sbOpenSource->setFocusPolicy(Qt::NoFocus);

    NewOpenDialog();

    // The labels take the size of their text.
    Label1 = new QLabel(ToQString(cLABEL_STL), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 32);
    Label1->adjustSize();

    Label2 = new QLabel(ToQString(cLABEL_RAW), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(8, 62);
    Label2->adjustSize();

    setTabOrder(cmdRunConversion, txtFileIn);
    setTabOrder(txtFileIn, txtFileOut);
    cmdRunConversion->setFocus();

    connect(cmdRunConversion, &QPushButton::clicked, this,
            [this] { Guarded([this] { cmdRunConversionClick(); }); });
    connect(sbOpenSource, &QToolButton::clicked, this,
            [this] { Guarded([this] { sbOpenSourceClick(); }); });

    // Placed before the platform window exists, the position is taken as the
    // frame's, so the window manager puts the frame's corner there. The
    // frame's size is not known yet: CentreWithFrame runs again once it is.
    CentreWithFrame();

    Guarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::ProposeNames(const QString& stlName) {
    const std::u16string fullName = platform::ExpandFileName(stlName.toStdU16String());
    txtFileIn->setText(ToQString(fullName));
    txtFileOut->setText(ToQString(ChangeFileExtToRaw(fullName)));
}

void TfrmMain::SetOutputOpener(platform::TOutputOpener opener) {
    runOptions.opener = std::move(opener);
}

bool TfrmMain::event(QEvent* event) {
    // A window manager tells the frame only after the window is shown; the
    // move it makes then, or the showing itself, brings the news.
    if (event->type() == QEvent::Show || event->type() == QEvent::Move)
        CentreWithFrame();
    return QWidget::event(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == cmdRunConversion && event->type() == QEvent::KeyPress) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        // A held key must not run the conversion again behind its message.
        if (IsEnterKey(key) && !key.isAutoRepeat()) {
            cmdRunConversion->click();
            return true;
        }
        return false;
    }
    if (watched == txtFileIn || watched == txtFileOut) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            // Text dragged between the fields stays the fields' own business.
            auto& drop = static_cast<QDropEvent&>(*event);
            if (drop.mimeData() == nullptr || !drop.mimeData()->hasUrls())
                return false;
            if (event->type() == QEvent::Drop)
                dropEvent(&drop);
            else if (detail::DroppedStlName(drop.mimeData()->urls()))
                drop.acceptProposedAction();
            else
                drop.ignore();
            return true;
        }
        default:
            return false;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData() != nullptr && detail::DroppedStlName(event->mimeData()->urls()))
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const std::optional<QString> name = event->mimeData() != nullptr
                                            ? detail::DroppedStlName(event->mimeData()->urls())
                                            : std::nullopt;
    if (!name) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    ProposeNames(*name);
}

void TfrmMain::cmdRunConversionClick() {
    const TNameCheck check =
        CheckNames(txtFileIn->text().toStdU16String(), txtFileOut->text().toStdU16String());
    if (check != TNameCheck::Ok) {
        ShowCommandMessage(CheckMessage(check));
        return;
    }
    {
        // Gone before any message box, also when the run fails.
        const TWaitCursor wait;
        DoConversion();
    }
    ShowCommandMessage(CheckMessage(TNameCheck::Ok));
}

void TfrmMain::sbOpenSourceClick() {
    const std::u16string folder = detail::InitialFolder(txtFileIn->text().toStdU16String());
    if (!folder.empty())
        OpenDialog->setDirectory(QDir(ToQString(folder)).absolutePath());

    const std::optional<QString> chosen = dialogs.ChooseFile(*OpenDialog);
    if (chosen) {
        openFileName = *chosen;
        openNameFilter = OpenDialog->selectedNameFilter();
    }
    // A dialog keeps what was typed or picked in it even when cancelled; the
    // next showing starts from the last confirmed choice instead.
    OpenDialog->deleteLater();
    NewOpenDialog();
    if (!chosen)
        return;

    txtFileIn->setText(*chosen);
    txtFileOut->setText(ToQString(ChangeFileExtToRaw(chosen->toStdU16String())));
}

void TfrmMain::FormCreate() {
    frmMain->setWindowTitle(ToQString(std::u16string(AppName) + cCAPTION_VERSION_OPEN +
                                      std::u16string(AppVer) + cCAPTION_VERSION_CLOSE));
}

void TfrmMain::DoConversion() {
    RunConversion(txtFileIn->text().toStdU16String(), txtFileOut->text().toStdU16String(),
                  runOptions);
}

void TfrmMain::ShowCommandMessage(std::u16string_view text) {
    dialogs.ShowMessage(MessageOwner(), ToQString(text), ToQString(AppName), QMessageBox::NoIcon);
}

void TfrmMain::NewOpenDialog() {
    OpenDialog = new QFileDialog(this);
    OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
    // Qt's own dialog: it accepts names of files that do not exist yet.
    OpenDialog->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setFileMode(QFileDialog::AnyFile);
    OpenDialog->setNameFilters(detail::NameFilters(cOPEN_FILTER));
    if (!openNameFilter.isEmpty())
        OpenDialog->selectNameFilter(openNameFilter);
    if (!openFileName.isEmpty())
        OpenDialog->selectFile(openFileName);
}

void TfrmMain::CentreWithFrame() {
    const QSize frame = frameGeometry().size();
    if (frame == centredFrame)
        return;
    centredFrame = frame;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(detail::CentredPosition(screen->virtualGeometry(), frame));
}

namespace detail {

bool NotifyShowingErrors(QApplication& app, QObject* receiver, QEvent* event,
                         const TErrorDisplay& display) {
    try {
        return app.QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        display.Show(error);
        return false;
    }
}

std::u16string DirectoryPart(std::u16string_view fileName) {
    const std::size_t slash = fileName.rfind(u'/');
    if (slash == std::u16string_view::npos)
        return {};
    return std::u16string(fileName.substr(0, slash + 1));
}

std::u16string InitialFolder(std::u16string_view stlName) {
    std::u16string folder = DirectoryPart(stlName);
    if (folder.size() > 1)
        folder.pop_back();
    return folder;
}

QStringList NameFilters(std::u16string_view filterText) {
    const QStringList parts = ToQString(filterText).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        filters.append(parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return filters;
}

QPoint CentredPosition(const QRect& desktop, const QSize& frameSize) {
    const int left = desktop.left() + (desktop.width() - frameSize.width()) / 2;
    const int top = desktop.top() + (desktop.height() - frameSize.height()) / 2;
    return {std::max(left, desktop.left()), std::max(top, desktop.top())};
}

std::optional<QString> DroppedStlName(const QList<QUrl>& urls) {
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return std::nullopt;
    QString name = urls.first().toLocalFile();
    if (name.isEmpty() || QFileInfo(name).isDir())
        return std::nullopt;
    return name;
}

QTranslator* InstallToolkitTranslation(QCoreApplication& app, const QString& folder) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(QLocale::Polish, QLocale::Poland), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder))
        return nullptr;
    translator->setParent(&app);
    QCoreApplication::installTranslator(translator.get());
    return translator.release();
}

} // namespace detail
} // namespace trimeld
