#pragma once

#include <string>

namespace zidazavavide {

// The state file is read through a mapping of the file (quillmere::FileText).
// A page of it that the system cannot bring back (an I/O error on the disk,
// or the file cut short by another program while the command uses it) then
// arrives as SIGBUS instead of as a failed read, and the process would die
// with "Bus error". From this call on, such a fault ends the command as a
// failed read of the state at `state_path` would: its error line with the
// system's input/output error, status 1. Nothing is lost by stopping there:
// the state file is only ever replaced whole, so a save under way leaves at
// most its temporary, which the next save removes.
//
// Faults of any other kind keep the system's default action. The line is
// built here, so the handler itself only writes it and exits.
void report_bus_errors_as_failed_reads_of(const std::string& state_path);

}  // namespace zidazavavide
