// veltra-gui: the desktop front end of the bench. The dialog runs gNbTx and nrUeRx in the working
// directory, like the console program, and shows their console lines and results.
#include "app/ui/veltra_gui_app.h"

int main(int argc, char** argv) {
  CVeltra_GUIApp app(argc, argv);
  return app.run();
}
