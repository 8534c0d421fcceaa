// Starting Kavro, and ending it when the server gives up on it. Apart from the rest of the
// bridge, so that a program that drives another process needs no child process layer.
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

void give_up_on_kavro() {
    if (kavro_process != nullptr) {
        if (end_child(kavro_process)) {
            report_last_error("TerminateProcess");
        } else {
            print_line("The Kavro process this server started is ended.\n");
        }
    }
    fatal_stop();
}
