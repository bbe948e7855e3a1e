#include "app/MainForm.h"

// The program: the application object, the main window, the message loop.
// Closing the window ends the loop, and the program, with exit code 0.
int main(int argc, char* argv[]) {
    trimeld::TApplication app(argc, argv);
    trimeld::TfrmMain window(app.Dialogs(), app.ErrorDisplay());
    window.show();
    return trimeld::TApplication::exec();
}
