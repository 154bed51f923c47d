// Built-in standard observers: the colour-matching functions x̄, ȳ, z̄ as
// spectra, chosen by an observer type.
#pragma once

#include <cstdint>

#include "cmat/xsp.h"

// Names an observer. Any value may be passed; the ones below are known.
using observer_type = int32_t;

constexpr observer_type observer_default = 0;      // the CIE 1931 2 degree observer
constexpr observer_type observer_none = 1;         // no table
constexpr observer_type observer_custom = 2;       // the converter takes the caller's tables
constexpr observer_type observer_cie_1931_2 = 3;   // CIE 1931 2 degree
constexpr observer_type observer_cie_1964_10 = 4;  // CIE 1964 10 degree
constexpr observer_type observer_cie_2012_2 = 5;   // named, but no table is built in
constexpr observer_type observer_cie_2012_10 = 6;  // named, but no table is built in

// x̄, ȳ, z̄ from 360 nm to 830 nm at 1 nm (471 samples each, norm 1.0), the
// values of the published CIE tables. Generated: see observer_tables.cpp.
extern const xspect ob_CIE_1931_2[3];
extern const xspect ob_CIE_1964_10[3];

// Stores the addresses of the three built-in tables of `type` in `tables` and
// returns 0; returns 1 and leaves `tables` untouched when `type` has none
// (or `tables` is null).
int32_t standardObserver(const xspect *tables[3], observer_type type);

// The observer's constant description text ("Unknown observer" for a value
// outside the known ones). The name is spelt as the rest of the system uses it.
const char *stardardObserverDescription(observer_type type);
