// kavro-dxp: the DamExchange server that lets one DXP client play Kavro.
#include <cstdio>

#include "control/control.h"
#include "engine/engine.h"

int main(int argc, char** argv) {
    setup_line_output();
    stop_on_interrupt("Interrupted (Ctrl-C); server stopped.\n");
    if (handle_arguments(argc, argv)) return 0;
    fill_bit_count_table();
    build_ray_table();
    if (launch_kavro()) fatal_stop();
    if (!options.skip_engine_test && test_kavro_at_start()) give_up_on_kavro();
    if (create_event_queue(on_event_queue_created)) give_up_on_kavro();
    run_event_loop(dispatch_dxp_event);
}
