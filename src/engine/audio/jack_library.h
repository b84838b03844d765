#pragma once
// libjack, loaded the first time a JACK function is called rather than at every start of
// either program: linked, it and the libraries behind it cost every start a few milliseconds
// (qtam-cli info, a render, the windows) that only a JACK session needs.
//
// Each name below is a function pointer of the JACK function of the same name; call it as
// `jack::jack_activate(client)`, qualified (unqualified, the names of <jack/jack.h> are seen
// too). The first call of any of them, from any thread, loads the library once. When libjack
// is not installed, jack_client_open fails as if no server answered (null, JackFailure in
// *status) and every other function returns 0, null or nothing; Available() says which.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

namespace qtam::jack {

// Loads libjack when it has not been tried yet; true when it and every function below are there.
bool Available();

// jack_client_open without its variable arguments: `serverName` is passed along as the one
// that JackServerName asks for (and ignored without that option).
extern jack_client_t* (*const jack_client_open)(const char* clientName, jack_options_t options,
                                                jack_status_t* status, const char* serverName);

// clang-format off
#define QTAM_JACK_FUNCTIONS(X) \
    X(jack_client_close) X(jack_activate) X(jack_get_client_name) X(jack_get_sample_rate) \
    X(jack_get_buffer_size) X(jack_set_process_callback) X(jack_set_xrun_callback) \
    X(jack_set_latency_callback) X(jack_set_timebase_callback) X(jack_release_timebase) \
    X(jack_on_info_shutdown) X(jack_set_error_function) X(jack_set_info_function) \
    X(jack_port_register) X(jack_port_get_buffer) X(jack_port_name) X(jack_port_by_name) \
    X(jack_port_connected_to) X(jack_port_get_latency_range) X(jack_port_set_latency_range) \
    X(jack_connect) X(jack_get_ports) X(jack_free) X(jack_frame_time) X(jack_last_frame_time) \
    X(jack_transport_query) X(jack_transport_start) X(jack_transport_stop) \
    X(jack_midi_get_event_count) X(jack_midi_event_get) X(jack_midi_event_write) \
    X(jack_midi_clear_buffer) X(jack_port_name_size)
// clang-format on

#define QTAM_JACK_DECLARE(name) extern decltype(&::name) const name;
QTAM_JACK_FUNCTIONS(QTAM_JACK_DECLARE)
#undef QTAM_JACK_DECLARE

}  // namespace qtam::jack
