#include "app/MainForm.h"
#include "app/ConvertCommand.h"

#include <algorithm>
#include <bit>
#include <csignal>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCursor>
#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QList>
#include <QMap>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QUrl>
#include <QtEndian>
#include <QtTest>

#include "geometry/CommonTypes.h"

namespace trimeld::detail {
namespace {

struct TShownMessage {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    bool waitCursor; ///< the wait cursor was up when the box came
};

bool WaitCursorShown() {
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

// Stands in for the real dialogs: records each message box, and answers the
// open-file dialog with whatever the test put in answer.
class TRecordingDialogs final : public TDialogs {
public:
    void ShowMessage(QWidget*, const QString& text, const QString& caption,
                     QMessageBox::Icon icon) override {
        messages.append({text, caption, icon, WaitCursorShown()});
    }
    std::optional<QString> ChooseFile(QFileDialog& dialog) override {
        ++showings;
        shownFolder = dialog.directory().absolutePath();
        shownFilter = dialog.selectedNameFilter();
        shownFiles = dialog.selectedFiles();
        return answer ? answer(dialog) : std::nullopt;
    }

    QList<TShownMessage> messages;
    std::function<std::optional<QString>(QFileDialog&)> answer;
    int showings = 0;
    QString shownFolder;
    QString shownFilter;
    QStringList shownFiles;
};

// One main window on the given dialogs, with the error display of a program
// file named "trimeld".
class TWindow {
public:
    explicit TWindow(TDialogs& dialogs) : errors(dialogs, u"trimeld"), form(dialogs, errors) {}

    [[nodiscard]] bool Show() {
        form.show();
        return QTest::qWaitForWindowActive(&form);
    }
    QPushButton* Button() {
        return form.findChild<QPushButton*>(QStringLiteral("cmdRunConversion"));
    }
    QLineEdit* StlField() { return form.findChild<QLineEdit*>(QStringLiteral("txtFileIn")); }
    QLineEdit* RawField() { return form.findChild<QLineEdit*>(QStringLiteral("txtFileOut")); }
    QToolButton* Browse() { return form.findChild<QToolButton*>(QStringLiteral("sbOpenSource")); }
    QFileDialog* OpenDialog() { return form.findChild<QFileDialog*>(QStringLiteral("OpenDialog")); }

    // Types both names as a user would and presses the convert button.
    void Convert(const QString& stl, const QString& raw) {
        QTest::keyClicks(StlField(), stl);
        QTest::keyClicks(RawField(), raw);
        QTest::mouseClick(Button(), Qt::LeftButton);
    }

    TErrorDisplay errors;
    TfrmMain form;
};

// Runs action on the next modal widget of type T once it is up (a modal
// dialog blocks the test until something closes it).
template <typename T> void WhenModal(std::function<void(T*)> action, int triesLeft = 500) {
    QTimer::singleShot(10, [action = std::move(action), triesLeft]() mutable {
        auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
        if (modal != nullptr && modal->isVisible())
            action(modal);
        else if (triesLeft > 0)
            WhenModal<T>(std::move(action), triesLeft - 1);
    });
}

// Every file under a folder with its bytes, to show that nothing was touched.
QMap<QString, QByteArray> Snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = it.next();
        QFile file(name);
        files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

QByteArray ReadAll(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& name, const QByteArray& bytes) {
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void AppendSingle(QByteArray& bytes, float value) {
    char little[4];
    qToLittleEndian(std::bit_cast<quint32>(value), little);
    bytes.append(little, 4);
}

// A binary STL of count facets, triangles in the plane z = 0 spread along x.
QByteArray BinaryStl(int count) {
    QByteArray bytes(80, ' ');
    bytes.replace(0, 12, "binary strip");
    char little[4];
    qToLittleEndian(static_cast<quint32>(count), little);
    bytes.append(little, 4);
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(i) * 0.375f;
        const float normalAndCorners[] = {0.0f,     0.0f, 1.0f, x, 0.0f, 0.0f,
                                          x + 1.0f, 0.0f, 0.0f, x, 1.5f, 0.0f};
        for (const float value : normalAndCorners)
            AppendSingle(bytes, value);
        bytes.append(2, '\0');
    }
    return bytes;
}

// A text STL of count facets, triangles on a staircase.
QByteArray TextStl(int count) {
    QByteArray text = "solid stairs\n";
    for (int i = 0; i < count; ++i) {
        const QByteArray step = QByteArray::number(i);
        text += "  facet normal 0 0 1\n    outer loop\n";
        text += "      vertex " + step + " 0 " + step + "\n";
        text += "      vertex " + step + ".5 0 " + step + "\n";
        text += "      vertex " + step + " 2.25 " + step + "\n";
        text += "    endloop\n  endfacet\n";
    }
    return text + "endsolid stairs\n";
}

// A drop of urls as the window system delivers it from a file manager that
// offers them as text too: first the entry, then the drop itself. Returns
// whether each was accepted.
std::pair<bool, bool> Drop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QStringList lines;
    for (const QUrl& url : urls)
        lines.append(url.toString());
    data.setText(lines.join(QLatin1Char('\n')));
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(target, &drop);
    return {enter.isAccepted(), drop.isAccepted()};
}

// A name of exactly length characters inside folder.
QString NameOfLength(const QString& folder, qsizetype length) {
    const QString start = folder + QLatin1Char('/');
    return start + QString(length - start.size(), QLatin1Char('r'));
}

// Limits the size of files this process writes until destroyed; a write past
// the limit fails with EFBIG instead of raising SIGXFSZ.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = limit;
        ok = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
    bool ok = false;

private:
    rlimit saved{};
    void (*oldHandler)(int) = SIG_DFL;
};

// Makes this thread check file permissions as another user and group until
// destroyed, which root's permission override would otherwise skip.
class TFileSystemUser {
public:
    TFileSystemUser(uid_t uid, gid_t gid)
        : savedUid(static_cast<uid_t>(::setfsuid(uid))),
          savedGid(static_cast<gid_t>(::setfsgid(gid))) {
        ok = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == uid &&
             static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == gid;
    }
    ~TFileSystemUser() {
        ::setfsgid(savedGid);
        ::setfsuid(savedUid);
    }
    TFileSystemUser(const TFileSystemUser&) = delete;
    TFileSystemUser& operator=(const TFileSystemUser&) = delete;
    bool ok = false;

private:
    uid_t savedUid;
    gid_t savedGid;
};

class TThrowingObject final : public QObject {
public:
    explicit TThrowingObject(std::function<void()> aRaise) : raise(std::move(aRaise)) {}
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            raise();
        return QObject::event(event);
    }

private:
    std::function<void()> raise;
};

} // namespace

class TMainFormTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir temp;
    QString Path(const QString& name) const { return temp.path() + QLatin1Char('/') + name; }

private slots:
    void initTestCase() {
        QVERIFY(temp.isValid());
        QVERIFY(WriteAll(Path(QStringLiteral("cube.stl")), BinaryStl(260)));
        QVERIFY(WriteAll(Path(QStringLiteral("block.stl")), TextStl(12)));
        QVERIFY(WriteAll(Path(QStringLiteral("empty.stl")), {}));
        QVERIFY(QDir(temp.path()).mkdir(QStringLiteral("models")));
        QVERIFY(QDir(temp.path()).mkdir(QStringLiteral("out")));
        QVERIFY(
            QFile::link(Path(QStringLiteral("missing.stl")), Path(QStringLiteral("dangling.stl"))));
        QVERIFY(
            QFile::link(Path(QStringLiteral("models")), Path(QStringLiteral("folderlink.stl"))));
        QVERIFY(
            QFile::link(Path(QStringLiteral("cube.stl")), Path(QStringLiteral("cubelink.raw"))));
    }

    void cleanup() {
        // Each test writes its RAW files here, and they must not leak into the next.
        QDir out(Path(QStringLiteral("out")));
        QVERIFY(out.removeRecursively());
        QVERIFY(QDir(temp.path()).mkdir(QStringLiteral("out")));
    }

    void StartsWithCaptionEmptyFieldsAndFocusOnButton() {
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());

        QCOMPARE(frmMain, &window.form);
        QCOMPARE(window.form.windowTitle(), QStringLiteral("Trimeld. (wer.: 1.0.0.0)"));
        QCOMPARE(window.StlField()->text(), QString());
        QCOMPARE(window.RawField()->text(), QString());
        QCOMPARE(QApplication::focusWidget(), window.Button());
        QVERIFY(dialogs.messages.isEmpty());

        QCOMPARE(window.form.size(), QSize(517, 213));
        QCOMPARE(window.form.minimumSize(), QSize(517, 213));
        QCOMPARE(window.form.maximumSize(), QSize(517, 213));
        const Qt::WindowFlags flags = window.form.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window.form.font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(window.form.font().pixelSize(), 11);

        QVERIFY(!window.Button()->autoDefault());
        QVERIFY(!window.Button()->isDefault());
        QCOMPARE(window.Browse()->focusPolicy(), Qt::NoFocus);
        // The installed icon, drawn: an icon the toolkit cannot draw is no icon.
        QVERIFY(!window.form.windowIcon().pixmap(32, 32).isNull());
    }

    // The button is not the window's default, yet answers Enter when it has
    // the focus, as it answers Space; Enter in a field does not press it.
    void EnterPressesOnlyTheFocusedButton_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("pressed");
        QTest::newRow("Return on the button")
            << "cmdRunConversion" << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
        QTest::newRow("keypad Enter on the button")
            << "cmdRunConversion" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
        QTest::newRow("Space on the button")
            << "cmdRunConversion" << int(Qt::Key_Space) << int(Qt::NoModifier) << true;
        QTest::newRow("Ctrl+Return on the button")
            << "cmdRunConversion" << int(Qt::Key_Return) << int(Qt::ControlModifier) << false;
        QTest::newRow("Return in the STL field")
            << "txtFileIn" << int(Qt::Key_Return) << int(Qt::NoModifier) << false;
        QTest::newRow("Return in the RAW field")
            << "txtFileOut" << int(Qt::Key_Return) << int(Qt::NoModifier) << false;
    }
    void EnterPressesOnlyTheFocusedButton() {
        QFETCH(QString, target);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, pressed);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        auto* widget = window.form.findChild<QWidget*>(target);
        QVERIFY(widget != nullptr);
        widget->setFocus();
        QCOMPARE(QApplication::focusWidget(), widget);

        QTest::keyClick(widget, static_cast<Qt::Key>(key),
                        static_cast<Qt::KeyboardModifiers>(modifiers));

        // Both fields are empty: a press shows the RAW name's message.
        QCOMPARE(dialogs.messages.size(), pressed ? 1 : 0);
        if (pressed)
            QCOMPARE(dialogs.messages[0].text, QStringLiteral("Nieprawidłowa nazwa pliku RAW."));
    }

    // The wait cursor is up while the run works and gone before the message
    // that ends it, whichever way the run ends.
    void WaitCursorOnlyWhileTheRunWorks_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<bool>("raise");
        QTest::addColumn<QString>("message");
        QTest::newRow("converted")
            << Path(QStringLiteral("out/cube.raw")) << false << "Koniec przetwarzani pliku.";
        QTest::newRow("RAW file cannot be created")
            << Path(QStringLiteral("out/nofolder/cube.raw")) << false << "I/O error 103.";
        QTest::newRow("foreign failure while creating")
            << Path(QStringLiteral("out/cube.raw")) << true << "disk gone.";
    }
    void WaitCursorOnlyWhileTheRunWorks() {
        QFETCH(QString, raw);
        QFETCH(bool, raise);
        QFETCH(QString, message);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        QList<bool> waitWhileCreating;
        window.form.SetOutputOpener([&](std::u16string_view name) {
            waitWhileCreating.append(WaitCursorShown());
            if (raise)
                throw std::runtime_error("disk gone");
            return platform::CreateOutputFile(name);
        });
        QVERIFY(!WaitCursorShown());

        window.Convert(Path(QStringLiteral("cube.stl")), raw);

        QCOMPARE(waitWhileCreating, QList<bool>{true});
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, message);
        QVERIFY(!dialogs.messages[0].waitCursor);
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        // A refused name shows its message without a wait cursor ever coming.
        window.RawField()->clear();
        QTest::mouseClick(window.Button(), Qt::LeftButton);
        QCOMPARE(waitWhileCreating.size(), 1);
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // A name given from outside the window, as "trimeld FILE" or "Open
    // with" gives it: the full path in the STL field, the RAW name proposed
    // by the browse rule over whatever the field held; nothing converted.
    void FileArgumentFillsTheNames_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("stl");
        QTest::addColumn<QString>("raw");
        QTest::newRow("full path")
            << Path(QStringLiteral("cube.stl")) << Path(QStringLiteral("cube.stl"))
            << Path(QStringLiteral("cube.raw"));
        QTest::newRow("relative to the current folder")
            << "models/../block.stl" << Path(QStringLiteral("block.stl"))
            << Path(QStringLiteral("block.raw"));
        QTest::newRow("file that does not exist, dotted folder")
            << Path(QStringLiteral("scans.old/bracket"))
            << Path(QStringLiteral("scans.old/bracket"))
            << Path(QStringLiteral("scans.old/bracket.raw"));
    }
    void FileArgumentFillsTheNames() {
        QFETCH(QString, given);
        QFETCH(QString, stl);
        QFETCH(QString, raw);
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(temp.path()));
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QTest::keyClicks(window.RawField(), QStringLiteral("by hand.raw"));

        window.form.ProposeNames(given);
        QVERIFY(QDir::setCurrent(before));

        QVERIFY(window.Show());
        QCOMPARE(window.StlField()->text(), stl);
        QCOMPARE(window.RawField()->text(), raw);
        QCOMPARE(QApplication::focusWidget(), window.Button());
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(QDir(Path(QStringLiteral("out"))).isEmpty());
    }

    // One local file dropped on the window or on either field does what the
    // file argument does; anything else dropped changes nothing.
    void DroppedFileFillsTheNames_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("taken");
        const QUrl cube = QUrl::fromLocalFile(Path(QStringLiteral("cube.stl")));
        const QUrl block = QUrl::fromLocalFile(Path(QStringLiteral("block.stl")));
        QTest::newRow("on the window") << "" << QList<QUrl>{cube} << true;
        QTest::newRow("on the STL field") << "txtFileIn" << QList<QUrl>{cube} << true;
        QTest::newRow("on the RAW field") << "txtFileOut" << QList<QUrl>{cube} << true;
        QTest::newRow("two files") << "" << QList<QUrl>{cube, block} << false;
        QTest::newRow("two files on a field") << "txtFileOut" << QList<QUrl>{cube, block} << false;
        QTest::newRow("a folder") << ""
                                  << QList<QUrl>{QUrl::fromLocalFile(
                                         Path(QStringLiteral("models")))}
                                  << false;
        QTest::newRow("a remote file")
            << "txtFileIn" << QList<QUrl>{QUrl(QStringLiteral("https://example.org/a.stl"))}
            << false;
    }
    void DroppedFileFillsTheNames() {
        QFETCH(QString, target);
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, taken);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        QTest::keyClicks(window.StlField(), QStringLiteral("typed.stl"));
        QTest::keyClicks(window.RawField(), QStringLiteral("typed.raw"));
        QWidget* widget = target.isEmpty() ? &window.form : window.form.findChild<QWidget*>(target);
        QVERIFY(widget != nullptr);
        QVERIFY(window.form.acceptDrops());

        const auto [entered, dropped] = Drop(widget, urls);

        QCOMPARE(entered, taken);
        QCOMPARE(dropped, taken);
        QCOMPARE(window.StlField()->text(),
                 taken ? Path(QStringLiteral("cube.stl")) : QStringLiteral("typed.stl"));
        QCOMPARE(window.RawField()->text(),
                 taken ? Path(QStringLiteral("cube.raw")) : QStringLiteral("typed.raw"));
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(QDir(Path(QStringLiteral("out"))).isEmpty());
    }

    // The toolkit's own texts come in Polish from its translation, when the
    // folder holds one, and stay as they are when it does not.
    void ToolkitTextsInPolishWhenTranslated() {
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        QCOMPARE(InstallToolkitTranslation(*qApp, empty.path()), nullptr);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));

        const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (!QFileInfo::exists(folder + QStringLiteral("/qtbase_pl.qm")))
            QSKIP("the toolkit's Polish translation (qt6-translations-l10n) is not installed");
        std::unique_ptr<QTranslator> translator(InstallToolkitTranslation(*qApp, folder));
        QVERIFY(translator != nullptr);
        QCOMPARE(translator->parent(), qApp);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Anuluj"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"),
                 QStringLiteral("Szukaj w:"));
        translator.reset(); // uninstalls it: the other tests expect the toolkit's own texts
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    }

    void ControlsSitWhereLaidOut_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::newRow("STL field") << "txtFileIn" << QRect(64, 32, 373, 21) << "";
        QTest::newRow("browse button") << "sbOpenSource" << QRect(440, 31, 23, 22) << "...";
        QTest::newRow("RAW field") << "txtFileOut" << QRect(64, 59, 373, 21) << "";
        QTest::newRow("convert button")
            << "cmdRunConversion" << QRect(32, 142, 449, 43) << "Konwertuj";
    }
    void ControlsSitWhereLaidOut() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        const QWidget* control = window.form.findChild<QWidget*>(name);
        QVERIFY(control != nullptr);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->property("text").toString(), text);
    }

    // The labels take the size of their text in whatever font stands in for
    // the one asked for; they must show it whole and stay clear of the fields.
    void LabelsShowTheirWholeText_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<QString>("text");
        QTest::newRow("STL label") << "Label1" << QPoint(8, 32) << "PlikSTL:";
        QTest::newRow("RAW label") << "Label2" << QPoint(8, 62) << "Plik RAW:";
    }
    void LabelsShowTheirWholeText() {
        QFETCH(QString, name);
        QFETCH(QPoint, position);
        QFETCH(QString, text);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        const QLabel* label = window.form.findChild<QLabel*>(name);
        QVERIFY(label != nullptr);
        QCOMPARE(label->text(), text);
        QCOMPARE(label->pos(), position);
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(text));
        QVERIFY(label->height() >= label->fontMetrics().height());
        QVERIFY(label->geometry().right() < 64);
    }

    void TabGoesButtonStlFieldRawField() {
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        const QList<QWidget*> expected = {window.StlField(), window.RawField(), window.Button(),
                                          window.StlField()};
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // The browse button is clicked without taking the focus.
        QTest::mouseClick(window.Browse(), Qt::LeftButton);
        QCOMPARE(dialogs.showings, 1);
        QCOMPARE(QApplication::focusWidget(), window.StlField());
    }

    void EnterInAFieldDoesNotConvert() {
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        const QString raw = Path(QStringLiteral("out/cube.raw"));
        QTest::keyClicks(window.StlField(), Path(QStringLiteral("cube.stl")));
        QTest::keyClicks(window.RawField(), raw);
        QTest::keyClick(window.RawField(), Qt::Key_Return);
        QTest::keyClick(window.RawField(), Qt::Key_Enter);
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(!QFileInfo::exists(raw));
    }

    void CentredPosition_data() {
        QTest::addColumn<QRect>("desktop");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("one monitor")
            << QRect(0, 0, 1024, 768) << QSize(525, 242) << QPoint(249, 263);
        QTest::newRow("monitor left of the primary")
            << QRect(-1280, 0, 3200, 1080) << QSize(525, 242) << QPoint(57, 419);
        QTest::newRow("desktop smaller than the window")
            << QRect(-10, 20, 400, 200) << QSize(525, 242) << QPoint(-10, 20);
    }
    void CentredPosition() {
        QFETCH(QRect, desktop);
        QFETCH(QSize, frame);
        QFETCH(QPoint, expected);
        QCOMPARE(detail::CentredPosition(desktop, frame), expected);
    }

    // The window is placed before the window system tells the size of its
    // frame, and placed again once it does: centred with the frame, never
    // left of or above the desktop.
    void ShowsCentredOnTheDesktop() {
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
        const QRect frame = window.form.frameGeometry();
        QVERIFY2(frame.size() != window.form.size(), "the window system here draws no frame");
        QCOMPARE(frame.topLeft(), detail::CentredPosition(desktop, frame.size()));
        QVERIFY(frame.left() >= desktop.left());
        QVERIFY(frame.top() >= desktop.top());
    }

    // The RAW name is checked first, then the STL name, then whether the two
    // are one file; a failed check shows its message and touches nothing.
    void ConvertChecksNamesInOrder_data() {
        QTest::addColumn<QString>("stl");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("message");
        const QString badRaw = QStringLiteral("Nieprawidłowa nazwa pliku RAW.");
        const QString badStl = QStringLiteral("Nieprawidłowa nazwa pliku STL.");
        const QString raw = Path(QStringLiteral("out/new.raw"));
        const QString cube = Path(QStringLiteral("cube.stl"));
        QTest::newRow("both empty") << ""
                                    << "" << badRaw;
        QTest::newRow("blank RAW name, STL not examined")
            << Path(QStringLiteral("missing.stl")) << "   " << badRaw;
        QTest::newRow("empty STL name") << "" << raw << badStl;
        QTest::newRow("missing STL file") << Path(QStringLiteral("missing.stl")) << raw << badStl;
        QTest::newRow("STL name is a folder") << Path(QStringLiteral("models")) << raw << badStl;
        QTest::newRow("dangling link") << Path(QStringLiteral("dangling.stl")) << raw << badStl;
        QTest::newRow("link to a folder")
            << Path(QStringLiteral("folderlink.stl")) << raw << badStl;
        QTest::newRow("STL name taken as typed") << cube + QLatin1Char(' ') << raw << badStl;
        QTest::newRow("RAW name is the STL file") << cube << cube << badRaw;
        QTest::newRow("RAW name spells the STL file otherwise")
            << cube << Path(QStringLiteral("models/../cube.stl")) << badRaw;
        QTest::newRow("RAW name links to the STL file")
            << cube << Path(QStringLiteral("cubelink.raw")) << badRaw;
    }
    void ConvertChecksNamesInOrder() {
        QFETCH(QString, stl);
        QFETCH(QString, raw);
        QFETCH(QString, message);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        const QMap<QString, QByteArray> before = Snapshot(temp.path());

        window.Convert(stl, raw);

        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, message);
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Trimeld."));
        QCOMPARE(dialogs.messages[0].icon, QMessageBox::NoIcon);
        QVERIFY(Snapshot(temp.path()) == before);
        // The command reads the fields and never writes them.
        QCOMPARE(window.StlField()->text(), stl);
        QCOMPARE(window.RawField()->text(), raw);
    }

    void ConvertsStlEndToEnd_data() {
        QTest::addColumn<QString>("stl");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("lines");
        QTest::newRow("binary STL")
            << Path(QStringLiteral("cube.stl")) << Path(QStringLiteral("out/cube.raw")) << 260;
        QTest::newRow("text STL") << Path(QStringLiteral("block.stl"))
                                  << Path(QStringLiteral("out/block.raw")) << 12;
        QTest::newRow("empty STL file")
            << Path(QStringLiteral("empty.stl")) << Path(QStringLiteral("out/empty.raw")) << 0;
        QTest::newRow("RAW name of 259 characters")
            << Path(QStringLiteral("block.stl")) << NameOfLength(Path(QStringLiteral("out")), 259)
            << 12;
    }
    void ConvertsStlEndToEnd() {
        QFETCH(QString, stl);
        QFETCH(QString, raw);
        QFETCH(int, lines);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        // An existing RAW file is replaced without a question.
        QVERIFY(WriteAll(raw, QByteArrayLiteral("old content\r\n")));

        window.Convert(stl, raw);

        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Koniec przetwarzani pliku."));
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Trimeld."));
        QCOMPARE(dialogs.messages[0].icon, QMessageBox::NoIcon);
        const QByteArray written = ReadAll(raw);
        QCOMPARE(written.count("\r\n"), lines);
        QCOMPARE(written.count('\n'), lines);
        QVERIFY(written.isEmpty() || written.endsWith("\r\n"));

        // A second press does the whole run again, from scratch.
        QTest::mouseClick(window.Button(), Qt::LeftButton);
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(dialogs.messages[1].text, QStringLiteral("Koniec przetwarzani pliku."));
        QCOMPARE(ReadAll(raw), written);
    }

    // Failures of a run reach the error display: its own text with a final
    // ".", the application title as caption, the error icon.
    void RunFailuresReachTheErrorDisplay_data() {
        QTest::addColumn<QString>("stl");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("rawLeft");
        const QString cube = Path(QStringLiteral("cube.stl"));
        const QString noFolder = Path(QStringLiteral("out/nofolder/cube.raw"));
        QTest::newRow("folder of the RAW file missing")
            << cube << noFolder << "I/O error 103." << false;
        // Without the check right after creating the writer, no triangle
        // would ever meet the missing file and the run would end "normally".
        QTest::newRow("folder of the RAW file missing, empty STL file")
            << Path(QStringLiteral("empty.stl")) << noFolder << "I/O error 103." << false;
        const QString tooLong = NameOfLength(Path(QStringLiteral("out")), 260);
        QTest::newRow("RAW name of 260 characters")
            << cube << tooLong << QStringLiteral("Invalid file name - %1.").arg(tooLong) << false;
        QTest::newRow("disk full") << cube << "/dev/full"
                                   << "I/O error 28." << true;
        // open() refuses a socket even to root, while it counts as a file.
        QTest::newRow("STL file that cannot be opened")
            << Path(QStringLiteral("socket.stl")) << Path(QStringLiteral("out/socket.raw"))
            << QStringLiteral("Cannot open file \"%1\". No such device or address.")
                   .arg(Path(QStringLiteral("socket.stl")))
            << true;
    }
    void RunFailuresReachTheErrorDisplay() {
        QFETCH(QString, stl);
        QFETCH(QString, raw);
        QFETCH(QString, message);
        QFETCH(bool, rawLeft);
        const QString socketName = Path(QStringLiteral("socket.stl"));
        if (stl == socketName && !QFileInfo::exists(socketName))
            QVERIFY(MakeSocket(socketName));
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());

        window.Convert(stl, raw);

        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, message);
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("trimeld"));
        QCOMPARE(dialogs.messages[0].icon, QMessageBox::Critical);
        QCOMPARE(QFileInfo::exists(raw), rawLeft);
        if (rawLeft && raw != QStringLiteral("/dev/full"))
            QCOMPARE(QFileInfo(raw).size(), 0);
    }

    void UnreadableStlFileShowsPermissionDenied() {
        // A folder that another user may search and write in: root's own
        // reads ignore permissions, so as root the run checks them as nobody.
        QTemporaryDir shared;
        QVERIFY(shared.isValid());
        const QFileDevice::Permissions everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                  QFileDevice::ReadOther | QFileDevice::WriteOther;
        QVERIFY(QFile::setPermissions(shared.path(), everyone | QFileDevice::ExeOwner |
                                                         QFileDevice::ExeGroup |
                                                         QFileDevice::ExeOther));
        const QString stl = shared.path() + QStringLiteral("/locked.stl");
        const QString raw = shared.path() + QStringLiteral("/locked.raw");
        QVERIFY(QFile::copy(Path(QStringLiteral("block.stl")), stl));
        QVERIFY(QFile::setPermissions(stl, {}));
        QVERIFY(WriteAll(raw, QByteArrayLiteral("old content\r\n")));
        QVERIFY(QFile::setPermissions(raw, everyone));
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        QTest::keyClicks(window.StlField(), stl);
        QTest::keyClicks(window.RawField(), raw);
        {
            std::optional<TFileSystemUser> nobody;
            if (::geteuid() == 0) {
                nobody.emplace(65534, 65534);
                if (!nobody->ok)
                    QSKIP("cannot check file permissions as another user here");
            }
            const int probe = ::open(QFile::encodeName(stl).constData(), O_RDONLY);
            if (probe >= 0) {
                ::close(probe);
                QSKIP("a file without permissions can still be read here");
            }
            QTest::mouseClick(window.Button(), Qt::LeftButton);
        }
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text,
                 QStringLiteral("Cannot open file \"%1\". Permission denied.").arg(stl));
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("trimeld"));
        QCOMPARE(dialogs.messages[0].icon, QMessageBox::Critical);
        // The RAW file was emptied before the STL file was opened.
        QCOMPARE(QFileInfo(raw).size(), 0);
    }

    // A last block that cannot be written when the RAW file is closed must
    // not end in the success message.
    void LastBlockLostAtCloseIsReported() {
        const QString stl = Path(QStringLiteral("cube.stl"));
        const QString whole = Path(QStringLiteral("out/whole.raw"));
        const QString cut = Path(QStringLiteral("out/cut.raw"));
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        window.Convert(stl, whole);
        QCOMPARE(dialogs.messages.size(), 1);
        const qint64 size = QFileInfo(whole).size();
        QVERIFY2(size % 128 != 0, "the last block must be a partial one");
        const qint64 fullBlocks = size - size % 128;

        window.RawField()->selectAll();
        QTest::keyClicks(window.RawField(), cut);
        {
            // Every full block fits below the limit; the partial last one,
            // written only at closing, does not.
            TFileSizeLimit limit(static_cast<rlim_t>(fullBlocks));
            QVERIFY(limit.ok);
            QTest::mouseClick(window.Button(), Qt::LeftButton);
        }
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(dialogs.messages[1].text, QStringLiteral("I/O error 27."));
        QCOMPARE(dialogs.messages[1].caption, QStringLiteral("trimeld"));
        QCOMPARE(dialogs.messages[1].icon, QMessageBox::Critical);
        QCOMPARE(QFileInfo(cut).size(), fullBlocks);
    }

    void StaysUsableAfterAFailure() {
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        window.Convert(Path(QStringLiteral("block.stl")),
                       Path(QStringLiteral("out/nofolder/x.raw")));
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("I/O error 103."));

        QVERIFY(window.form.isVisible());
        QVERIFY(window.form.isEnabled());
        window.RawField()->selectAll();
        QTest::keyClicks(window.RawField(), Path(QStringLiteral("out/x.raw")));
        QTest::mouseClick(window.Button(), Qt::LeftButton);
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(dialogs.messages[1].text, QStringLiteral("Koniec przetwarzani pliku."));
    }

    // The application's event dispatch shows what escapes a handler.
    void DispatchShowsEscapingFailures_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("foreign");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "abc" << false << "abc.";
        QTest::newRow("digit") << "I/O error 103" << false << "I/O error 103.";
        QTest::newRow("full stop") << "abc." << false << "abc.";
        QTest::newRow("parenthesis") << "abc)" << false << "abc)"; // ")" is below "."
        QTest::newRow("blank") << "abc " << false << "abc ";
        QTest::newRow("slash") << "abc/" << false << "abc/."; // "/" is just above "."
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("non-ASCII end") << "błąd" << false << "błąd.";
        QTest::newRow("standard exception") << "bad allocation" << true << "bad allocation.";
    }
    void DispatchShowsEscapingFailures() {
        QFETCH(QString, text);
        QFETCH(bool, foreign);
        QFETCH(QString, shown);
        TRecordingDialogs dialogs;
        const TErrorDisplay display(dialogs, u"trimeld");
        TThrowingObject receiver([&] {
            if (foreign)
                throw std::runtime_error(text.toStdString());
            throw TTrimeldError(text.toStdU16String());
        });
        QEvent event(QEvent::User);

        QVERIFY(!NotifyShowingErrors(*qApp, &receiver, &event, display));

        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, shown);
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("trimeld"));
        QCOMPARE(dialogs.messages[0].icon, QMessageBox::Critical);
    }

    void PathRules_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("raw");
        QTest::newRow("folder and file") << "/models/part.stl"
                                         << "/models"
                                         << "/models/part.raw";
        QTest::newRow("root keeps its slash") << "/part.stl"
                                              << "/"
                                              << "/part.raw";
        QTest::newRow("no folder") << "part.stl"
                                   << ""
                                   << "part.raw";
        QTest::newRow("empty") << ""
                               << ""
                               << ".raw";
        QTest::newRow("dot in a folder, none in the file") << "/scans.old/bracket"
                                                           << "/scans.old"
                                                           << "/scans.old/bracket.raw";
        QTest::newRow("last dot only") << "bracket.tar.stl"
                                       << ""
                                       << "bracket.tar.raw";
        QTest::newRow("upper-case extension") << "/scans/bracket.STL"
                                              << "/scans"
                                              << "/scans/bracket.raw";
        QTest::newRow("final dot") << "/models/part."
                                   << "/models"
                                   << "/models/part.raw";
        QTest::newRow("folder named like a file") << "/home/a.b/part"
                                                  << "/home/a.b"
                                                  << "/home/a.b/part.raw";
        QTest::newRow("relative folder") << "models/part.stl"
                                         << "models"
                                         << "models/part.raw";
        QTest::newRow("backslash is no separator") << "C:\\models\\part.stl"
                                                   << ""
                                                   << "C:\\models\\part.raw";
        QTest::newRow("doubled slash at the root") << "//part.stl"
                                                   << "/"
                                                   << "//part.raw";
    }
    void PathRules() {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(QString, raw);
        QCOMPARE(QString::fromStdU16String(InitialFolder(name.toStdU16String())), folder);
        QCOMPARE(QString::fromStdU16String(trimeld::ChangeFileExtToRaw(name.toStdU16String())),
                 raw);
    }

    void BrowseStartsInTheStlFolder_data() {
        QTest::addColumn<QString>("stl");
        QTest::addColumn<QString>("folder"); // empty: where the dialog would start anyway
        QTest::newRow("file in a folder")
            << Path(QStringLiteral("models/part.stl")) << Path(QStringLiteral("models"));
        QTest::newRow("file at the root") << "/part.stl"
                                          << "/";
        QTest::newRow("no folder") << "part.stl"
                                   << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void BrowseStartsInTheStlFolder() {
        QFETCH(QString, stl);
        QFETCH(QString, folder);
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        if (folder.isEmpty())
            folder = window.OpenDialog()->directory().absolutePath();
        QTest::keyClicks(window.StlField(), stl);
        QTest::keyClicks(window.RawField(), QStringLiteral("by hand.raw"));

        QTest::mouseClick(window.Browse(), Qt::LeftButton); // cancelled

        QCOMPARE(dialogs.showings, 1);
        QCOMPARE(dialogs.shownFolder, folder);
        QCOMPARE(window.StlField()->text(), stl);
        QCOMPARE(window.RawField()->text(), QStringLiteral("by hand.raw"));
        QVERIFY(dialogs.messages.isEmpty());
    }

    void BrowseFillsStlAndProposesRaw_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("raw");
        QTest::newRow("extension replaced") << "/scans/bracket.STL"
                                            << "/scans/bracket.raw";
        QTest::newRow("extension added") << "/scans.old/bracket"
                                         << "/scans.old/bracket.raw";
    }
    void BrowseFillsStlAndProposesRaw() {
        QFETCH(QString, chosen);
        QFETCH(QString, raw);
        TRecordingDialogs dialogs;
        dialogs.answer = [&](QFileDialog&) { return chosen; };
        TWindow window(dialogs);
        QVERIFY(window.Show());
        QTest::keyClicks(window.RawField(), QStringLiteral("by hand.raw"));

        QTest::mouseClick(window.Browse(), Qt::LeftButton);

        QCOMPARE(window.StlField()->text(), chosen);
        QCOMPARE(window.RawField()->text(), raw);
        QVERIFY(dialogs.messages.isEmpty());
    }

    // The open-file dialog comes back with the file type and the file of the
    // last confirmed choice; a cancelled showing leaves both as they were.
    void BrowseRemembersLastConfirmedChoice() {
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        // The toolkit folds the blank that ends the first description into the one
        // before the patterns.
        const QStringList filters = {QStringLiteral("STL (*.stl)"), QStringLiteral("*.* (*)")};
        QCOMPARE(window.OpenDialog()->nameFilters(), filters);
        QCOMPARE(window.OpenDialog()->fileMode(), QFileDialog::AnyFile);
        QCOMPARE(window.OpenDialog()->defaultSuffix(), QString());
        const QString first = Path(QStringLiteral("models/first.stl"));
        const QString second = Path(QStringLiteral("second.stl"));

        dialogs.answer = [&](QFileDialog& dialog) -> std::optional<QString> {
            dialog.selectNameFilter(filters[1]);
            return first;
        };
        QTest::mouseClick(window.Browse(), Qt::LeftButton);
        QCOMPARE(dialogs.shownFilter, filters[0]);
        QCOMPARE(dialogs.shownFiles, QStringList{dialogs.shownFolder}); // no file name yet

        dialogs.answer = [&](QFileDialog& dialog) -> std::optional<QString> {
            dialog.selectNameFilter(filters[0]);
            dialog.selectFile(second);
            return std::nullopt;
        };
        QTest::mouseClick(window.Browse(), Qt::LeftButton);
        QCOMPARE(dialogs.shownFilter, filters[1]);
        QCOMPARE(dialogs.shownFiles, QStringList{first});

        QTest::mouseClick(window.Browse(), Qt::LeftButton);
        QCOMPARE(dialogs.showings, 3);
        QCOMPARE(dialogs.shownFilter, filters[1]);
        QCOMPARE(dialogs.shownFiles, QStringList{first});
        QCOMPARE(window.StlField()->text(), first);
    }

    // The toolkit's message box, read while it is up.
    void RealMessageBoxShowsTextCaptionAndIcon_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::newRow("command message") << ""
                                         << "Nieprawidłowa nazwa pliku RAW."
                                         << "Trimeld." << QMessageBox::NoIcon;
        QTest::newRow("error display") << Path(QStringLiteral("out/no/x.raw")) << "I/O error 103."
                                       << "trimeld" << QMessageBox::Critical;
    }
    void RealMessageBoxShowsTextCaptionAndIcon() {
        QFETCH(QString, raw);
        QFETCH(QString, text);
        QFETCH(QString, caption);
        QFETCH(QMessageBox::Icon, icon);
        TQtDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        struct {
            bool seen = false;
            QString text, caption;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            QMessageBox::StandardButtons buttons;
            Qt::TextFormat format = Qt::AutoText;
            QWidget* owner = nullptr;
            Qt::WindowModality modality = Qt::NonModal;
        } box;
        WhenModal<QMessageBox>([&](QMessageBox* shown) {
            box = {true,
                   shown->text(),
                   shown->windowTitle(),
                   shown->icon(),
                   shown->standardButtons(),
                   shown->textFormat(),
                   shown->parentWidget(),
                   shown->windowModality()};
            QTest::mouseClick(shown->button(QMessageBox::Ok), Qt::LeftButton);
        });

        window.Convert(Path(QStringLiteral("block.stl")), raw);

        QVERIFY(box.seen);
        QCOMPARE(box.text, text);
        QCOMPARE(box.caption, caption);
        QCOMPARE(box.icon, icon);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.format, Qt::PlainText);
        QCOMPARE(box.owner, &window.form);
        QCOMPARE(box.modality, Qt::ApplicationModal);
    }

    // The toolkit's open-file dialog: a typed name of a file that does not
    // exist is accepted as it stands, without an extension added.
    void RealFileDialogAcceptsANewName() {
        TQtDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        QTest::keyClicks(window.StlField(), Path(QStringLiteral("models/part.stl")));
        struct {
            bool seen = false;
            QString folder, filter, title;
        } dialog;
        WhenModal<QFileDialog>([&](QFileDialog* shown) {
            dialog = {true, shown->directory().absolutePath(), shown->selectedNameFilter(),
                      shown->windowTitle()};
            QWidget* nameField = QApplication::focusWidget();
            if (qobject_cast<QLineEdit*>(nameField) == nullptr)
                nameField = shown->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QTest::keyClicks(nameField, QStringLiteral("new part"));
            QTest::keyClick(nameField, Qt::Key_Return);
        });

        QTest::mouseClick(window.Browse(), Qt::LeftButton);

        QVERIFY(dialog.seen);
        QCOMPARE(dialog.folder, Path(QStringLiteral("models")));
        QCOMPARE(dialog.filter, QStringLiteral("STL (*.stl)"));
        QVERIFY(!dialog.title.contains(QStringLiteral("Trimeld")));
        QCOMPARE(window.StlField()->text(), Path(QStringLiteral("models/new part")));
        QCOMPARE(window.RawField()->text(), Path(QStringLiteral("models/new part.raw")));
    }

    // Last: once the application's loop has ended, it is not started again.
    void ClosingTheWindowEndsTheLoopWithZero() {
        TRecordingDialogs dialogs;
        TWindow window(dialogs);
        QVERIFY(window.Show());
        QTimer::singleShot(0, &window.form, [&] { window.form.close(); });
        // Ends a loop that the closed window failed to end.
        QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window.form.isVisible());
    }

private:
    static bool MakeSocket(const QString& name) {
        const QByteArray path = QFile::encodeName(name);
        sockaddr_un address{};
        if (static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
            return false;
        address.sun_family = AF_UNIX;
        std::copy(path.begin(), path.end(), address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0)
            return false;
        const bool bound =
            ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return bound;
    }
};

} // namespace trimeld::detail

QTEST_MAIN(trimeld::detail::TMainFormTest)
#include "MainFormTest.moc"
