// winkavro.exe: the stand-in engine the server drives through its memory.
#include "standin/standin.h"

int main() {
    return run_standin();
}
