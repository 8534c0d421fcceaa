// Starting Kavro. Apart from the rest of the bridge, so that a program that drives another
// process needs no child process layer.
#include "engine/engine.h"

bool launch_kavro() {
    kavro_process = launch_child("winkavro.exe");
    if (kavro_process == nullptr) {
        report_last_error("CreateProcess");
        return true;
    }
    // Kavro needs time to set itself up before its memory means anything.
    pause_ms(2000);
    return false;
}
