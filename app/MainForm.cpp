#include "app/MainForm.h"

#include <algorithm>
#include <limits>

#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include "app/ConvertCommand.h"
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
    dialogs.ShowMessage(MessageOwner(), ToQString(WithFullStop(FailureText(error))), ToQString(title),
                        QMessageBox::Critical);
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

    cmdRunConversion = new QPushButton(ToQString(cRUN_CONVERSION_TEXT), this);
    cmdRunConversion->setObjectName(QStringLiteral("cmdRunConversion"));
    cmdRunConversion->setGeometry(32, 142, 449, 43);
    // Enter in a text field must not press it.
    cmdRunConversion->setAutoDefault(false);
    cmdRunConversion->setDefault(false);

    txtFileIn = new QLineEdit(this);
    txtFileIn->setObjectName(QStringLiteral("txtFileIn"));
    txtFileIn->setGeometry(64, 32, 373, 21);
    txtFileIn->setMaxLength(std::numeric_limits<int>::max());

    txtFileOut = new QLineEdit(this);
    txtFileOut->setObjectName(QStringLiteral("txtFileOut"));
    txtFileOut->setGeometry(64, 59, 373, 21);
    txtFileOut->setMaxLength(std::numeric_limits<int>::max());

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
    // frame's, so the window manager puts the frame's corner there.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(detail::CentredPosition(screen->virtualGeometry(), frameGeometry().size()));

    Guarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::cmdRunConversionClick() {
    const TNameCheck check =
        CheckNames(txtFileIn->text().toStdU16String(), txtFileOut->text().toStdU16String());
    if (check != TNameCheck::Ok) {
        ShowCommandMessage(CheckMessage(check));
        return;
    }
    DoConversion();
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
    RunConversion(txtFileIn->text().toStdU16String(), txtFileOut->text().toStdU16String());
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

} // namespace detail
} // namespace trimeld
