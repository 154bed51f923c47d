// The device handle's life: creating it on a port (open, configure,
// identify), releasing it, probing a port for an instrument, and scanning
// the machine's ports.
#pragma once

#include <cstdint>

#include "ca410.h"

// The identification text that creation and the probe write themselves.
constexpr const char CA_IDENTIFY_FRAME[] = "IDO,0,1\r";
// What a CA-410 answers it with, before anything else.
constexpr const char CA_IDENTIFY_PREFIX[] = "OK00,CA-410,";

// A new handle on `port` with its port open and configured and the
// instrument identified, or null after logging why (nothing is left open).
ca410_dev *ca410_dev_create(const char *port);
// Closes the port and frees the handle and its channel list; null is fine.
void ca410_dev_release(ca410_dev *handle);
// Frees a channel list entry by entry from `first` (may be null); returns
// how many entries there were.
int ca410_list_free(ca410_callist_entry *first);

// Configures `sercom` for the instrument and asks it to identify itself.
// Returns 0 when a CA-410 answered, -1 when something else answered, or the
// serial status bits of a failed setup or exchange. Leaves the port open.
int32_t ser_com_check_ca410(ser_com *sercom);

// Probes every serial port the platform lists and stores heap copies of the
// names on which a CA-410 answered into names[0..max_names-1] (the caller
// frees them with free()); `*num_found` receives their number. Every listed
// port is probed and closed again, also once `names` is full. Returns 0, or
// -1 for a null `names`/`num_found` or `max_names` below 1.
int32_t ca410_dev_scan(char **names, int32_t max_names, int32_t *num_found);

// Whether the scan probes a listed port name. Windows lists every kind of
// serial device, so only names containing "COM" are taken there; the POSIX
// listing holds nothing but serial device paths.
bool ca410_scan_name_is_candidate(const char *name, bool require_com);
// The rule of the platform the library is built for.
extern const bool ca410_scan_requires_com;
