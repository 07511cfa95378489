// The simulated devices of this folder as node kinds of the node factory:
// "ds402_drive", "io_module" and "handwheel_gateway" (in a machine
// description "canopen_ds402_drive" and so on).
//
// Options of "ds402_drive" beyond the common ones (all optional):
//   "variant"                "standard" (default), "compact" or "dual"
//   "negative_limit", "positive_limit"
//                            limit switch positions, active at and beyond them
//   "home_switch"            edge of the home switch
//   "index_spacing", "index_offset"
//                            index pulses at offset + k * spacing (4096, 0)
//   "start_position"         where the axis stands at power-on
//   "reports_gantry_phases"  0x2043 sub 14 (default true)
//   "gantry_pdo_homing"      0x6510 sub 20: takes the gantry homing control
//                            PDO (default false)
//   "position_factor_numerator", "position_factor_divisor"
//                            0x6093 sub 1 and sub 2 as stored in the drive,
//                            each above 0 (default 1 and 1)
//   "quick_stop_option_code" 0x605A at power-on: 1 or 2 end a quick stop in
//                            switch on disabled, 5 or 6 stay in quick stop
//                            active (default 6, which the kernel's
//                            resumption needs)
//   "missed_sync_limit"      interpolation periods without SYNC, while
//                            interpolation runs, before the drive faults
//                            with a sync loss (default 10)
//   "enable_from_ready_to_switch_on"
//                            leniency: enable operation from ready to switch
//                            on in one command (default true)
// Positions are signed 32-bit increments, as JSON integers or strings in
// decimal or "0x" hexadecimal. Without "software_version" the drive names
// its firmware in 0x100A; the gateway without "device_name" carries the
// name the kernel looks for.
#pragma once

namespace vantor::sim::drives {

// Adds the three kinds to the node factory; call it at start-up, before
// nodes are created or the factory's kinds are offered as station kinds.
// Only the first call registers; later ones give its result again. False
// when one of the names was taken already. A malformed drive option makes
// the creation of that node fail with the reason.
bool RegisterDeviceNodeKinds();

}  // namespace vantor::sim::drives
