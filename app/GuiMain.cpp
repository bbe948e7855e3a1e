#include "app/MainForm.h"

#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QStringList>

#include "TrimeldVersion.h"

// The program: the application object, the main window, the message loop.
// Closing the window ends the loop, and the program, with exit code 0.
// "trimeld FILE" opens with the names proposed for FILE, as a desktop's
// "Open with" does; nothing is converted until the button is pressed.
int main(int argc, char* argv[]) {
    trimeld::TApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(trimeld::cVERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral("trimeld"));

    // Read before the toolkit's Polish texts are installed, so that the
    // help stays in one language.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Converts STL triangle meshes into RAW text files."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("STL"), QStringLiteral("The STL file to fill in; its RAW name is proposed."),
        QStringLiteral("[STL]"));
    parser.process(app);
    const QStringList files = parser.positionalArguments();

    trimeld::detail::InstallToolkitTranslation(app,
                                               QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    trimeld::TfrmMain window(app.Dialogs(), app.ErrorDisplay());
    if (!files.isEmpty())
        window.ProposeNames(files.first());
    window.show();
    return trimeld::TApplication::exec();
}
